// Builds sample records (BIRs) holding one 8-bit finger image, in the little-endian byte layout
// the adapter reads, with every field the tests want to get wrong exposed.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace ridgeline::testing {

struct BirSpec {
  int width = 32;
  int height = 24;
  std::function<uint8_t(int, int)> pixel = [](int x, int y) {
    return static_cast<uint8_t>((x * 37 + y * 101) & 0xFF);
  };
  uint32_t biometricType = 8;
  uint16_t formatOwner = 27;
  uint16_t formatType = 1025;
  uint8_t compression = 0;
  uint8_t purpose = 1;
  uint32_t vendorBytes = 0;  // trailing bytes after the standard data block (not kept)
};

inline void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr size_t kTestHeaderOffset = 32;
constexpr size_t kTestBlockOffset = 80;

// Descriptors, a 48-byte header at 32, the standard data block at 80 (56 bytes of image header
// and record, then the pixels), then vendorBytes of filler.
inline std::vector<uint8_t> BuildBir(const BirSpec& spec) {
  const size_t pixels = static_cast<size_t>(spec.width) * spec.height;
  const size_t block_size = 56 + pixels;
  std::vector<uint8_t> b(kTestBlockOffset + block_size + spec.vendorBytes, 0);
  PutU32(b, 0, 48);
  PutU32(b, 4, kTestHeaderOffset);
  PutU32(b, 8, static_cast<uint32_t>(block_size));
  PutU32(b, 12, kTestBlockOffset);
  PutU32(b, 16, spec.vendorBytes);
  PutU32(b, 20, spec.vendorBytes ? static_cast<uint32_t>(kTestBlockOffset + block_size) : 0);
  PutU32(b, kTestHeaderOffset + 8, spec.biometricType);
  b[kTestHeaderOffset + 13] = spec.purpose;
  PutU16(b, kTestHeaderOffset + 40, spec.formatOwner);
  PutU16(b, kTestHeaderOffset + 42, spec.formatType);
  b[kTestBlockOffset + 35] = spec.compression;
  PutU16(b, kTestBlockOffset + 44, static_cast<uint16_t>(spec.width));
  PutU16(b, kTestBlockOffset + 46, static_cast<uint16_t>(spec.height));
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x)
      b[kTestBlockOffset + 56 + static_cast<size_t>(y) * spec.width + x] = spec.pixel(x, y);
  for (size_t i = kTestBlockOffset + block_size; i < b.size(); ++i) b[i] = 0xEE;
  return b;
}

}  // namespace ridgeline::testing
