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
#include "extract/oriented_smoothing.h"
#include "extract/window_sums.h"

namespace ridgeline {
namespace {

constexpr int32_t kNoDirectionAnisotropy = 255;
// Diagonal differences span sqrt(2) pixels: they are scaled by 71 / 100 before comparing.
constexpr int32_t kDiagonalScale = 71;
// Each base code is the centre of a 30-code (45-degree) sector; the interpolation spans +-15.
constexpr int32_t kSectorHalf = 15;
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

// Estimate's code for a row of pixels, written without branches so that the loop vectorises:
// the sector choice becomes selects (the same strict comparisons, so the same tie rule), and
// the division by n, the one step with no vector instruction for integers, is done in double.
// That is exact: the numerator and n are integers below 2^53, so a whole quotient comes out
// whole, and any other lies at least 1 / |n| from the next whole number while the rounding
// moves it by under |quotient| 2^-53, far less.
void EstimateCodes(const int32_t* __restrict horizontal, const int32_t* __restrict diagonal1,
                   const int32_t* __restrict vertical, const int32_t* __restrict diagonal2,
                   int count, uint8_t* __restrict codes) {
  for (int i = 0; i < count; ++i) {
    const int32_t h = horizontal[i];
    const int32_t v = vertical[i];
    // Sums are below 2^24, so the products fit and unsigned division gives the same quotient.
    const auto d1 =
        static_cast<int32_t>(static_cast<uint32_t>(diagonal1[i]) * kDiagonalScale / 100u);
    const auto d2 =
        static_cast<int32_t>(static_cast<uint32_t>(diagonal2[i]) * kDiagonalScale / 100u);
    const int32_t most = std::max(std::max(h, d1), std::max(v, d2));
    // numerator = 3 (p - s) - q + r of the chosen sector, as in Estimate.
    int32_t base = 45;
    int32_t pair = v + d1;
    int32_t numerator = 3 * (d2 - h) - d1 + v;
    const bool second = v + d2 < pair;
    base = second ? 75 : base;
    pair = second ? v + d2 : pair;
    numerator = second ? 3 * (h - d1) - v + d2 : numerator;
    const bool third = h + d2 < pair;
    base = third ? 105 : base;
    pair = third ? h + d2 : pair;
    numerator = third ? 3 * (d1 - v) - d2 + h : numerator;
    const bool fourth = h + d1 < pair;
    base = fourth ? 15 : base;
    numerator = fourth ? 3 * (v - d2) - h + d1 : numerator;

    const int32_t n = h + v + d1 + d2 - 4 * most;  // <= 0
    // n == 0 (no direction) divides by -1 instead, and its quotient is not used.
    const auto divisor = static_cast<double>(n - (n == 0 ? 1 : 0));
    const auto offset =
        static_cast<int32_t>(static_cast<double>(numerator * kSectorHalf) / divisor);
    int32_t code = base + offset;
    code = code == kDirectionSteps ? 0 : code;
    code = n == 0 ? kNoDirection : code;
    codes[i] = static_cast<uint8_t>(code);
  }
}

// The four gradient sums over the (2 radius + 1)^2 window of each pixel of one row, slid down
// the image row by row. Only pixels off the frame have gradients; the rest contribute 0.
class GradientWindows {
 public:
  // Returns false when the sums cannot be allocated.
  bool Init(int width, int height, int radius) {
    assert(width > 0 && height > 0 && radius >= 0);
    width_ = width;
    height_ = height;
    radius_ = radius;
    made_ = 0;
    // Gradient rows y - radius - 1 (leaving the window) .. y + radius (entering it).
    for (int g = 0; g < kGradients; ++g) {
      if (!rings_[g].Init(width, 2 * radius + 2) || !sums_[g].Init(width, height, radius)) {
        return false;
      }
    }
    return true;
  }

