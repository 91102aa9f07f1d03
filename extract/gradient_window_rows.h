// The row loops of the gradient windows of the direction estimate (binary_resmoothing.cc), as
// plain loops for the vectoriser. Included by the portable build and by the Highway build, which
// compiles them once per instruction set so that they run as wide as the processor allows.
//
// Every row these loops see is split into four planes, one per gradient (horizontal, diagonal 1,
// vertical, diagonal 2), each `stride` values apart, so that a vector holds neighbouring pixels
// of one gradient and the window sums along the row are shifted vector loads, not a serial
// running sum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ridgeline::gradient_rows {

constexpr int kGradients = 4;  // horizontal, diagonal 1, vertical, diagonal 2
// The sums along the row work in blocks of this many values; the buffers they write and read
// carry this many values of slack past their last, so that no block needs a scalar tail.
constexpr int kBlock = 64;

// |a - b| of two 8-bit pixels, in 8 bits (a form the vectoriser takes at byte width).
[[gnu::always_inline]] inline uint8_t AbsDiff(uint8_t a, uint8_t b) {
  return static_cast<uint8_t>(a > b ? a - b : b - a);
}

// out[g stride + x] for 1 <= x < width - 1: |row[x] - a| + |row[x] - b| for the two neighbours
// a, b of row[x] along gradient g. The frame pixels are not written.
[[gnu::always_inline]] inline void GradientRow(const uint8_t* __restrict above,
                                               const uint8_t* __restrict row,
                                               const uint8_t* __restrict below, int width,
                                               size_t stride, uint16_t* __restrict out) {
  uint16_t* __restrict horizontal = out;
  uint16_t* __restrict diagonal1 = out + stride;
  uint16_t* __restrict vertical = out + 2 * stride;
  uint16_t* __restrict diagonal2 = out + 3 * stride;
  for (int x = 1; x + 1 < width; ++x) {
    const uint8_t c = row[x];
    horizontal[x] = static_cast<uint16_t>(AbsDiff(c, row[x - 1]) + AbsDiff(c, row[x + 1]));
    diagonal1[x] = static_cast<uint16_t>(AbsDiff(c, above[x - 1]) + AbsDiff(c, below[x + 1]));
    vertical[x] = static_cast<uint16_t>(AbsDiff(c, above[x]) + AbsDiff(c, below[x]));
    diagonal2[x] = static_cast<uint16_t>(AbsDiff(c, below[x - 1]) + AbsDiff(c, above[x + 1]));
  }
}

// column[i] += entering[i] - leaving[i] (modulo 2^32) for i < lanes; either row may be absent.
template <typename T>
[[gnu::always_inline]] inline void StepColumns(uint32_t* __restrict column,
                                               const T* __restrict entering,
                                               const T* __restrict leaving, size_t lanes) {
  if (entering != nullptr && leaving != nullptr) {
    for (size_t i = 0; i < lanes; ++i) column[i] += uint32_t{entering[i]} - uint32_t{leaving[i]};
  } else if (entering != nullptr) {
    for (size_t i = 0; i < lanes; ++i) column[i] += entering[i];
  } else if (leaving != nullptr) {
    for (size_t i = 0; i < lanes; ++i) column[i] -= leaving[i];
  }
}

// A window of `span` values split as `runs` consecutive runs of `run` values and `rest` single
// values after them (span = runs x run + rest): the window sum is then run - 1 additions per
// value for the run sums and runs + rest - 1 per pixel for the window, instead of span - 1.
struct WindowSplit {
  int run = 1;
  int runs = 1;
  int rest = 0;
};

// The split with the fewest loads per pixel (about 2 sqrt(span)). REQUIRES: span >= 1.
inline WindowSplit SplitWindow(int span) {
  WindowSplit best{1, span, 0};
  for (int run = 1; run <= span; ++run) {
    const WindowSplit s{run, span / run, span % run};
    if (s.run + s.runs + s.rest < best.run + best.runs + best.rest) best = s;
  }
  return best;
}

// The sums of `span` consecutive gradients along the row, plane by plane:
// out[g out_stride + x] = gradients[g stride + x] + ... + gradients[g stride + x + span - 1]
// (modulo 2^bits of T) for x < width, in whole blocks (the values up to width rounded up to
// kBlock are written). runs is working space of 4 stride + kBlock values (unused when split.run
// is 1). REQUIRES: gradients readable up to 4 stride + kBlock + span.
template <typename T>
[[gnu::always_inline]] inline void BoxRow(const uint16_t* __restrict gradients, size_t stride,
                                          int width, WindowSplit split, T* __restrict runs,
                                          T* __restrict out, size_t out_stride) {
  const auto run = static_cast<size_t>(split.run);
  if (split.run > 1) {
    const size_t lanes = kGradients * stride;
    for (size_t j = 0; j < lanes; j += kBlock) {
      T acc[kBlock];
      for (int t = 0; t < kBlock; ++t) acc[t] = gradients[j + static_cast<size_t>(t)];
      for (size_t k = 1; k < run; ++k) {
        for (int t = 0; t < kBlock; ++t) acc[t] += gradients[j + k + static_cast<size_t>(t)];
      }
      for (int t = 0; t < kBlock; ++t) runs[j + static_cast<size_t>(t)] = acc[t];
    }
  }
  const size_t tail = run * static_cast<size_t>(split.runs);
  for (int g = 0; g < kGradients; ++g) {
    const uint16_t* __restrict plane = gradients + static_cast<size_t>(g) * stride;
    const T* __restrict run_plane = runs + static_cast<size_t>(g) * stride;
    T* __restrict row = out + static_cast<size_t>(g) * out_stride;
    for (size_t x = 0; x < static_cast<size_t>(width); x += kBlock) {
      T acc[kBlock];
      for (int t = 0; t < kBlock; ++t) acc[t] = 0;
      for (int i = 0; i < (split.run > 1 ? split.runs : 0); ++i) {
        for (int t = 0; t < kBlock; ++t) {
          acc[t] += run_plane[x + static_cast<size_t>(i) * run + static_cast<size_t>(t)];
        }
      }
      const size_t singles_from = split.run > 1 ? tail : 0;
      const int singles = split.run > 1 ? split.rest : split.runs;
      for (int k = 0; k < singles; ++k) {
        for (int t = 0; t < kBlock; ++t) {
          acc[t] += plane[x + singles_from + static_cast<size_t>(k) + static_cast<size_t>(t)];
        }
      }
      for (int t = 0; t < kBlock; ++t) row[x + static_cast<size_t>(t)] = acc[t];
    }
  }
}

}  // namespace ridgeline::gradient_rows
