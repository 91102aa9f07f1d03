// The row loops of the gradient windows of the direction estimate (binary_resmoothing.cc), as
// plain loops for the vectoriser. Included by the portable build and by the Highway build, which
// compiles them once per instruction set so that they run as wide as the processor allows.
//
// Every row these loops see is split into four planes, one per gradient (horizontal, diagonal 1,
// vertical, diagonal 2), each `stride` values apart, so that a vector holds neighbouring pixels
// of one gradient and the window sums along the row are shifted vector loads, not a serial
// running sum.
#pragma once

#include <algorithm>
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

// Blocks [first, last) of kBlock values of a row of sums; outside them the row's sums are 0.
struct BlockRange {
  size_t first = 0;
  size_t last = 0;
};

// Whether any of the kBlock values from x on of the four planes is not 0.
[[gnu::always_inline]] inline bool AnyGradient(const uint16_t* __restrict out, size_t stride,
                                               size_t x) {
  uint16_t any = 0;
  for (int g = 0; g < kGradients; ++g) {
    const uint16_t* __restrict plane = out + static_cast<size_t>(g) * stride + x;
    for (int t = 0; t < kBlock; ++t) any = static_cast<uint16_t>(any | plane[t]);
  }
  return any != 0;
}

// The blocks of the row sums (windows of 2 radius + 1 along the row) that can differ from 0,
// from the gradients of a row as GradientRow leaves them (out, pixel 0 of the first plane, with
// zeros from the frame pixels up to the stride): where no gradient within a window's reach is
// set, its sum is 0. Whole kBlock-value blocks of all four planes are tested, so the range may
// be wider than needed, never narrower; empty when the row has no gradient at all (the
// background of a print, its rows wholly outside the finger).
[[gnu::always_inline]] inline BlockRange RowSumBlocks(const uint16_t* __restrict out, size_t stride,
                                                      int width, int radius) {
  const size_t blocks = (static_cast<size_t>(width) + kBlock - 1) / kBlock;
  size_t first = 0;
  while (first < blocks && !AnyGradient(out, stride, first * kBlock)) ++first;
  if (first == blocks) return {};
  size_t last = blocks;
  while (!AnyGradient(out, stride, (last - 1) * kBlock)) --last;
  // Sums at x reach the gradients at x - radius .. x + radius.
  const auto reach = static_cast<size_t>(radius);
  const size_t from = first * kBlock > reach ? first * kBlock - reach : 0;
  const size_t to = std::min(last * kBlock + reach, blocks * kBlock);
  return {from / kBlock, (to + kBlock - 1) / kBlock};
}

// StepColumns over blocks [from, to) of each of the four planes.
template <typename T>
[[gnu::always_inline]] inline void StepPlanes(uint32_t* __restrict column,
                                              const T* __restrict entering,
                                              const T* __restrict leaving, size_t from, size_t to,
                                              size_t plane_stride) {
  if (from >= to) return;
  for (int g = 0; g < kGradients; ++g) {
    const size_t at = static_cast<size_t>(g) * plane_stride + from * kBlock;
    StepColumns(column + at, entering == nullptr ? nullptr : entering + at,
                leaving == nullptr ? nullptr : leaving + at, (to - from) * kBlock);
  }
}

// StepColumns on four planes of plane_stride values each, reading each row only within its
// blocks (a row's values outside its range are taken as 0 and never read). An absent row has
// no blocks.
template <typename T>
[[gnu::always_inline]] inline void StepColumnRanges(uint32_t* __restrict column,
                                                    const T* __restrict entering, BlockRange in,
                                                    const T* __restrict leaving, BlockRange out,
                                                    size_t plane_stride) {
  if (entering == nullptr) in = {};
  if (leaving == nullptr) out = {};
  // Both rows over their common blocks [both_from, both_to); each alone before and after them.
  size_t both_from = std::max(in.first, out.first);
  size_t both_to = std::min(in.last, out.last);
  if (both_from >= both_to) both_from = both_to = in.last;
  StepPlanes(column, entering, leaving, both_from, both_to, plane_stride);
  StepPlanes<T>(column, entering, nullptr, in.first, std::min(in.last, both_from), plane_stride);
  StepPlanes<T>(column, entering, nullptr, std::max(in.first, both_to), in.last, plane_stride);
  StepPlanes<T>(column, nullptr, leaving, out.first, std::min(out.last, both_from), plane_stride);
  StepPlanes<T>(column, nullptr, leaving, std::max(out.first, both_to), out.last, plane_stride);
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
constexpr WindowSplit SplitWindow(int span) {
  WindowSplit best{1, span, 0};
  for (int run = 1; run <= span; ++run) {
    const WindowSplit s{run, span / run, span % run};
    if (s.run + s.runs + s.rest < best.run + best.runs + best.rest) best = s;
  }
  return best;
}

// The end of the run sums that the window sums of blocks [first, last) read (see BoxRow).
inline size_t RunsEnd(WindowSplit split, size_t last) {
  return last * kBlock + static_cast<size_t>(split.runs - 1) * static_cast<size_t>(split.run);
}

// The sums of `span` consecutive gradients along the row, plane by plane:
// out[g out_stride + x] = gradients[g stride + x] + ... + gradients[g stride + x + span - 1]
// (modulo 2^bits of T) for x in the blocks [blocks.first, blocks.last) of kBlock values, the
// last ending at most at width rounded up to kBlock; the rest of out is not written. runs is
// working space of 4 stride + kBlock values (unused when split.run is 1). REQUIRES: gradients
// readable up to 4 stride + kBlock + span; stride >= width + span + kBlock.
template <typename T>
[[gnu::always_inline]] inline void BoxRow(const uint16_t* __restrict gradients, size_t stride,
                                          BlockRange blocks, WindowSplit split, T* __restrict runs,
                                          T* __restrict out, size_t out_stride) {
  const auto run = static_cast<size_t>(split.run);
  if (split.run > 1) {
    for (int g = 0; g < kGradients; ++g) {
      const size_t plane_at = static_cast<size_t>(g) * stride;
      for (size_t x = blocks.first * kBlock; x < RunsEnd(split, blocks.last); x += kBlock) {
        const size_t j = plane_at + x;
        T acc[kBlock];
        for (int t = 0; t < kBlock; ++t) acc[t] = gradients[j + static_cast<size_t>(t)];
        for (size_t k = 1; k < run; ++k) {
          for (int t = 0; t < kBlock; ++t) acc[t] += gradients[j + k + static_cast<size_t>(t)];
        }
        for (int t = 0; t < kBlock; ++t) runs[j + static_cast<size_t>(t)] = acc[t];
      }
    }
  }
  const size_t tail = run * static_cast<size_t>(split.runs);
  for (int g = 0; g < kGradients; ++g) {
    const uint16_t* __restrict plane = gradients + static_cast<size_t>(g) * stride;
    const T* __restrict run_plane = runs + static_cast<size_t>(g) * stride;
    T* __restrict row = out + static_cast<size_t>(g) * out_stride;
    for (size_t x = blocks.first * kBlock; x < blocks.last * kBlock; x += kBlock) {
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
