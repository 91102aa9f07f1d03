// Re-smoothing of the binary image along directions estimated from its own gradients, the
// refresh of the DirectionImage and the per-pixel smoothing levels.
#include "extract/binary_resmoothing.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdlib>
#include <new>
#include <vector>

#include "core/constants.h"
#include "extract/direction_estimate_row.h"
#include "extract/direction_estimate_vector.h"
#include "extract/gradient_window_rows.h"
#include "extract/oriented_smoothing.h"
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

// The row forms of Estimate: codes only (the re-smoothing), and codes with anisotropies.
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
#endif
}

// StepColumns at the processor's widest vectors.
void StepColumns(uint32_t* column, const uint16_t* entering, const uint16_t* leaving,
                 size_t lanes) {
#if RIDGELINE_HIGHWAY
  StepColumnsVector(column, entering, leaving, lanes);
#else
  gradient_rows::StepColumns(column, entering, leaving, lanes);
#endif
}

// The window sums of every pixel x of the row, split into one row per gradient: the sum of the
// columns x - radius .. x + radius clipped to the row, slid along the row. padded holds the
// column sums, four lanes (the gradients of one pixel) per column, with radius + 1 columns of
// zeros before column 0 and radius after the last, so the column entering the window and the
// one leaving it are read with no test at the ends. The four running sums advance together as
// one vector, modulo 2^32: the result is exact while the window sum itself fits.
void SlideWindowSums(const uint32_t* __restrict padded, int width, int radius,
                     int32_t* __restrict horizontal, int32_t* __restrict diagonal1,
                     int32_t* __restrict vertical, int32_t* __restrict diagonal2) {
  const uint32_t* __restrict column = padded + kGradients * (radius + 1);
  uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  // The window of pixel -1: columns 0 .. radius - 1.
  for (int x = 0; x < radius; ++x) {
    s0 += column[kGradients * x];
    s1 += column[kGradients * x + 1];
    s2 += column[kGradients * x + 2];
    s3 += column[kGradients * x + 3];
  }
  const uint32_t* __restrict entering = column + kGradients * radius;
  const uint32_t* __restrict leaving = column - kGradients * (radius + 1);
  for (int x = 0; x < width; ++x) {
    s0 += entering[kGradients * x] - leaving[kGradients * x];
    s1 += entering[kGradients * x + 1] - leaving[kGradients * x + 1];
    s2 += entering[kGradients * x + 2] - leaving[kGradients * x + 2];
    s3 += entering[kGradients * x + 3] - leaving[kGradients * x + 3];
    horizontal[x] = static_cast<int32_t>(s0);
    diagonal1[x] = static_cast<int32_t>(s1);
    vertical[x] = static_cast<int32_t>(s2);
    diagonal2[x] = static_cast<int32_t>(s3);
  }
}

