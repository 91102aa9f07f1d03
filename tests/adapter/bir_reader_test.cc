#include "adapter/bir_reader.h"

#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bir_builder.h"

namespace ridgeline {
namespace {

using testing::BirSpec;
using testing::BuildBir;
using testing::PutU16;
using testing::PutU32;

// Reads from an exact-size heap copy so that AddressSanitizer sees any read past the end.
SampleRecordStatus ReadExact(const std::vector<uint8_t>& bytes, size_t length,
                             SampleRecord* record) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[length == 0 ? 1 : length]);
  if (length != 0) std::memcpy(copy.get(), bytes.data(), length);
  const SampleRecordStatus status =
      ReadSampleRecord(std::span<const uint8_t>(copy.get(), length), record);
  if (status == SampleRecordStatus::kOk) {
    EXPECT_GE(record->pixels.data(), copy.get());
    EXPECT_LE(record->pixels.data() + record->pixels.size(), copy.get() + length);
    record->pixels = {};  // the copy dies here
  }
  return status;
}

TEST(ReadSampleRecord, AcceptsAWellFormedRecord) {
  BirSpec spec;
  spec.vendorBytes = 9;
  const std::vector<uint8_t> bir = BuildBir(spec);
  SampleRecord record{};
  ASSERT_EQ(ReadSampleRecord(bir, &record), SampleRecordStatus::kOk);
  EXPECT_EQ(record.width, 32);
  EXPECT_EQ(record.height, 24);
  EXPECT_EQ(record.keptLength, bir.size() - 9);
  ASSERT_EQ(record.pixels.size(), 32u * 24u);
  EXPECT_EQ(record.pixels.data(), bir.data() + testing::kTestBlockOffset + 56);
  EXPECT_EQ(record.pixels[32 * 2 + 5], spec.pixel(5, 2));
}

TEST(ReadSampleRecord, TruncatedRecordIsRefusedAtEveryLength) {
  const std::vector<uint8_t> bir = BuildBir(BirSpec{});
  SampleRecord record{};
  for (size_t length = 0; length < bir.size(); ++length) {
    EXPECT_EQ(ReadExact(bir, length, &record), SampleRecordStatus::kMalformed) << length;
  }
  EXPECT_EQ(ReadExact(bir, bir.size(), &record), SampleRecordStatus::kOk);
}

TEST(ReadSampleRecord, LyingDescriptorsAreRefused) {
  const std::vector<uint8_t> good = BuildBir(BirSpec{});
  const uint32_t block_size = static_cast<uint32_t>(good.size() - testing::kTestBlockOffset);
  struct Lie {
    size_t at;
    uint32_t value;
  };
  const Lie lies[] = {
      {4, static_cast<uint32_t>(good.size() - 47)},  // header runs past the end
      {4, 0xFFFFFFF0u},                              // header offset wraps in 32 bits
      {8, block_size + 1},                           // block runs past the end
      {8, 55},                                       // block too short for its own header
      {8, 0xFFFFFFFFu},                              // offset + size wraps in 32 bits
      {12, 0xFFFFFFF0u},                             // block offset far outside
      {12, testing::kTestBlockOffset + 1},           // block shifted: ends past the record
  };
  for (const Lie& lie : lies) {
    std::vector<uint8_t> bad = good;
    PutU32(bad, lie.at, lie.value);
    SampleRecord record{};
    EXPECT_EQ(ReadExact(bad, bad.size(), &record), SampleRecordStatus::kMalformed)
        << lie.at << " " << lie.value;
  }
}

TEST(ReadSampleRecord, HeaderMustLieInsideTheKeptPrefix) {
  // A header placed after the standard data block would not travel with the kept copy.
  BirSpec spec;
  spec.vendorBytes = 64;
  std::vector<uint8_t> bir = BuildBir(spec);
  PutU32(bir, 4, static_cast<uint32_t>(bir.size() - 48));
  SampleRecord record{};
  EXPECT_EQ(ReadExact(bir, bir.size(), &record), SampleRecordStatus::kMalformed);
}

TEST(ReadSampleRecord, PixelsMustFitTheBlock) {
  const size_t w = testing::kTestBlockOffset + 44;
  const size_t h = testing::kTestBlockOffset + 46;
  struct Size {
    uint16_t width, height;
    SampleRecordStatus want;
  };
  const Size sizes[] = {
      {33, 24, SampleRecordStatus::kMalformed},
      {32, 25, SampleRecordStatus::kMalformed},
      {0, 24, SampleRecordStatus::kMalformed},
      {32, 0, SampleRecordStatus::kMalformed},
      {65535, 65535, SampleRecordStatus::kMalformed},
      {24, 32, SampleRecordStatus::kOk},
      {16, 16, SampleRecordStatus::kOk},  // fewer pixels than the block holds is fine
  };
  for (const Size& s : sizes) {
    std::vector<uint8_t> bir = BuildBir(BirSpec{});
    PutU16(bir, w, s.width);
    PutU16(bir, h, s.height);
    SampleRecord record{};
    EXPECT_EQ(ReadExact(bir, bir.size(), &record), s.want) << s.width << "x" << s.height;
  }
}

}  // namespace
}  // namespace ridgeline
