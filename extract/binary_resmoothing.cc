// Re-smoothing of the binary image along directions estimated from its own gradients, the
// refresh of the DirectionImage and the per-pixel smoothing levels.
#include "extract/binary_resmoothing.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "core/constants.h"
#include "extract/direction_estimate_row.h"
#include "extract/direction_estimate_vector.h"
#include "extract/direction_refresh_row.h"
#include "extract/gradient_window_rows.h"
#include "extract/oriented_smoothing.h"
#include "extract/row_loops.h"
#include "extract/window_sums.h"

namespace ridgeline {
namespace {

using direction_estimate::kDiagonalScale;
using direction_estimate::kNoDirectionAnisotropy;
using direction_estimate::kRowEstimateLimit;
using direction_estimate::kSectorHalf;
constexpr uint8_t kLevelBits = 0x07;  // bits 0-2 of a level map byte: smoothing rounds due
constexpr int kMaxLevel = 7;
// A pixel closer than this (squared, in pixels) to a singular point keeps level 0.
constexpr int kSingularClearance2 = 9;

enum Gradient { kHorizontal = 0, kDiagonal1 = 1, kVertical = 2, kDiagonal2 = 3 };
constexpr int kGradients = 4;

// EstimateDirection, inlined into the sweeps (where only the code is used, the compiler drops
// the anisotropy).
inline DirectionEstimate Estimate(int32_t horizontal, int32_t diagonal1, int32_t vertical,
                                  int32_t diagonal2) {
  const int32_t h = horizontal;
  const int32_t v = vertical;
  const int32_t d1 = diagonal1 * kDiagonalScale / 100;
  const int32_t d2 = diagonal2 * kDiagonalScale / 100;
  const int32_t most = std::max({h, d1, v, d2});

  // The two least-changing directions that are neighbours name the sector; the first pair
  // keeps a tie.
  int32_t base = 45;
  int32_t pair = v + d1;
  int32_t p = d2, q = d1, r = v, s = h;
  if (v + d2 < pair) {
    base = 75, pair = v + d2;
    p = h, q = v, r = d2, s = d1;
  }
  if (h + d2 < pair) {
    base = 105, pair = h + d2;
    p = d1, q = d2, r = h, s = v;
  }
  if (h + d1 < pair) {
    base = 15, pair = h + d1;
    p = v, q = h, r = d1, s = d2;
  }

  const int32_t n = p + q + r + s - 4 * most;  // <= 0; 0 only when all four are equal
  if (n == 0) return {kNoDirection, kNoDirectionAnisotropy};
  const int32_t offset = (3 * (p - s) - q + r) * kSectorHalf / n;  // -15 .. 15
  int32_t code = base + offset;
  if (code == kDirectionSteps) code = 0;

  int32_t lo = q;
  int32_t hi = p;
  if (r < q) {
    lo = r;
    hi = s;
  }
  const int32_t c = (kSectorHalf - std::abs(offset)) * (hi - lo) / (2 * kSectorHalf);
  const int32_t anisotropy =
      hi + c == 0 ? kNoDirectionAnisotropy : std::max(lo - c, 0) * 255 / (hi + c);
  return {static_cast<uint8_t>(code), anisotropy};
}

// The row forms of Estimate: codes only (the re-smoothing), and codes with anisotropies clamped
// to 0 .. 255 (all the refresh reads of them).
void EstimateCodes(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                   const int32_t* diagonal2, int count, uint8_t* codes) {
#if RIDGELINE_HIGHWAY
  EstimateCodesVector(horizontal, diagonal1, vertical, diagonal2, count, codes);
#else
  direction_estimate::EstimateLanes<false>(horizontal, diagonal1, vertical, diagonal2, count, codes,
                                           nullptr);
#endif
}

void EstimateRow(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                 const int32_t* diagonal2, int count, uint8_t* codes, int32_t* anisotropies) {
#if RIDGELINE_HIGHWAY
  EstimateRowVector(horizontal, diagonal1, vertical, diagonal2, count, codes, anisotropies);
#else
  direction_estimate::EstimateLanes<true>(horizontal, diagonal1, vertical, diagonal2, count, codes,
                                          anisotropies);
  for (int i = 0; i < count; ++i) {
    anisotropies[i] = std::clamp(anisotropies[i], int32_t{0}, kNoDirectionAnisotropy);
  }
#endif
}

// StepColumnRanges, GradientRow with RowSumBlocks, and BoxRow at the processor's widest vectors.
template <typename T>
void StepColumns(uint32_t* column, const T* entering, gradient_rows::BlockRange in,
                 const T* leaving, gradient_rows::BlockRange out, size_t plane_stride) {
#if RIDGELINE_HIGHWAY
  StepColumnsVector(column, entering, in, leaving, out, plane_stride);
#else
  gradient_rows::StepColumnRanges(column, entering, in, leaving, out, plane_stride);
#endif
}

gradient_rows::BlockRange GradientRow(const uint8_t* above, const uint8_t* row,
                                      const uint8_t* below, int width, size_t stride, int radius,
                                      uint16_t* out) {
#if RIDGELINE_HIGHWAY
  return GradientRowVector(above, row, below, width, stride, radius, out);
#else
  gradient_rows::GradientRow(above, row, below, width, stride, out);
  return gradient_rows::RowSumBlocks(out, stride, width, radius);
#endif
}

template <typename T>
void RowSums(const uint16_t* gradients, size_t stride, gradient_rows::BlockRange blocks,
             gradient_rows::WindowSplit split, T* runs, T* out, size_t out_stride) {
#if RIDGELINE_HIGHWAY
  BoxRowVector(gradients, stride, blocks, split, runs, out, out_stride);
#else
  gradient_rows::BoxRow(gradients, stride, blocks, split, runs, out, out_stride);
#endif
}

// The row length the estimate runs over: whole blocks, so that its vector loop needs no scalar
// tail. The window sums past the row are those of the zero padding and the last pixels, as
// bounded as the row's own, and the codes made from them are not used.
size_t PaddedRow(int width) {
  const size_t block = gradient_rows::kBlock;
  return (static_cast<size_t>(width) + block - 1) / block * block;
}

// refresh_row::RefreshRow at the processor's widest vectors.
void RefreshLevels(const refresh_row::LevelSteps& steps, const uint8_t* codes,
                   const int32_t* anisotropies, const uint8_t* spared, int width,
                   uint8_t* direction, uint8_t* level) {
#if RIDGELINE_HIGHWAY
  RefreshRowVector(steps, codes, anisotropies, spared, width, direction, level);
#else
  refresh_row::RefreshRow(steps, codes, anisotropies, spared, width, direction, level);
#endif
}

// The four gradient sums over the (2 radius + 1)^2 window of each pixel of one row, slid down
// the image row by row. Only pixels off the frame have gradients; the rest contribute 0.
//
// The window is summed along the rows first: each gradient row, made once, is summed over the
// 2 radius + 1 columns around each pixel (clipped at the row ends) as it enters, and the ring
// keeps these row sums; the window sums are then the column sums of the ring's rows, one add of
// the entering and one subtract of the leaving row per value. Every row is split into four
// planes, one per gradient, so that a vector holds neighbouring pixels of one gradient; the row
// sums are a few shifted vector loads (gradient_rows::BoxRow). The row sums are kept in T:
// 16 bits while (2 radius + 1) x 510 fits, half the memory traffic of 32. Column sums are
// modulo 2^32, exact while a window sum fits.
//
// Each row of sums in the ring carries the blocks outside which it is 0 (no gradient within
// reach: the flat background of a print, a third of some images); those blocks are neither
// summed along the row nor stepped into the column sums, and are never read.
template <typename T>
class GradientWindows {
 public:
  // Returns false when the sums cannot be allocated.
  bool Init(int width, int height, int radius) {
    assert(width > 0 && height > 0 && radius >= 0);
    width_ = width;
    height_ = height;
    radius_ = radius;
    made_ = 0;
    summed_ = 0;
    const int span = 2 * radius + 1;
    split_ = gradient_rows::SplitWindow(span);
    const size_t block = gradient_rows::kBlock;
    // A gradient plane: radius zeros, the row, radius zeros, and room for the last block's
    // reads; a plane of row sums: the row in whole blocks.
    stride_ =
        (static_cast<size_t>(width) + static_cast<size_t>(span) + 2 * block - 1) / block * block;
    sums_stride_ = PaddedRow(width);
    const size_t lanes = static_cast<size_t>(kGradients) * sums_stride_;
    // Row sums of rows y - radius - 1 (leaving the window) .. y + radius (entering it).
    if (lanes > static_cast<size_t>(INT32_MAX) ||
        !ring_.Init(static_cast<int>(lanes), 2 * radius + 2)) {
      return false;
    }
    try {
      blocks_.assign(static_cast<size_t>(2 * radius + 2), gradient_rows::BlockRange{});
      // The padding and the frame pixels of the gradient planes are never written: zero.
      gradients_.assign(kGradients * stride_ + block + static_cast<size_t>(span), 0);
      runs_.assign(kGradients * stride_ + block, 0);
      column_.assign(lanes, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Moves the window sums to row y. Call for y = 0, 1, 2, ... in order; rows(r) returns the
  // unchanged image row r and is asked for rows up to y + radius + 1.
  template <typename RowSource>
  void Slide(int y, RowSource&& rows) {
    const int last = std::min(y + radius_, height_ - 1);
    for (; made_ <= last; ++made_) MakeRowSums(made_, rows);
    uint32_t* __restrict column = column_.data();
    int leaving = y - radius_ - 1;
    for (; summed_ <= last; ++summed_) {
      const T* out = leaving >= 0 ? ring_.Row(leaving) : nullptr;
      StepColumns(column, ring_.Row(summed_), Blocks(summed_), out,
                  leaving >= 0 ? Blocks(leaving) : gradient_rows::BlockRange{}, sums_stride_);
      leaving = -1;
    }
    if (leaving >= 0) {
      StepColumns<T>(column, nullptr, {}, ring_.Row(leaving), Blocks(leaving), sums_stride_);
    }
  }

  // The direction codes of every pixel of the row last slid to, and of the padding up to
  // PaddedRow(width).
  void Codes(uint8_t* codes) const {
    EstimateCodes(Sums(kHorizontal), Sums(kDiagonal1), Sums(kVertical), Sums(kDiagonal2),
                  static_cast<int>(sums_stride_), codes);
  }

  // The codes and anisotropies of every pixel of the row last slid to, as Estimate gives them
  // (the anisotropies possibly clamped to 0 .. 255; and of the padding up to PaddedRow(width),
  // or not).
  void Estimates(uint8_t* codes, int32_t* anisotropies) const {
    // (2 radius + 1)^2 pixels of gradients up to 510 each bound every sum.
    const int64_t side = 2 * int64_t{radius_} + 1;
    if (side * side * 510 < kRowEstimateLimit) {
      EstimateRow(Sums(kHorizontal), Sums(kDiagonal1), Sums(kVertical), Sums(kDiagonal2),
                  static_cast<int>(sums_stride_), codes, anisotropies);
      return;
    }
    const int32_t* h = Sums(kHorizontal);
    const int32_t* d1 = Sums(kDiagonal1);
    const int32_t* v = Sums(kVertical);
    const int32_t* d2 = Sums(kDiagonal2);
    for (int x = 0; x < width_; ++x) {
      const DirectionEstimate e = Estimate(h[x], d1[x], v[x], d2[x]);
      codes[x] = e.code;
      anisotropies[x] = e.anisotropy;
    }
  }

 private:
  // The window sums of gradient g (the column sums: int32_t may alias uint32_t).
  const int32_t* Sums(Gradient g) const {
    return reinterpret_cast<const int32_t*>(column_.data() + static_cast<size_t>(g) * sums_stride_);
  }

  // The blocks outside which row r of the ring (made, not yet replaced) is 0.
  gradient_rows::BlockRange& Blocks(int r) {
    return blocks_[static_cast<size_t>(r) % blocks_.size()];
  }

  template <typename RowSource>
  void MakeRowSums(int r, RowSource&& rows) {
    T* out = ring_.Row(r);
    if (r < 1 || r > height_ - 2) {
      Blocks(r) = {};
      return;
    }
    const uint8_t* __restrict above = rows(r - 1);
    const uint8_t* __restrict row = rows(r);
    const uint8_t* __restrict below = rows(r + 1);
    // |row[x] - a| + |row[x] - b| for the two neighbours of each direction, off the frame.
    uint16_t* gradients = gradients_.data() + radius_;  // pixel 0 of the first plane
    const gradient_rows::BlockRange blocks =
        GradientRow(above, row, below, width_, stride_, radius_, gradients);
    Blocks(r) = blocks;
    if (blocks.first < blocks.last) {
      RowSums(gradients_.data(), stride_, blocks, split_, runs_.data(), out, sums_stride_);
    }
  }

  int width_ = 0;
  int height_ = 0;
  int radius_ = 0;
  int made_ = 0;            // the next row to sum along
  int summed_ = 0;          // the next row to enter the column sums
  size_t stride_ = 0;       // values from one gradient's plane to the next in gradients_, runs_
  size_t sums_stride_ = 0;  // the same in the ring's rows and column_
  gradient_rows::WindowSplit split_;
  std::vector<uint16_t> gradients_;  // the gradient row being summed
  std::vector<T> runs_;              // its run sums (the split of the row sums)
  RowRing<T> ring_;
  std::vector<gradient_rows::BlockRange> blocks_;  // of the ring's rows, as ring_ holds them
  std::vector<uint32_t> column_;
};

// Row sums of gradients fit 16 bits up to this window side ((2 radius + 1) x 510 < 2^16).
constexpr int kNarrowSide = 128;
static_assert(kNarrowSide * 510 < 65536, "a row sum of gradients must fit 16 bits");

// body(windows) with the GradientWindows whose row sums fit the radius, initialised; false when
// they cannot be allocated.
template <typename Body>
bool WithGradientWindows(int width, int height, int radius, Body&& body) {
  if (2 * int64_t{radius} + 1 <= kNarrowSide) {
    GradientWindows<uint16_t> windows;
    return windows.Init(width, height, radius) && body(windows);
  }
  GradientWindows<uint32_t> windows;
  return windows.Init(width, height, radius) && body(windows);
}

// spared[x] = 1 for the pixels of row y within the clearance of a singular point, else 0.
void MarkSpared(const SingularPointList& points, int width, int y, uint8_t* spared) {
  std::fill(spared, spared + width, uint8_t{0});
  const int count = std::clamp(points.Count, 0, kSingularCapacity);
  for (int i = 0; i < count; ++i) {
    const int64_t dy = int64_t{points.Y[i]} - y;
    if (dy * dy >= kSingularClearance2) continue;
    // |dx| < 3 whenever dx^2 + dy^2 < 9.
    const int64_t first = std::max(int64_t{points.X[i]} - 2, int64_t{0});
    const int64_t last = std::min(int64_t{points.X[i]} + 2, int64_t{width} - 1);
    for (int64_t x = first; x <= last; ++x) {
      const int64_t dx = points.X[i] - x;
      if (dx * dx + dy * dy < kSingularClearance2) spared[x] = 1;
    }
  }
}

}  // namespace

DirectionEstimate EstimateDirection(int32_t horizontal, int32_t diagonal1, int32_t vertical,
                                    int32_t diagonal2) {
  return Estimate(horizontal, diagonal1, vertical, diagonal2);
}

void EstimateDirectionCodes(const int32_t* horizontal, const int32_t* diagonal1,
                            const int32_t* vertical, const int32_t* diagonal2, int count,
                            uint8_t* codes) {
  EstimateCodes(horizontal, diagonal1, vertical, diagonal2, count, codes);
}

void EstimateDirections(const int32_t* horizontal, const int32_t* diagonal1,
                        const int32_t* vertical, const int32_t* diagonal2, int count,
                        uint8_t* codes, int32_t* anisotropies) {
  EstimateRow(horizontal, diagonal1, vertical, diagonal2, count, codes, anisotropies);
}

int SmoothLevel(const EngineParams& params, int32_t anisotropy) {
  const int32_t high = params.AnisotropyHigh;
  const int32_t low = params.AnisotropyLow;
  const int32_t a = std::min(anisotropy, high);
  int32_t m = (a < low ? 0 : a - low) * params.SmoothLevelScale;
  const int32_t span = high - low;
  int level = params.SmoothLevelBase;
  // Rounds half up m / span. An empty or inverted span adds nothing (it would never end).
  if (span > 0) {
    for (; m >= span / 2; m -= span) ++level;
  }
  // The level shares its byte with the clarity map: it must stay in bits 0-2.
  return std::clamp(level, 0, kMaxLevel);
}

bool ReSmoothBinary(const EngineParams* params, int width, int height, GrayImage image,
                    int radius) {
  assert(params != nullptr && width > 0 && height > 0 && radius >= 0);
  // The window keeps the unfiltered rows that the kernels read (y - 6 .. y + 6) and those whose
  // gradients still have to enter the window sums (up to y + radius + 1), so each pass reads
  // only the image as it was at its start.
  SmoothingWindow window;
  std::vector<uint8_t> codes;
  try {
    codes.resize(PaddedRow(width));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int pass = 0; pass < params->BinarySmoothPasses; ++pass) {
    if (!window.Init(width, height, std::max(kKernelReach, radius + 1))) return false;
    const bool done = WithGradientWindows(width, height, radius, [&](auto& gradients) {
      for (int y = 0; y < height; ++y) {
        window.Advance(image, y);
        gradients.Slide(y, [&](int r) { return window.Row(r); });
        gradients.Codes(codes.data());
        window.SmoothRow(codes.data(), image[y]);
      }
      return true;
    });
    if (!done) return false;
  }
  return true;
}

bool RefreshDirections(const EngineParams* params, int width, int height,
                       const uint8_t* const* image, GrayImage directionImage, GrayImage levelMap,
                       const SingularPointList* singularPoints, int radius) {
  assert(params != nullptr && singularPoints != nullptr);
  std::vector<uint8_t> codes;
  std::vector<int32_t> anisotropies;
  std::vector<uint8_t> spared;
  try {
    codes.resize(PaddedRow(width));
    anisotropies.resize(PaddedRow(width));
    spared.resize(static_cast<size_t>(width));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const refresh_row::LevelSteps steps([&](int a) { return SmoothLevel(*params, a); });
  return WithGradientWindows(width, height, radius, [&](auto& gradients) {
    for (int y = 0; y < height; ++y) {
      gradients.Slide(y, [&](int r) { return image[r]; });
      gradients.Estimates(codes.data(), anisotropies.data());
      MarkSpared(*singularPoints, width, y, spared.data());
      if (steps.monotone) {
        RefreshLevels(steps, codes.data(), anisotropies.data(), spared.data(), width,
                      directionImage[y], levelMap[y]);
        continue;
      }
      uint8_t* __restrict direction = directionImage[y];
      uint8_t* __restrict level = levelMap[y];
      for (int x = 0; x < width; ++x) {
        const auto i = static_cast<size_t>(x);
        const auto background = static_cast<uint8_t>(direction[i] & kBackgroundBit);
        direction[i] = static_cast<uint8_t>(codes[i] | background);
        const uint8_t due = steps.table[static_cast<size_t>(
            std::clamp(anisotropies[i], int32_t{0}, kNoDirectionAnisotropy))];
        // Background pixels and those near a singular point get no rounds.
        const bool none = (background | spared[i]) != 0;
        level[i] = static_cast<uint8_t>((level[i] & ~kLevelBits) | (none ? 0 : due));
      }
    }
    return true;
  });
}

bool LevelSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage,
                 GrayImage levelMap) {
  assert(width > 0 && height > 0);
  // Each pass smooths only the pixels with a round due, reading the image as it was at the
  // start of the pass, and lowers their level by one; at most 7 passes do any work.
  SmoothingWindow window;
  std::vector<uint8_t> codes;
  // Whether each row has a round due in the coming pass: a row without one is left alone
  // (nothing smoothed, no level lowered), and the window copies only the rows within the
  // kernel's reach of a row that is smoothed.
  std::vector<uint8_t> row_due;
  try {
    codes.resize(static_cast<size_t>(width));
    row_due.resize(static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* __restrict levels = levelMap[y];
    uint8_t seen = 0;
    for (int x = 0; x < width; ++x) seen = static_cast<uint8_t>(seen | levels[x]);
    row_due[static_cast<size_t>(y)] = (seen & kLevelBits) != 0 ? 1 : 0;
  }
  uint8_t* __restrict row_codes = codes.data();
  for (bool due = true; due;) {
    if (!window.Init(width, height, kKernelReach, /*byte_rows=*/false)) return false;
    due = false;
    for (int y = 0; y < height; ++y) {
      if (row_due[static_cast<size_t>(y)] == 0) continue;
      // A pixel of level 0 keeps its value; the others are smoothed and lose one level.
      static_assert(SmoothingWindow::kKeep == 0xFF && kLevelBits == 0x07);
      const uint8_t still_due = LevelPassRow(directionImage[y], width, levelMap[y], row_codes);
      row_due[static_cast<size_t>(y)] = still_due != 0 ? 1 : 0;
      window.Advance(image, y);
      window.SmoothRow(row_codes, image[y]);
      due = due || still_due != 0;
    }
  }
  return true;
}

}  // namespace ridgeline
