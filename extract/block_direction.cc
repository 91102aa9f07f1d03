#include "extract/block_direction.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "core/constants.h"
#include "extract/direction_from_variations.h"
#include "extract/row_loops.h"

namespace ridgeline {
namespace {

// Variation sums of a group of pixels along codes 0, 30, 60, 90, and the pixel count.
struct VariationSums {
  int64_t v0 = 0;
  int64_t v30 = 0;
  int64_t v60 = 0;
  int64_t v90 = 0;
  int64_t n = 0;

  VariationSums& operator+=(const VariationSums& o) {
    v0 += o.v0;
    v30 += o.v30;
    v60 += o.v60;
    v90 += o.v90;
    n += o.n;
    return *this;
  }
  VariationSums& operator-=(const VariationSums& o) {
    v0 -= o.v0;
    v30 -= o.v30;
    v60 -= o.v60;
    v90 -= o.v90;
    n -= o.n;
    return *this;
  }
};

// A cols x rows grid of sums, row-major.
struct SumGrid {
  int cols = 0;
  int rows = 0;
  std::vector<VariationSums> cells;

  SumGrid(int c, int r) : cols(c), rows(r), cells(static_cast<size_t>(c) * r) {}
  VariationSums& at(int c, int r) { return cells[static_cast<size_t>(r) * cols + c]; }
  const VariationSums& at(int c, int r) const { return cells[static_cast<size_t>(r) * cols + c]; }
};

constexpr int kDiagonalNumerator = 71;  // diagonal steps are sqrt(2) long: scale by 71 / 100
constexpr int kDiagonalDenominator = 100;
constexpr int kFullWindowPixels = 256;  // pixels of one normalised window unit (16 x 16)
constexpr int kArcHalfWidth = 15;       // codes either side of the coarse code that are kept

// Per-block sums over the pixels off the image border (x in 1 .. width - 2, y in 1 .. height - 2).
// The rows of one row of blocks go into per-column sums first (the dispatched variation row
// loop, the same differences as pixel by pixel), then each block adds its columns: integer
// sums, so the order does not change them.
void SumBlocks(int width, int height, const uint8_t* const* image, int block_size,
               SumGrid& blocks) {
  const size_t w = static_cast<size_t>(width);
  std::vector<int32_t> c0(w), c30(w), c60(w), c90(w);  // bad_alloc is the caller's
  for (int r = 0; r < blocks.rows; ++r) {
    const int y_begin = r == 0 ? 1 : r * block_size;
    const int y_end = std::min((r + 1) * block_size, height - 1);  // exclusive
    if (y_end <= y_begin) continue;
    std::fill(c0.begin(), c0.end(), 0);
    std::fill(c30.begin(), c30.end(), 0);
    std::fill(c60.begin(), c60.end(), 0);
    std::fill(c90.begin(), c90.end(), 0);
    for (int y = y_begin; y < y_end; ++y) {
      SlideVariationSums(image[y - 1], image[y], image[y + 1], nullptr, nullptr, nullptr, width,
                         c0.data(), c30.data(), c60.data(), c90.data());
    }
    VariationSums* block_row = &blocks.at(0, r);
    for (int bx = 0; bx < blocks.cols; ++bx) {
      const int x_begin = bx == 0 ? 1 : bx * block_size;
      const int x_end = std::min((bx + 1) * block_size, width - 1);  // exclusive
      if (x_end <= x_begin) continue;
      int32_t v0 = 0, v30 = 0, v60 = 0, v90 = 0;
      for (int x = x_begin; x < x_end; ++x) {
        const auto i = static_cast<size_t>(x);
        v0 += c0[i];
        v30 += c30[i];
        v60 += c60[i];
        v90 += c90[i];
      }
      VariationSums& sums = block_row[bx];
      sums.v0 += v0;
      sums.v30 += v30;
      sums.v60 += v60;
      sums.v90 += v90;
      sums.n += int64_t{x_end - x_begin} * (y_end - y_begin);
    }
  }
}

// out(c, r) = the sum of in over the 3 x 3 cells centred on (c, r) that lie in the grid.
void SumWindows3x3(const SumGrid& in, SumGrid& out) {
  // column[c] holds rows r - 1 .. r + 1 of column c, clipped to the grid.
  std::vector<VariationSums> column(static_cast<size_t>(in.cols));
  for (int c = 0; c < in.cols; ++c) column[static_cast<size_t>(c)] += in.at(c, 0);
  for (int r = 0; r < in.rows; ++r) {
    for (int c = 0; c < in.cols; ++c) {
      if (r + 1 < in.rows) column[static_cast<size_t>(c)] += in.at(c, r + 1);
      if (r - 2 >= 0) column[static_cast<size_t>(c)] -= in.at(c, r - 2);
    }
    // running holds columns c - 1 .. c + 1, clipped.
    VariationSums running = column[0];
    for (int c = 0; c < in.cols; ++c) {
      if (c + 1 < in.cols) running += column[static_cast<size_t>(c) + 1];
      if (c - 2 >= 0) running -= column[static_cast<size_t>(c) - 2];
      out.at(c, r) = running;
    }
  }
}

// Normalises a window's sums to one 16 x 16 block's worth of pixels and estimates its direction.
// A window of fewer than 256 pixels carries no direction.
DirectionEstimate EstimateWindow(const VariationSums& s, int64_t threshold) {
  const int64_t m = s.n / kFullWindowPixels;
  if (m < 1) return DirectionFromVariations(0, 0, 0, 0, threshold);
  return DirectionFromVariations(s.v0 / m, s.v30 * kDiagonalNumerator / (m * kDiagonalDenominator),
                                 s.v60 / m, s.v90 * kDiagonalNumerator / (m * kDiagonalDenominator),
                                 threshold);
}

}  // namespace

bool StraysFromCoarse(int fineCode, int coarseCode) {
  constexpr int kFarSide = kDirectionSteps / 2 + 3 * kArcHalfWidth;  // 105
  if (coarseCode < kArcHalfWidth) {
    return fineCode >= coarseCode + kArcHalfWidth && fineCode <= coarseCode + kFarSide;
  }
  if (coarseCode > kFarSide) {
    return fineCode >= coarseCode - kFarSide && fineCode <= coarseCode - kArcHalfWidth;
  }
  return fineCode < coarseCode - kArcHalfWidth || fineCode > coarseCode + kArcHalfWidth;
}

bool EstimateBlockDirections(const EngineParams& params, int width, int height,
                             const uint8_t* const* image, int blockCols, int blockRows,
                             int blockSize, GrayImage blockDirectionMap,
                             GrayImage correctedDirectionMap, GrayImage blockIsotropyMap,
                             GrayImage coarseDirectionField) {
  assert(blockSize > 0 && blockCols > 0 && blockRows > 0);
  assert(blockCols == (width + blockSize - 1) / blockSize);
  assert(blockRows == (height + blockSize - 1) / blockSize);
  const int cell_cols = (blockCols + 1) / 2;
  const int cell_rows = (blockRows + 1) / 2;
  const int64_t threshold = int64_t{2} * params.ContrastThreshold;
  const int64_t fine_threshold = threshold * blockSize * blockSize;
  const int64_t coarse_threshold = threshold * (2 * blockSize) * (2 * blockSize);

  try {
    SumGrid blocks(blockCols, blockRows);
    SumGrid block_windows(blockCols, blockRows);
    SumGrid cells(cell_cols, cell_rows);
    SumGrid cell_windows(cell_cols, cell_rows);
    std::vector<uint8_t> coarse(static_cast<size_t>(cell_cols) * cell_rows);
    SumBlocks(width, height, image, blockSize, blocks);

    // Coarse field: 2 x 2 blocks per cell, each cell read through its 3 x 3 cell window.
    for (int r = 0; r < blockRows; ++r) {
      for (int c = 0; c < blockCols; ++c) cells.at(c / 2, r / 2) += blocks.at(c, r);
    }
    SumWindows3x3(cells, cell_windows);
    for (int j = 0; j < cell_rows; ++j) {
      for (int i = 0; i < cell_cols; ++i) {
        const uint8_t code = EstimateWindow(cell_windows.at(i, j), coarse_threshold).code;
        coarse[static_cast<size_t>(j) * cell_cols + i] = code;
        if (coarseDirectionField != nullptr) coarseDirectionField[j][i] = code;
      }
    }

    SumWindows3x3(blocks, block_windows);
    for (int r = 0; r < blockRows; ++r) {
      for (int c = 0; c < blockCols; ++c) {
        const DirectionEstimate fine = EstimateWindow(block_windows.at(c, r), fine_threshold);
        blockDirectionMap[r][c] = fine.code;
        blockIsotropyMap[r][c] = fine.isotropy;
        const uint8_t coarse_code = coarse[static_cast<size_t>(r / 2) * cell_cols + c / 2];
        const bool replace = fine.code != kNoDirection && coarse_code != kNoDirection &&
                             StraysFromCoarse(fine.code, coarse_code);
        correctedDirectionMap[r][c] = replace ? coarse_code : fine.code;
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace ridgeline
