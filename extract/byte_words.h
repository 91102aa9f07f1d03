// Eight bytes of a row tested at once in a 64-bit word: the scans of binary images and skeletons
// skip the white runs between ridge pixels a word at a time instead of branching on each pixel.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "core/constants.h"

namespace ridgeline {

constexpr uint64_t kByteHighBits = 0x8080808080808080ULL;

// Bit 7 of each byte of v set where that byte is 0. (b & 0x7F) + 0x7F reaches bit 7 unless the
// low seven bits are 0, and never carries into the next byte; or-ing b adds its own bit 7.
constexpr uint64_t ZeroBytes(uint64_t v) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  return ~(((v & kLow7) + kLow7) | v) & kByteHighBits;
}

inline uint64_t LoadWord(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The index of the first byte whose bit 7 is set in a nonzero mask of bytes loaded by LoadWord.
inline int FirstMarkedByte(uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::countr_zero(mask) >> 3;
  } else {
    return std::countl_zero(mask) >> 3;
  }
}

// The first x in [from, end) where row[x] == 0, or end. Reads only row[from .. end - 1].
inline int NextZero(const uint8_t* row, int from, int end) {
  int x = from;
  for (; x + 8 <= end; x += 8) {
    const uint64_t mask = ZeroBytes(LoadWord(row + x));
    if (mask != 0) return x + FirstMarkedByte(mask);
  }
  for (; x < end; ++x) {
    if (row[x] == 0) return x;
  }
  return end;
}

// The first x in [from, end) where skeleton[x] == 0 (a ridge pixel) and direction[x] has the
// background bit clear, or end. Reads only the bytes [from, end) of both rows.
static_assert(kBackgroundBit == 0x80, "the background bit lines up with the zero-byte marks");
inline int NextForegroundZero(const uint8_t* skeleton, const uint8_t* direction, int from,
                              int end) {
  int x = from;
  for (; x + 8 <= end; x += 8) {
    const uint64_t mask = ZeroBytes(LoadWord(skeleton + x)) & ~LoadWord(direction + x);
    if (mask != 0) return x + FirstMarkedByte(mask);
  }
  for (; x < end; ++x) {
    if (skeleton[x] == 0 && (direction[x] & kBackgroundBit) == 0) return x;
  }
  return end;
}

}  // namespace ridgeline
