#include "extract/contrast_stretch.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "extract/row_loops.h"
#include "extract/window_sums.h"

namespace ridgeline {
namespace {

constexpr int kWhite = 255;

// ceil(2^32 / d) for the band widths d = 1 .. 255: (n m) >> 32 is n / d for every n <= 255 d,
// as 255 d^2 < 2^32 (see core/exact_divider.h).
constexpr std::array<uint64_t, 256> MakeBandReciprocals() {
  std::array<uint64_t, 256> table{};
  for (uint64_t d = 1; d < 256; ++d) table[d] = ((uint64_t{1} << 32) + d - 1) / d;
  return table;
}
constexpr std::array<uint64_t, 256> kBandReciprocal = MakeBandReciprocals();

// The stretched value of s for the band lo .. hi (an empty band leaves s as it is), the division
// by the band width done as a multiplication: the band lies in 0 .. 255 and (s - lo) 255 <
// 255 (hi - lo) inside it.
inline uint8_t StretchByReciprocal(int s, int mean, int deviation) {
  const int lo = mean - deviation < 0 ? 0 : mean - deviation;
  const int hi = mean + deviation > kWhite ? kWhite : mean + deviation;
  if (lo == hi) return static_cast<uint8_t>(s);
  if (s <= lo) return 0;
  if (s >= hi) return kWhite;
  const uint64_t n = static_cast<uint64_t>((s - lo) * kWhite);
  return static_cast<uint8_t>((n * kBandReciprocal[static_cast<size_t>(hi - lo)]) >> 32);
}

}  // namespace

bool ContrastStretch(int width, int height, const uint8_t* const* source, GrayImage meanImage,
                     int radius) {
  assert(radius >= 0);
  if (width <= 0 || height <= 0) return true;
  const int ring_rows = 2 * radius + 2;
  const size_t w = static_cast<size_t>(width);
  // The ring keeps |source - mean| of every row still inside some later window: the means of a
  // row are overwritten by its output before the row leaves the column sums.
  std::vector<uint8_t> ring;
  std::vector<int32_t> column_sum;
  std::vector<int32_t> row_sum;
  try {
    ring.resize(static_cast<size_t>(ring_rows) * w);
    column_sum.assign(w, 0);
    row_sum.assign(w, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto ring_row = [&](int y) { return ring.data() + static_cast<size_t>(y % ring_rows) * w; };
  auto enter = [&](int y) {
    uint8_t* deviation = ring_row(y);
    const uint8_t* src = source[y];
    const uint8_t* mean = meanImage[y];
    for (size_t x = 0; x < w; ++x) {
      const int d = src[x] > mean[x] ? src[x] - mean[x] : mean[x] - src[x];
      deviation[x] = static_cast<uint8_t>(d);
      column_sum[x] += d;
    }
  };

  int next_row = 0;  // the next row to enter the column sums
  for (; next_row < height && next_row < radius; ++next_row) enter(next_row);
  for (int y = 0; y < height; ++y) {
    // Column sums hold the deviations of rows y - radius .. y + radius clipped to the image;
    // row y + radius enters while its means are still unwritten.
    if (next_row < height && next_row <= y + radius) enter(next_row++);
    if (y - radius - 1 >= 0) {
      const uint8_t* old = ring_row(y - radius - 1);
      for (size_t x = 0; x < w; ++x) column_sum[x] -= old[x];
    }
    const int top = y - radius < 0 ? 0 : y - radius;
    const int bottom = y + radius >= height ? height - 1 : y + radius;
    const int rows_in = bottom - top + 1;

    // Window sums over column sums x - radius .. x + radius clipped to the image; where the
    // window spans whole rows of 2 radius + 1 columns, its count is the row's full count.
    SumAlongRow(column_sum.data(), width, radius, row_sum.data());
    const uint8_t* src = source[y];
    uint8_t* out = meanImage[y];
    auto at_border = [&](int x) {
      const int left = x - radius < 0 ? 0 : x - radius;
      const int last = x + radius >= width ? width - 1 : x + radius;
      const int deviation = row_sum[static_cast<size_t>(x)] / ((last - left + 1) * rows_in);
      out[x] = StretchByReciprocal(src[x], out[x], deviation);
    };
    const int inner_begin = std::min(radius, width);
    const int inner_end = std::max(width - radius, inner_begin);
    const int64_t full = int64_t{2 * radius + 1} * rows_in;
    int x = 0;
    for (; x < inner_begin; ++x) at_border(x);
    // Every window sum is at most 255 full, which the row loop takes below 2^31.
    if (inner_end > inner_begin && full * kWhite <= INT32_MAX) {
      StretchRow(row_sum.data(), src, inner_begin, inner_end, static_cast<int32_t>(full), out);
      x = inner_end;
    }
    for (; x < width; ++x) at_border(x);
  }
  return true;
}

}  // namespace ridgeline
