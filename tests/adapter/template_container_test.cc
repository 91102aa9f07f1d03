#include "template/template_container.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/engine_params.h"
#include "template/template_decode.h"
#include "template/template_encode.h"
#include "template/template_layout.h"
#include "tests/support/feature_set_fixture.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::FeatureRecordsFixture;
using testing::TraceCapture;
using Lines = std::vector<std::string>;

// An encoded record of `count` minutiae on a cols x rows grid, cut to its own length.
std::vector<uint8_t> Record(int count, int cols = 6, int rows = 4) {
  FeatureRecordsFixture set(cols, rows);
  for (int i = 0; i < count; ++i) set.Add({(7 * i) % (16 * cols), (5 * i) % (16 * rows), i});
  EngineParams params = DefaultEngineParams();
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
  FeatureRecordsFixture decoded;
  DecodeTemplate(decoded.get(), decoded.summary(), r);
  EXPECT_EQ(decoded.at(0).x, 17);
  EXPECT_EQ(decoded.at(0).y, 18);

  r = OneEntryRecord(0, 0);
  r[0] = (7 << 3) | 5;  // entries would overlap the header fields
  EXPECT_FALSE(CheckMinutiaTemplate(r));
}

std::vector<uint8_t> ContainerOf(const std::vector<std::vector<uint8_t>>& records) {
  uint8_t* blob = nullptr;
  size_t size = 0;
  for (const auto& r : records)
    EXPECT_EQ(AppendTemplateEntry(&blob, &size, r), AppendResult::kAppended);
  std::vector<uint8_t> bytes(blob, blob + size);
  std::free(blob);
  return bytes;
}

// The two scratch slots of a context, released at the end of the test.
struct Slots {
  FeatureSet* fs = nullptr;
  FeatureSummary* summary = nullptr;
  ~Slots() { FreeFeatureRecords(fs, summary); }
};

TEST(CheckTemplate, RefusesNullAndShortBlobsWithoutTrace) {
  const std::vector<uint8_t> blob = ContainerOf({Record(5)});
  TraceCapture trace;
  EXPECT_TRUE(_CheckTemplate(blob));
  EXPECT_FALSE(_CheckTemplate({}));
  EXPECT_FALSE(_CheckTemplate(std::span(blob).first(7)));
  EXPECT_TRUE(trace.messages().empty());
}

TEST(ParseTemplate, DecodesAnEntryIntoNewScratchPair) {
  const std::vector<uint8_t> record = Record(12);
  const std::vector<uint8_t> blob = ContainerOf({Record(3), record});
  Slots slots;
  TraceCapture trace;
  ASSERT_TRUE(_ParseTemplate(blob, 1, &slots.fs, &slots.summary));
  EXPECT_EQ(trace.messages(),
            (Lines{"_ParseTemplate(idx=1)\n",
                   "_ParseTemplate size@1 = " + std::to_string(record.size()) + "\n",
                   "_ParseTemplate done 1\n"}));
  ASSERT_NE(slots.fs, nullptr);
  EXPECT_EQ(slots.fs->Count, 12);
  EXPECT_EQ(slots.summary->BoundaryDensity, 33);

  // The pair is reused by the next call.
  FeatureSet* const kept = slots.fs;
  ASSERT_TRUE(_ParseTemplate(blob, 0, &slots.fs, &slots.summary));
  EXPECT_EQ(slots.fs, kept);
  EXPECT_EQ(slots.fs->Count, 3);
}

TEST(ParseTemplate, LoneHalfOfAPairIsReplacedByAWholePair) {
  const std::vector<uint8_t> blob = ContainerOf({Record(3)});
  Slots slots;
  FeatureSet* lone = nullptr;
  FeatureSummary* unused = nullptr;
  ASSERT_TRUE(AllocFeatureRecords(&lone, &unused));
  FreeFeatureRecords(nullptr, unused);
  slots.fs = lone;
  ASSERT_TRUE(_ParseTemplate(blob, 0, &slots.fs, &slots.summary));
  EXPECT_NE(slots.summary, nullptr);
  EXPECT_EQ(slots.fs->Count, 3);
}

TEST(ParseTemplate, RefusalsAndTheirTraces) {
  const std::vector<uint8_t> one = ContainerOf({Record(5)});
  struct Case {
    const char* name;
    std::vector<uint8_t> blob;
    int index;
    Lines trace;
  };
  std::vector<uint8_t> zero_length = one;
  zero_length[8] = 0;
  zero_length[9] = 0;
  std::vector<uint8_t> one_too_long = one;
  one_too_long[8] = static_cast<uint8_t>(one_too_long[8] + 1);
  std::vector<uint8_t> bad_record = one;
  bad_record[10 + 1] = 251;  // minutiae count beyond 250
  const std::string size = std::to_string(one.size() - 10);
  const std::vector<Case> cases = {
      {"null", {}, 0, {"_ParseTemplate(idx=0)\n", "_ParseTemplate abnormal parameters (null)\n"}},
      {"no count byte",
       {0, 0, 0, 0, 0},
       0,
       {"_ParseTemplate(idx=0)\n", "_ParseTemplate abnormal parameters (null)\n"}},
      {"index beyond count",
       one,
       1,
       {"_ParseTemplate(idx=1)\n", "_ParseTemplate abnormal parameters (template count=1)\n"}},
      {"negative index",
       one,
       -1,
       {"_ParseTemplate(idx=-1)\n", "_ParseTemplate abnormal parameters (template count=1)\n"}},
      {"zero length", zero_length, 0, {"_ParseTemplate(idx=0)\n", "_ParseTemplate done 0\n"}},
      {"length one too long",
       one_too_long,
       0,
       {"_ParseTemplate(idx=0)\n", "_ParseTemplate abnormal data @ 0\n",
        "_ParseTemplate done 0\n"}},
      {"structural check",
       bad_record,
       0,
       {"_ParseTemplate(idx=0)\n", "_ParseTemplate size@0 = " + size + "\n",
        "_ParseTemplate done 0\n"}},
  };
  for (const Case& c : cases) {
    Slots slots;
    TraceCapture trace;
    EXPECT_FALSE(_ParseTemplate(c.blob, c.index, &slots.fs, &slots.summary)) << c.name;
    EXPECT_EQ(trace.messages(), c.trace) << c.name;
    EXPECT_EQ(slots.fs, nullptr) << c.name;
  }
}

TEST(ParseTemplate, TruncatedContainerIsRefusedAtEveryLength) {
  const std::vector<uint8_t> a = Record(12);
  const std::vector<uint8_t> b = Record(40, 8, 8);
  const std::vector<uint8_t> blob = ContainerOf({a, b});
  const size_t end_a = 10 + a.size();
  for (size_t n = 0; n <= blob.size(); ++n) {
    auto copy = std::make_unique<uint8_t[]>(n);
    if (n > 0) std::memcpy(copy.get(), blob.data(), n);
    const std::span<const uint8_t> truncated(copy.get(), n);
    Slots slots;
    TraceCapture trace;
    EXPECT_EQ(_ParseTemplate(truncated, 0, &slots.fs, &slots.summary), n >= end_a) << n;
    trace.clear();
    EXPECT_EQ(_ParseTemplate(truncated, 1, &slots.fs, &slots.summary), n == blob.size()) << n;
    if (n >= end_a && n < blob.size()) {
      EXPECT_EQ(trace.messages()[1], "_ParseTemplate abnormal data @ 1\n") << n;
    }
  }
}

}  // namespace
}  // namespace ridgeline
