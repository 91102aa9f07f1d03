// The row loops of the gradient windows of the direction estimate (binary_resmoothing.cc), as
// plain loops for the vectoriser. Included by the portable build and by the Highway build, which
// compiles them once per instruction set so that they run as wide as the processor allows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ridgeline::gradient_rows {

constexpr int kGradients = 4;  // horizontal, diagonal 1, vertical, diagonal 2, side by side

// |a - b| of two 8-bit pixels, in 8 bits (a form the vectoriser takes at byte width).
[[gnu::always_inline]] inline uint8_t AbsDiff(uint8_t a, uint8_t b) {
  return static_cast<uint8_t>(a > b ? a - b : b - a);
}

// out[4 x + g] for 1 <= x < width - 1: |row[x] - a| + |row[x] - b| for the two neighbours a, b
// of row[x] along gradient g. The frame pixels are not written.
[[gnu::always_inline]] inline void GradientRow(const uint8_t* __restrict above,
                                               const uint8_t* __restrict row,
                                               const uint8_t* __restrict below, int width,
                                               uint16_t* __restrict out) {
  for (int x = 1; x + 1 < width; ++x) {
    const uint8_t c = row[x];
    uint16_t* __restrict g = out + kGradients * x;
    g[0] = static_cast<uint16_t>(AbsDiff(c, row[x - 1]) + AbsDiff(c, row[x + 1]));
    g[1] = static_cast<uint16_t>(AbsDiff(c, above[x - 1]) + AbsDiff(c, below[x + 1]));
    g[2] = static_cast<uint16_t>(AbsDiff(c, above[x]) + AbsDiff(c, below[x]));
    g[3] = static_cast<uint16_t>(AbsDiff(c, below[x - 1]) + AbsDiff(c, above[x + 1]));
  }
}

// column[i] += entering[i] - leaving[i] (modulo 2^32) for i < lanes; either row may be absent.
[[gnu::always_inline]] inline void StepColumns(uint32_t* __restrict column,
                                               const uint16_t* __restrict entering,
                                               const uint16_t* __restrict leaving, size_t lanes) {
  if (entering != nullptr && leaving != nullptr) {
    for (size_t i = 0; i < lanes; ++i) column[i] += uint32_t{entering[i]} - uint32_t{leaving[i]};
  } else if (entering != nullptr) {
    for (size_t i = 0; i < lanes; ++i) column[i] += entering[i];
  } else if (leaving != nullptr) {
    for (size_t i = 0; i < lanes; ++i) column[i] -= leaving[i];
  }
}

}  // namespace ridgeline::gradient_rows
