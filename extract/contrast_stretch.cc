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
  std::vector<int32_t> columns_in;
  try {
    ring.resize(static_cast<size_t>(ring_rows) * w);
    column_sum.assign(w, 0);
    row_sum.assign(w, 0);
    columns_in.assign(w, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto ring_row = [&](int y) { return ring.data() + static_cast<size_t>(y % ring_rows) * w; };
  // The deviations of row y into its ring slot.
  auto deviations = [&](int y) {
    uint8_t* __restrict deviation = ring_row(y);
    const uint8_t* __restrict src = source[y];
    const uint8_t* __restrict mean = meanImage[y];
    for (size_t x = 0; x < w; ++x) {
      deviation[x] = static_cast<uint8_t>(src[x] > mean[x] ? src[x] - mean[x] : mean[x] - src[x]);
    }
  };
  // Pixels in the window of each column, and whether the windows' sums stay below 2^31 for the
  // branch-free row loop (each is at most 255 times its count).
  for (int x = 0; x < width; ++x) {
    columns_in[static_cast<size_t>(x)] =
        std::min(x + radius, width - 1) - std::max(x - radius, 0) + 1;
  }
  const bool narrow = int64_t{2 * radius + 1} * (2 * radius + 1) * kWhite <= INT32_MAX;

  int next_row = 0;  // the next row to enter the column sums
  for (; next_row < height && next_row < radius; ++next_row) {
    deviations(next_row);
    SlideColumnSums(column_sum.data(), ring_row(next_row), nullptr, width);
  }
  for (int y = 0; y < height; ++y) {
    // Column sums hold the deviations of rows y - radius .. y + radius clipped to the image;
    // row y + radius enters while its means are still unwritten, in one pass with the row
    // leaving (the ring keeps both).
    const bool enters = next_row < height && next_row <= y + radius;
    if (enters) deviations(next_row);
    SlideColumnSums(column_sum.data(), enters ? ring_row(next_row) : nullptr,
                    y - radius - 1 >= 0 ? ring_row(y - radius - 1) : nullptr, width);
    if (enters) ++next_row;
    const int top = y - radius < 0 ? 0 : y - radius;
    const int bottom = y + radius >= height ? height - 1 : y + radius;
    const int rows_in = bottom - top + 1;

    // Window sums over column sums x - radius .. x + radius clipped to the image.
    SumAlongRow(column_sum.data(), width, radius, row_sum.data());
    const uint8_t* src = source[y];
    uint8_t* out = meanImage[y];
    if (narrow) {
      StretchRow(row_sum.data(), src, columns_in.data(), rows_in, 0, width, out);
      continue;
    }
    for (int x = 0; x < width; ++x) {
      const auto i = static_cast<size_t>(x);
      out[x] = StretchByReciprocal(src[x], out[x], row_sum[i] / (columns_in[i] * rows_in));
    }
  }
  return true;
}

}  // namespace ridgeline
