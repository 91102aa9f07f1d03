#include "extract/pixel_direction.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "extract/direction_from_variations.h"
#include "extract/window_sums.h"

namespace ridgeline {
namespace {

constexpr int kDiagonalNumerator = 71;  // diagonal steps are sqrt(2) long: scale by 71 / 100
constexpr int kDiagonalDenominator = 100;

int Diff(int a, int b) { return a > b ? a - b : b - a; }

// The four variations summed over some rows or windows, one entry per image column.
struct VariationSums {
  std::vector<int32_t> v0, v30, v60, v90;
  void Allocate(size_t width) {
    v0.assign(width, 0);
    v30.assign(width, 0);
    v60.assign(width, 0);
    v90.assign(width, 0);
  }
};

// Adds (sign +1) or removes (sign -1) the variations of row y, read from copies of rows
// y - 1, y, y + 1, for the columns 1 .. width - 2; one variation per loop.
void AccumulateRow(const uint8_t* up, const uint8_t* row, const uint8_t* down, int width, int sign,
                   VariationSums& sums) {
  // sum[x] += sign * (|row[x] - a[x + da]| + |row[x] - b[x + db]|)
  auto accumulate = [&](std::vector<int32_t>& sum, const uint8_t* a, int da, const uint8_t* b,
                        int db) {
    int32_t* out = sum.data();
    for (int x = 1; x <= width - 2; ++x) {
      out[x] += sign * (Diff(row[x], a[x + da]) + Diff(row[x], b[x + db]));
    }
  };
  accumulate(sums.v0, row, -1, row, +1);
  accumulate(sums.v30, up, -1, down, +1);
  accumulate(sums.v60, up, 0, down, 0);
  accumulate(sums.v90, down, -1, up, +1);
}

// Number of indices of first .. last that lie in 1 .. size - 2.
int InnerCount(int first, int last, int size) {
  const int lo = std::max(first, 1);
  const int hi = std::min(last, size - 2);
  return hi >= lo ? hi - lo + 1 : 0;
}

}  // namespace

bool EstimatePixelDirections(int width, int height, GrayImage image, GrayImage directionImage,
                             int halfWindow, int pixelContrastThreshold) {
  assert(halfWindow >= 0 && image != directionImage);
  if (width <= 0 || height <= 0) return true;
  // A variation is at most 2 x 255, and a window never holds more than the image.
  assert(int64_t{width} * height * 2 * 255 <= INT32_MAX);
  const int hw = halfWindow;
  const int64_t area = int64_t{2 * hw + 1} * (2 * hw + 1);
  const int64_t threshold = 2 * area * pixelContrastThreshold;
  // Rows y - hw - 2 .. y + hw + 1: the window, the neighbours of its edge rows for the row
  // entering and the row leaving.
  const int ring_rows = 2 * hw + 4;
  const size_t w = static_cast<size_t>(width);

  std::vector<uint8_t> ring;
  VariationSums sums;               // over the window's rows, per column
  VariationSums window;             // over the whole window, per output pixel of the row
  std::vector<int32_t> columns_in;  // non-border columns of each pixel's window
  try {
    ring.resize(static_cast<size_t>(ring_rows) * w);
    sums.Allocate(w);
    window.Allocate(w);
    columns_in.resize(w);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int x = 0; x < width; ++x)
    columns_in[static_cast<size_t>(x)] = InnerCount(x - hw, x + hw, width);
  auto ring_row = [&](int y) { return ring.data() + static_cast<size_t>(y % ring_rows) * w; };

  int next_copy = 0;   // the next image row to copy into the ring
  int next_enter = 1;  // the next non-border row to enter the column sums
  for (int y = 0; y < height; ++y) {
    // Column sums hold the non-border rows y - hw .. y + hw; each entering row needs its lower
    // neighbour copied, and the row leaving still has its upper neighbour in the ring.
    const int last_in = std::min(y + hw, height - 2);
    for (; next_enter <= last_in; ++next_enter) {
      for (; next_copy <= next_enter + 1; ++next_copy) {
        std::memcpy(ring_row(next_copy), image[next_copy], w);
      }
      AccumulateRow(ring_row(next_enter - 1), ring_row(next_enter), ring_row(next_enter + 1), width,
                    +1, sums);
    }
    const int leaving = y - hw - 1;
    if (leaving >= 1 && leaving <= height - 2) {
      AccumulateRow(ring_row(leaving - 1), ring_row(leaving), ring_row(leaving + 1), width, -1,
                    sums);
    }
    // Row y itself must be in the ring before it is overwritten (short images enter no rows).
    for (; next_copy <= y; ++next_copy) std::memcpy(ring_row(next_copy), image[next_copy], w);
    const int rows_in = InnerCount(y - hw, y + hw, height);

    // Window sums over the column sums x - hw .. x + hw clipped to the image; the border
    // columns hold zero, so only the pixel count needs the non-border clip.
    SumAlongRow(sums.v0.data(), width, hw, window.v0.data());
    SumAlongRow(sums.v30.data(), width, hw, window.v30.data());
    SumAlongRow(sums.v60.data(), width, hw, window.v60.data());
    SumAlongRow(sums.v90.data(), width, hw, window.v90.data());
    uint8_t* iso_out = image[y];
    uint8_t* dir_out = directionImage[y];
    for (int x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(x);
      const int64_t n = int64_t{rows_in} * columns_in[i];
      int64_t v0 = window.v0[i];
      int64_t v60 = window.v60[i];
      int64_t v30 = int64_t{window.v30[i]} * kDiagonalNumerator / kDiagonalDenominator;
      int64_t v90 = int64_t{window.v90[i]} * kDiagonalNumerator / kDiagonalDenominator;
      if (n != area && n != 0) {
        // A window clipped at the border counts as if it were whole.
        v0 = area * v0 / n;
        v30 = area * v30 / n;
        v60 = area * v60 / n;
        v90 = area * v90 / n;
      }
      const DirectionEstimate e = DirectionFromVariations(v0, v30, v60, v90, threshold);
      dir_out[x] = e.code;
      iso_out[x] = e.isotropy;
    }
  }
  return true;
}

}  // namespace ridgeline
