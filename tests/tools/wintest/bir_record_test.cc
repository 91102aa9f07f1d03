#include "tools/wintest/bir_record.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace ridgeline::wintest {
namespace {

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<uint32_t>(bytes[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// The offsets the engine reads, written out as numbers rather than taken from the structures.
TEST(BirRecordTest, FieldsSitWhereTheEngineReadsThem) {
  const std::vector<uint8_t> pixels = {10, 20, 30, 40, 50, 60};
  const std::vector<uint8_t> bir = BuildFingerImageBir(3, 2, pixels);
  const uint32_t header_offset = U32(bir, 4);
  const uint32_t standard_size = U32(bir, 8);
  const uint32_t standard_offset = U32(bir, 12);
  EXPECT_EQ(header_offset, 32u);
  EXPECT_EQ(U32(bir, 0), 48u);
  EXPECT_EQ(standard_offset, 80u);
  EXPECT_EQ(standard_size, 56u + 6u);
  EXPECT_EQ(bir.size(), standard_offset + standard_size);
  EXPECT_EQ(U32(bir, header_offset + 8), 8u);      // fingerprint
  EXPECT_EQ(U16(bir, header_offset + 40), 27u);    // format owner
  EXPECT_EQ(U16(bir, header_offset + 42), 1025u);  // format type
  EXPECT_EQ(bir[standard_offset + 35], 0);         // uncompressed
  EXPECT_EQ(U16(bir, standard_offset + 44), 3u);   // width
  EXPECT_EQ(U16(bir, standard_offset + 46), 2u);   // height
  EXPECT_EQ(std::vector<uint8_t>(bir.begin() + standard_offset + 56, bir.end()), pixels);
  EXPECT_EQ(kBirPixelOffset, 136u);
}

TEST(BirRecordTest, OptionsSpoilOnlyTheirOwnField) {
  const std::vector<uint8_t> pixels(4, 128);
  const std::vector<uint8_t> plain = BuildFingerImageBir(2, 2, pixels);
  BirOptions options;
  options.compression = 2;
  std::vector<uint8_t> spoiled = BuildFingerImageBir(2, 2, pixels, options);
  ASSERT_EQ(spoiled.size(), plain.size());
  EXPECT_EQ(spoiled[80 + 35], 2);
  spoiled[80 + 35] = 0;
  EXPECT_EQ(spoiled, plain);

  options = {};
  options.format_owner = 28;
  options.biometric_type = 2;
  spoiled = BuildFingerImageBir(2, 2, pixels, options);
  EXPECT_EQ(U16(spoiled, 32 + 40), 28u);
  EXPECT_EQ(U32(spoiled, 32 + 8), 2u);
  EXPECT_EQ(U16(spoiled, 32 + 42), 1025u);
}

TEST(BirRecordTest, FilesRoundTripAndMissingFilesFail) {
  const std::string path = ::testing::TempDir() + "/bir_record_test.bin";
  const std::vector<uint8_t> bytes = BuildFingerImageBir(1, 1, std::vector<uint8_t>{7});
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  std::vector<uint8_t> read;
  ASSERT_TRUE(ReadFileBytes(path, &read));
  EXPECT_EQ(read, bytes);
  std::remove(path.c_str());
  EXPECT_FALSE(ReadFileBytes(path, &read));
}

}  // namespace
}  // namespace ridgeline::wintest
