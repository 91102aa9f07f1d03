#include "adapter/template_container.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "extract/engine_params.h"
#include "match/template_decode.h"
#include "match/template_encode.h"
#include "match/template_layout.h"
#include "tests/support/feature_set_fixture.h"

namespace ridgeline {
namespace {

using testing::TestFeatureSet;

// An encoded record of `count` minutiae on a cols x rows grid, cut to its own length.
std::vector<uint8_t> Record(int count, int cols = 6, int rows = 4) {
  TestFeatureSet set(cols, rows);
  for (int i = 0; i < count; ++i) set.Add({(7 * i) % (16 * cols), (5 * i) % (16 * rows), i});
  EngineParams params{};
  InitEngineParams(&params);
  std::vector<uint8_t> buffer(1024);
  EncodeTemplate(&params, set.get(), 33, buffer);
  buffer.resize(TemplateRecordSize(buffer));
  return buffer;
}

// A container blob owned by the test, built and extended with the append rule.
class Container {
 public:
  ~Container() { std::free(blob_); }
  AppendResult Append(const std::vector<uint8_t>& record) {
    return AppendTemplateEntry(&blob_, &size_, record);
  }
  std::vector<uint8_t> bytes() const { return {blob_, blob_ + size_}; }
  uint8_t* blob() const { return blob_; }
  size_t size() const { return size_; }

 private:
  uint8_t* blob_ = nullptr;
  size_t size_ = 0;
};

// A heap copy of exactly n bytes, so that a read past the end is caught by the sanitizer.
std::unique_ptr<uint8_t[]> ExactCopy(const std::vector<uint8_t>& bytes, size_t n) {
  auto copy = std::make_unique<uint8_t[]>(n);
  if (n > 0) std::memcpy(copy.get(), bytes.data(), n);
  return copy;
}

TEST(AppendTemplateEntry, FirstEntryMakesAContainerOf10PlusLBytes) {
  const std::vector<uint8_t> record = Record(12);
  Container container;
  ASSERT_EQ(container.Append(record), AppendResult::kAppended);
  const std::vector<uint8_t> bytes = container.bytes();
  ASSERT_EQ(bytes.size(), 10 + record.size());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 1, 0xD1, 0x07,
                                  static_cast<uint8_t>(record.size() & 0xFF),
                                  static_cast<uint8_t>(record.size() >> 8)}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 10, bytes.end()), record);
}

TEST(AppendTemplateEntry, SecondEntryKeepsTheFirstByteForByte) {
  Container container;
  ASSERT_EQ(container.Append(Record(12)), AppendResult::kAppended);
  const std::vector<uint8_t> first = container.bytes();
  const std::vector<uint8_t> second = Record(30, 9, 9);
  ASSERT_EQ(container.Append(second), AppendResult::kAppended);
  const std::vector<uint8_t> bytes = container.bytes();
  ASSERT_EQ(bytes.size(), first.size() + 2 + second.size());
  EXPECT_EQ(bytes[5], 2);
  EXPECT_TRUE(std::equal(first.begin() + 6, first.end(), bytes.begin() + 6));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), bytes.end() - second.size()));
}

TEST(AppendTemplateEntry, HeaderOnlyContainerIsNotCarriedOver) {
  auto* header = static_cast<uint8_t*>(std::calloc(8, 1));
  header[5] = 7;
  uint8_t* blob = header;
  size_t size = 8;
  const std::vector<uint8_t> record = Record(3);
  ASSERT_EQ(AppendTemplateEntry(&blob, &size, record), AppendResult::kAppended);
  EXPECT_EQ(size, 10 + record.size());
  EXPECT_EQ(blob[5], 1);
  std::free(blob);
}

TEST(AppendTemplateEntry, RefusesA256thEntryAndKeepsTheContainer) {
  Container container;
  const std::vector<uint8_t> record = Record(1, 1, 1);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(container.Append(record), AppendResult::kAppended);
  const uint8_t* before = container.blob();
  const std::vector<uint8_t> bytes = container.bytes();
  EXPECT_EQ(bytes[5], 255);
  EXPECT_EQ(container.Append(record), AppendResult::kContainerFull);
  EXPECT_EQ(container.blob(), before);
  EXPECT_EQ(container.bytes(), bytes);
}

TEST(AppendTemplateEntry, RefusesARecordThatAnnouncesNothingOrTooMuch) {
  Container container;
  EXPECT_EQ(container.Append(std::vector<uint8_t>(1024, 0)), AppendResult::kBadTemplate);
  std::vector<uint8_t> record = Record(12);
  record.pop_back();
  EXPECT_EQ(container.Append(record), AppendResult::kBadTemplate);
  EXPECT_EQ(container.Append({0x45, 0}), AppendResult::kBadTemplate);
  EXPECT_EQ(container.blob(), nullptr);
}