  // Moves the window sums to row y. Call for y = 0, 1, 2, ... in order; rows(r) returns the
  // unchanged image row r and is asked for rows up to y + radius + 1.
  template <typename RowSource>
  void Slide(int y, RowSource&& rows) {
    for (; made_ < height_ && made_ <= y + radius_; ++made_) MakeGradientRow(made_, rows);
    for (int g = 0; g < kGradients; ++g) {
      sums_[g].Slide(y, [&](int r) { return rings_[g].Row(r); });
    }
  }

  // The direction codes of every pixel of the row last slid to.
  void Codes(uint8_t* codes) const {
    EstimateCodes(sums_[kHorizontal].Sums(), sums_[kDiagonal1].Sums(), sums_[kVertical].Sums(),
                  sums_[kDiagonal2].Sums(), width_, codes);
  }

  // The direction of the window of pixel x of the row last slid to.
  DirectionEstimate At(int x) const {
    return Estimate(sums_[kHorizontal].Sum(x), sums_[kDiagonal1].Sum(x), sums_[kVertical].Sum(x),
                    sums_[kDiagonal2].Sum(x));
  }

 private:
  template <typename RowSource>
  void MakeGradientRow(int r, RowSource&& rows) {
    std::array<uint16_t*, kGradients> out;
    for (int g = 0; g < kGradients; ++g) {
      out[g] = rings_[g].Row(r);
      std::fill(out[g], out[g] + width_, uint16_t{0});
    }
    if (r < 1 || r > height_ - 2) return;
    const uint8_t* above = rows(r - 1);
    const uint8_t* row = rows(r);
    const uint8_t* below = rows(r + 1);
    // dst[x] = |row[x] - a[x + da]| + |row[x] - b[x + db]| off the frame, one gradient per loop.
    auto gradient = [&](uint16_t* dst, const uint8_t* a, int da, const uint8_t* b, int db) {
      for (int x = 1; x < width_ - 1; ++x) {
        dst[x] = static_cast<uint16_t>(std::abs(row[x] - a[x + da]) + std::abs(row[x] - b[x + db]));
      }
    };
    gradient(out[kHorizontal], row, -1, row, +1);
    gradient(out[kDiagonal1], above, -1, below, +1);
    gradient(out[kVertical], above, 0, below, 0);
    gradient(out[kDiagonal2], below, -1, above, +1);
  }

  int width_ = 0;
  int height_ = 0;
  int radius_ = 0;
  int made_ = 0;  // the next gradient row to make
  std::array<RowRing<uint16_t>, kGradients> rings_;
  std::array<WindowSums<uint16_t>, kGradients> sums_;
};

bool NearSingularPoint(const SingularPointList& points, int x, int y) {
  const int count = std::clamp(points.Count, 0, kSingularCapacity);
  for (int i = 0; i < count; ++i) {
    const int dx = points.X[i] - x;
    const int dy = points.Y[i] - y;
    if (dx * dx + dy * dy < kSingularClearance2) return true;
  }
  return false;
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
  if (!gradients.Init(width, height, radius)) return false;
  // Anisotropies run 0 .. 255 (an unusual window could fall outside): the level of each,
  // worked out once.
  std::array<uint8_t, kNoDirectionAnisotropy + 1> level_of{};
  for (int a = 0; a <= kNoDirectionAnisotropy; ++a) {
    level_of[static_cast<size_t>(a)] = static_cast<uint8_t>(SmoothLevel(*params, a));
  }
  for (int y = 0; y < height; ++y) {
    gradients.Slide(y, [&](int r) { return image[r]; });
    for (int x = 0; x < width; ++x) {
      const DirectionEstimate estimate = gradients.At(x);
      uint8_t& direction = directionImage[y][x];
      const uint8_t background = direction & kBackgroundBit;
      direction = static_cast<uint8_t>(estimate.code | background);
      uint8_t& level = levelMap[y][x];
      level &= static_cast<uint8_t>(~kLevelBits);
      if (background != 0 || NearSingularPoint(*singularPoints, x, y)) continue;
      const int32_t a = estimate.anisotropy;
      level |= a >= 0 && a <= kNoDirectionAnisotropy
                   ? level_of[static_cast<size_t>(a)]
                   : static_cast<uint8_t>(SmoothLevel(*params, a));
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
