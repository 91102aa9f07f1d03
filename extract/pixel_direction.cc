#include "extract/pixel_direction.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "extract/direction_from_variations.h"
#include "extract/row_loops.h"
#include "extract/window_sums.h"

namespace ridgeline {
namespace {

constexpr int32_t kDiagonalNumerator = 71;  // diagonal steps are sqrt(2) long: scale by 71 / 100
constexpr int32_t kDiagonalDenominator = 100;

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

// Adds the variations of row e (between rows eu and ed) to the column sums of columns
// 1 .. width - 2 and, when l is given, removes those of row l (between lu and ld), in one pass.
void SlideRow(const uint8_t* eu, const uint8_t* e, const uint8_t* ed, const uint8_t* lu,
              const uint8_t* l, const uint8_t* ld, int width, VariationSums& sums) {
  SlideVariationSums(eu, e, ed, lu, l, ld, width, sums.v0.data(), sums.v30.data(), sums.v60.data(),
                     sums.v90.data());
}

void RemoveRow(const uint8_t* lu, const uint8_t* l, const uint8_t* ld, int width,
               VariationSums& sums) {
  SlideVariationSums(nullptr, nullptr, nullptr, lu, l, ld, width, sums.v0.data(), sums.v30.data(),
                     sums.v60.data(), sums.v90.data());
}

// The estimates of one row from its window sums in 64-bit arithmetic, for windows whose sums
// do not fit 32 bits (see `narrow` below); half is the window's half width.
void EstimateWideRow(const VariationSums& window, const int32_t* columns_in, int rows_in,
                     int64_t area, int64_t threshold, int width, uint8_t* __restrict dir_out,
                     uint8_t* __restrict iso_out) {
  for (int x = 0; x < width; ++x) {
    const auto i = static_cast<size_t>(x);
    const int64_t n = int64_t{rows_in} * columns_in[x];
    int64_t v0 = window.v0[i];
    int64_t v60 = window.v60[i];
    // The sums are never negative: divided unsigned, which is cheaper and the same.
    auto v30 = static_cast<int64_t>(static_cast<uint64_t>(window.v30[i]) * kDiagonalNumerator /
                                    kDiagonalDenominator);
    auto v90 = static_cast<int64_t>(static_cast<uint64_t>(window.v90[i]) * kDiagonalNumerator /
                                    kDiagonalDenominator);
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

// The same in 32 bits, branch-free across pixels: the pixels whose window lies wholly off the
// border need no scaling; the others (the border columns, and every pixel of the rows whose
// window is clipped at the top or the bottom) are scaled by the area over their count. A border
// stretch is widened to a whole block of the row loops, whose clipped form gives the unscaled
// estimate for a whole window, so that it is vectorised too.
void EstimateNarrowRow(const VariationSums& window, const int32_t* columns_in, int rows_in,
                       int half, int32_t area, int32_t threshold, int width, uint8_t* dir_out,
                       uint8_t* iso_out) {
  const int32_t* w0 = window.v0.data();
  const int32_t* w30 = window.v30.data();
  const int32_t* w60 = window.v60.data();
  const int32_t* w90 = window.v90.data();
  // Columns x - half .. x + half all off the border: half < x < width - 1 - half.
  const int whole_begin = half + 1;
  const int whole_end = width - 1 - half;
  if (rows_in != 2 * half + 1 || whole_begin >= whole_end) {
    EstimateClippedWindows(w0, w30, w60, w90, columns_in, rows_in, area, 0, width, threshold,
                           dir_out, iso_out);
    return;
  }
  const int left_end = std::min(width, std::max(whole_begin, kRowLoopBlock));
  const int right_begin = std::max(0, std::min(whole_end, width - kRowLoopBlock));
  // The whole-window loop leaves out what the widened border stretches compute anyway.
  if (left_end < right_begin) {
    EstimateWholeWindows(w0, w30, w60, w90, left_end, right_begin, threshold, dir_out, iso_out);
  }
  EstimateClippedWindows(w0, w30, w60, w90, columns_in, rows_in, area, 0, left_end, threshold,
                         dir_out, iso_out);
  EstimateClippedWindows(w0, w30, w60, w90, columns_in, rows_in, area, right_begin, width,
                         threshold, dir_out, iso_out);
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
  // Windows up to 45 x 45 pixels (all the pipeline uses) keep every sum, scaled or not, and
  // every intermediate of the estimate within 32 bits: a clipped window's sums are at most
  // n x 510, scaled by area / n.
  const bool narrow = area * area * 510 <= INT32_MAX && area * 510 <= kMaxVariation32;
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
    // The last row to enter is added together with the row leaving, in one pass.
    const int last_in = std::min(y + hw, height - 2);
    const int leaving = y - hw - 1;
    const bool leaves = leaving >= 1 && leaving <= height - 2;
    for (; next_enter <= last_in; ++next_enter) {
      for (; next_copy <= next_enter + 1; ++next_copy) {
        std::memcpy(ring_row(next_copy), image[next_copy], w);
      }
      const bool fuse = leaves && next_enter == last_in;
      SlideRow(ring_row(next_enter - 1), ring_row(next_enter), ring_row(next_enter + 1),
               fuse ? ring_row(leaving - 1) : nullptr, fuse ? ring_row(leaving) : nullptr,
               fuse ? ring_row(leaving + 1) : nullptr, width, sums);
      if (fuse) break;
    }
    if (leaves && next_enter == last_in) {
      ++next_enter;  // entered with the leaving row
    } else if (leaves) {
      RemoveRow(ring_row(leaving - 1), ring_row(leaving), ring_row(leaving + 1), width, sums);
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
    if (narrow) {
      EstimateNarrowRow(window, columns_in.data(), rows_in, hw, static_cast<int32_t>(area),
                        static_cast<int32_t>(std::clamp<int64_t>(threshold, INT32_MIN, INT32_MAX)),
                        width, dir_out, iso_out);
    } else {
      EstimateWideRow(window, columns_in.data(), rows_in, area, threshold, width, dir_out, iso_out);
    }
  }
  return true;
}

}  // namespace ridgeline