// The four gradient sums over the (2 radius + 1)^2 window of each pixel of one row, slid down
// the image row by row. Only pixels off the frame have gradients; the rest contribute 0.
//
// A pixel's four gradients sit side by side (horizontal, diagonal 1, vertical, diagonal 2) in
// every row this class keeps, so each step is one loop over 4 x width values: the gradient
// rows, the column sums over the window's rows (the row entering and the row leaving in one
// pass), and the window sums slid along the row (SlideWindowSums), where the four running sums
// of a pixel advance together as one vector.
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
    const size_t lanes = static_cast<size_t>(kGradients) * static_cast<size_t>(width);
    // Gradient rows y - radius - 1 (leaving the window) .. y + radius (entering it).
    if (!ring_.Init(kGradients * width, 2 * radius + 2)) return false;
    try {
      // The column sums with radius + 1 columns of zeros before them and radius after.
      column_.assign(
          lanes + static_cast<size_t>(kGradients) * (2 * static_cast<size_t>(radius) + 1), 0);
      for (auto& sums : sums_) sums.assign(static_cast<size_t>(width), 0);
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
    for (; made_ <= last; ++made_) MakeGradientRow(made_, rows);
    const size_t lanes = static_cast<size_t>(kGradients) * static_cast<size_t>(width_);
    uint32_t* __restrict column =
        column_.data() + static_cast<size_t>(kGradients) * (static_cast<size_t>(radius_) + 1);
    int leaving = y - radius_ - 1;
    for (; summed_ <= last; ++summed_) {
      StepColumns(column, ring_.Row(summed_), leaving >= 0 ? ring_.Row(leaving) : nullptr, lanes);
      leaving = -1;
    }
    if (leaving >= 0) StepColumns(column, nullptr, ring_.Row(leaving), lanes);
    MakeWindowSums();
  }

  // The direction codes of every pixel of the row last slid to.
  void Codes(uint8_t* codes) const {
    EstimateCodes(Sums(kHorizontal), Sums(kDiagonal1), Sums(kVertical), Sums(kDiagonal2), width_,
                  codes);
  }

  // The codes and anisotropies of every pixel of the row last slid to, as Estimate gives them.
  void Estimates(uint8_t* codes, int32_t* anisotropies) const {
    // (2 radius + 1)^2 pixels of gradients up to 510 each bound every sum.
    const int64_t side = 2 * int64_t{radius_} + 1;
    if (side * side * 510 < kRowEstimateLimit) {
      EstimateRow(Sums(kHorizontal), Sums(kDiagonal1), Sums(kVertical), Sums(kDiagonal2), width_,
                  codes, anisotropies);
      return;
    }
    for (int x = 0; x < width_; ++x) {
      const auto i = static_cast<size_t>(x);
      const DirectionEstimate e = Estimate(sums_[kHorizontal][i], sums_[kDiagonal1][i],
                                           sums_[kVertical][i], sums_[kDiagonal2][i]);
      codes[i] = e.code;
      anisotropies[i] = e.anisotropy;
    }
  }

 private:
  const int32_t* Sums(Gradient g) const { return sums_[static_cast<size_t>(g)].data(); }

  template <typename RowSource>
  void MakeGradientRow(int r, RowSource&& rows) {
    uint16_t* __restrict out = ring_.Row(r);
    const size_t w = static_cast<size_t>(width_);
    if (r < 1 || r > height_ - 2) {
      std::fill(out, out + kGradients * w, uint16_t{0});
      return;
    }
    std::fill(out, out + kGradients, uint16_t{0});
    std::fill(out + kGradients * (w - 1), out + kGradients * w, uint16_t{0});
    const uint8_t* __restrict above = rows(r - 1);
    const uint8_t* __restrict row = rows(r);
    const uint8_t* __restrict below = rows(r + 1);
    // |row[x] - a| + |row[x] - b| for the two neighbours of each direction, off the frame.
#if RIDGELINE_HIGHWAY
    GradientRowVector(above, row, below, width_, out);
#else
    gradient_rows::GradientRow(above, row, below, width_, out);
#endif
  }

  // sums_[g][x] = the sum of column_ over the columns x - radius .. x + radius clipped to the
  // row, for every gradient g.
  void MakeWindowSums() {
    SlideWindowSums(column_.data(), width_, radius_, sums_[kHorizontal].data(),
                    sums_[kDiagonal1].data(), sums_[kVertical].data(), sums_[kDiagonal2].data());
  }

  int width_ = 0;
  int height_ = 0;
  int radius_ = 0;
  int made_ = 0;    // the next gradient row to make
  int summed_ = 0;  // the next gradient row to enter the column sums
  RowRing<uint16_t> ring_;
  std::vector<uint32_t> column_;  // padded as SlideWindowSums reads it
  std::array<std::vector<int32_t>, kGradients> sums_;
};

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
  GradientWindows gradients;
  std::vector<uint8_t> codes;
  try {
    codes.resize(static_cast<size_t>(width));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int pass = 0; pass < params->BinarySmoothPasses; ++pass) {
    if (!window.Init(width, height, std::max(kKernelReach, radius + 1)) ||
        !gradients.Init(width, height, radius)) {
      return false;
    }
    for (int y = 0; y < height; ++y) {
      window.Advance(image, y);
      gradients.Slide(y, [&](int r) { return window.Row(r); });
      gradients.Codes(codes.data());
      window.SmoothRow(codes.data(), image[y]);
    }
  }
  return true;
}