TEST(FindContainerEntry, TruncatedContainerIsRefusedAtEveryLength) {
  Container container;
  const std::vector<uint8_t> a = Record(12);
  const std::vector<uint8_t> b = Record(40, 8, 8);
  ASSERT_EQ(container.Append(a), AppendResult::kAppended);
  ASSERT_EQ(container.Append(b), AppendResult::kAppended);
  const std::vector<uint8_t> bytes = container.bytes();
  const size_t end_a = 8 + 2 + a.size();
  const size_t end_b = end_a + 2 + b.size();
  ASSERT_EQ(bytes.size(), end_b);
  for (size_t n = 0; n <= bytes.size(); ++n) {
    const auto copy = ExactCopy(bytes, n);
    const std::span<const uint8_t> blob(copy.get(), n);
    ContainerHeader header{};
    EXPECT_EQ(ReadContainerHeader(blob, &header), n >= 8) << n;
    std::span<const uint8_t> entry;
    int bad = -1;
    ASSERT_EQ(FindContainerEntry(blob, 0, &entry, &bad), n >= end_a) << n;
    if (n >= end_a) {
      EXPECT_TRUE(CheckMinutiaTemplate(entry));
    } else {
      EXPECT_EQ(bad, 0);
    }
    ASSERT_EQ(FindContainerEntry(blob, 1, &entry, &bad), n >= end_b) << n;
    if (n >= end_b) {
      EXPECT_EQ(entry.size(), b.size());
      EXPECT_TRUE(CheckMinutiaTemplate(entry));
    } else {
      EXPECT_EQ(bad, n >= end_a ? 1 : 0) << n;
    }
    EXPECT_FALSE(FindContainerEntry(blob, 2, &entry, &bad));
  }
}

TEST(CheckMinutiaTemplate, TruncatedRecordFailsAtEveryLength) {
  for (const auto& record : {Record(12), Record(200, 10, 10), Record(100, 40, 8)}) {
    for (size_t n = 0; n < record.size(); ++n) {
      const auto copy = ExactCopy(record, n);
      ASSERT_FALSE(CheckMinutiaTemplate({copy.get(), n})) << n;
    }
    EXPECT_TRUE(CheckMinutiaTemplate(record));
  }
}

// A record of one 5-byte entry at (x, y) on a cols x rows unpacked grid.
std::vector<uint8_t> OneEntryRecord(int x, int y, int cols = 2, int rows = 2) {
  std::vector<uint8_t> r = {
      0x45, 1, static_cast<uint8_t>(0x80 | cols), static_cast<uint8_t>(rows), 0, 0, 0x55, 0x46};
  r.push_back(static_cast<uint8_t>(x >> 2));
  r.push_back(static_cast<uint8_t>(((x & 3) << 6) | (y >> 4)));
  r.push_back(static_cast<uint8_t>((y & 15) << 4));
  r.push_back(0);
  r.push_back(0);
  r.resize(r.size() + static_cast<size_t>(cols * rows), 40);
  return r;
}

TEST(CheckMinutiaTemplate, LimitsCountGridWidthAndPositions) {
  EXPECT_TRUE(CheckMinutiaTemplate(OneEntryRecord(0, 0)));
  EXPECT_TRUE(CheckMinutiaTemplate(OneEntryRecord(2 * 16 + 15, 2 * 16 + 15)));
  EXPECT_FALSE(CheckMinutiaTemplate(OneEntryRecord(2 * 16 + 16, 0)));
  EXPECT_FALSE(CheckMinutiaTemplate(OneEntryRecord(0, 2 * 16 + 16)));

  std::vector<uint8_t> r = OneEntryRecord(0, 0);
  r[2] = 0x80;  // A = 0
  EXPECT_FALSE(CheckMinutiaTemplate(r));
  r = OneEntryRecord(0, 0);
  r[3] = 0;  // B = 0
  EXPECT_FALSE(CheckMinutiaTemplate(r));
  r = OneEntryRecord(0, 0);
  r[0] = 0x46;  // entry size 6
  EXPECT_FALSE(CheckMinutiaTemplate(r));
  r = OneEntryRecord(0, 0);
  r[1] = 0;
  EXPECT_FALSE(CheckMinutiaTemplate(r));

  // 250 minutiae pass, 251 do not.
  std::vector<uint8_t> big = {0x45, 250, 0x81, 1, 0, 0, 0, 0};
  big.resize(8 + 5 * 251 + 1, 0);
  EXPECT_TRUE(CheckMinutiaTemplate(big));
  big[1] = 251;
  EXPECT_FALSE(CheckMinutiaTemplate(big));

  // A 4-byte entry stores halves: x = 2 x 16 is the limit 2 x 16 + 15 passed.
  std::vector<uint8_t> shorter = {0x44, 1, 0x81, 1, 0, 0, 0, 0, 15, 15, 0, 0, 40};
  EXPECT_TRUE(CheckMinutiaTemplate(shorter));
  shorter[8] = 16;
  EXPECT_FALSE(CheckMinutiaTemplate(shorter));
}

TEST(CheckMinutiaTemplate, SizesTheRecordWithItsOwnHeaderLength) {
  // Header length 9: the entries start one byte later, so 8 + e x n + M bytes are one short.
  std::vector<uint8_t> r = OneEntryRecord(17, 18);
  r.insert(r.begin() + 8, 0xEE);
  r[0] = (9 << 3) | 5;
  std::vector<uint8_t> short_by_one(r.begin(), r.end() - 1);
  EXPECT_FALSE(CheckMinutiaTemplate(short_by_one));
  ASSERT_TRUE(CheckMinutiaTemplate(r));
  TestFeatureSet decoded;
  DecodeTemplate(decoded.get(), decoded.summary(), r);
  EXPECT_EQ(decoded.at(0).x, 17);
  EXPECT_EQ(decoded.at(0).y, 18);

  r = OneEntryRecord(0, 0);
  r[0] = (7 << 3) | 5;  // entries would overlap the header fields
  EXPECT_FALSE(CheckMinutiaTemplate(r));
}

}  // namespace
}  // namespace ridgeline