bool RefreshDirections(const EngineParams* params, int width, int height,
                       const uint8_t* const* image, GrayImage directionImage, GrayImage levelMap,
                       const SingularPointList* singularPoints, int radius) {
  assert(params != nullptr && singularPoints != nullptr);
  GradientWindows gradients;
  std::vector<uint8_t> codes;
  std::vector<int32_t> anisotropies;
  std::vector<uint8_t> spared;
  if (!gradients.Init(width, height, radius)) return false;
  try {
    codes.resize(static_cast<size_t>(width));
    anisotropies.resize(static_cast<size_t>(width));
    spared.resize(static_cast<size_t>(width));
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Anisotropies run 0 .. 255 (an unusual window could fall outside): the level of each,
  // worked out once.
  std::array<uint8_t, kNoDirectionAnisotropy + 1> level_of{};
  for (int a = 0; a <= kNoDirectionAnisotropy; ++a) {
    level_of[static_cast<size_t>(a)] = static_cast<uint8_t>(SmoothLevel(*params, a));
  }
  for (int y = 0; y < height; ++y) {
    gradients.Slide(y, [&](int r) { return image[r]; });
    gradients.Estimates(codes.data(), anisotropies.data());
    MarkSpared(*singularPoints, width, y, spared.data());
    uint8_t* __restrict direction = directionImage[y];
    uint8_t* __restrict level = levelMap[y];
    for (int x = 0; x < width; ++x) {
      const auto i = static_cast<size_t>(x);
      const auto background = static_cast<uint8_t>(direction[i] & kBackgroundBit);
      direction[i] = static_cast<uint8_t>(codes[i] | background);
      const int32_t a = anisotropies[i];
      const auto due = static_cast<uint8_t>(static_cast<uint32_t>(a) <=
                                                    static_cast<uint32_t>(kNoDirectionAnisotropy)
                                                ? level_of[static_cast<size_t>(a)]
                                                : SmoothLevel(*params, a));
      // Background pixels and those near a singular point get no rounds.
      const bool none = (background | spared[i]) != 0;
      level[i] = static_cast<uint8_t>((level[i] & ~kLevelBits) | (none ? 0 : due));
    }
  }
  return true;
}

bool LevelSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage,
                 GrayImage levelMap) {
  assert(width > 0 && height > 0);
  // Each pass smooths only the pixels with a round due, reading the image as it was at the
  // start of the pass, and lowers their level by one; at most 7 passes do any work.
  SmoothingWindow window;
  std::vector<uint8_t> codes;
  try {
    codes.resize(static_cast<size_t>(width));
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint8_t* __restrict row_codes = codes.data();
  for (bool due = true; due;) {
    if (!window.Init(width, height)) return false;
    due = false;
    for (int y = 0; y < height; ++y) {
      window.Advance(image, y);
      const uint8_t* __restrict dir = directionImage[y];
      uint8_t* __restrict levels = levelMap[y];
      // A pixel of level 0 keeps its value; the others are smoothed and lose one level.
      uint8_t still_due = 0;
      for (int x = 0; x < width; ++x) {
        // Branch-free, for the vectoriser: kKeep is all ones, so or-ing it in keeps the pixel.
        const uint8_t raw = levels[x];
        const auto active = static_cast<uint8_t>((raw & kLevelBits) != 0 ? 1 : 0);
        const auto keep = static_cast<uint8_t>(active - 1);  // 0xFF on level 0, else 0
        static_assert(SmoothingWindow::kKeep == 0xFF);
        row_codes[x] = static_cast<uint8_t>((dir[x] & kCodeMask) | keep);
        const auto lowered = static_cast<uint8_t>(raw - active);
        levels[x] = lowered;
        still_due = static_cast<uint8_t>(still_due | (lowered & kLevelBits));
      }
      window.SmoothRow(row_codes, image[y]);
      due = due || still_due != 0;
    }
  }
  return true;
}

}  // namespace ridgeline
