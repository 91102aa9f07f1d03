// Re-smoothing of the binary image along directions estimated from its own gradients, the
// refresh of the DirectionImage and the per-pixel smoothing levels.
#include "extract/binary_resmoothing.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdlib>
#include <new>
#include <vector>

#include "extract/constants.h"
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

// Calls visit(x, y, estimate) for every pixel in row-major order with the direction estimated
// from the window sums of the four gradients of image. Only pixels off the frame have
// gradients; the rest contribute 0. image must not change during the sweep.
template <typename Visit>
bool SweepDirectionEstimates(int width, int height, const uint8_t* const* image, int radius,
                             Visit&& visit) {
  assert(width > 0 && height > 0 && radius >= 0);
  // Gradient rows y - radius - 1 (leaving the window) .. y + radius (entering it).
  std::array<RowRing<uint16_t>, kGradients> rings;
  std::array<WindowSums<uint16_t>, kGradients> sums;
  for (int g = 0; g < kGradients; ++g) {
    if (!rings[g].Init(width, 2 * radius + 2) || !sums[g].Init(width, height, radius)) {
      return false;
    }
  }
  auto make_gradient_row = [&](int r) {
    std::array<uint16_t*, kGradients> out;
    for (int g = 0; g < kGradients; ++g) {
      out[g] = rings[g].Row(r);
      std::fill(out[g], out[g] + width, uint16_t{0});
    }
    if (r < 1 || r > height - 2) return;
    const uint8_t* above = image[r - 1];
    const uint8_t* row = image[r];
    const uint8_t* below = image[r + 1];
    for (int x = 1; x < width - 1; ++x) {
      const int p = row[x];
      out[kHorizontal][x] =
          static_cast<uint16_t>(std::abs(p - row[x - 1]) + std::abs(p - row[x + 1]));
      out[kDiagonal1][x] =
          static_cast<uint16_t>(std::abs(p - above[x - 1]) + std::abs(p - below[x + 1]));
      out[kVertical][x] = static_cast<uint16_t>(std::abs(p - above[x]) + std::abs(p - below[x]));
      out[kDiagonal2][x] =
          static_cast<uint16_t>(std::abs(p - below[x - 1]) + std::abs(p - above[x + 1]));
    }
  };

  int made = 0;
  for (int y = 0; y < height; ++y) {
    for (; made < height && made <= y + radius; ++made) make_gradient_row(made);
    for (int g = 0; g < kGradients; ++g) {
      sums[g].Slide(y, [&](int r) { return rings[g].Row(r); });
    }
    for (int x = 0; x < width; ++x) {
      visit(x, y,
            EstimateDirection(sums[kHorizontal].Sum(x), sums[kDiagonal1].Sum(x),
                              sums[kVertical].Sum(x), sums[kDiagonal2].Sum(x)));
    }
  }
  return true;
}

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
  assert(params != nullptr && width > 0 && height > 0);
  if (params->BinarySmoothPasses <= 0) return true;
  // The codes of one pass, all estimated from the image as it was at the start of the pass;
  // the oriented smoothing then reads the same unfiltered image.
  GrayImage codes = AllocGrayImage(width, height);
  if (codes == nullptr) return false;
  bool ok = true;
  for (int pass = 0; pass < params->BinarySmoothPasses && ok; ++pass) {
    ok = SweepDirectionEstimates(width, height, image, radius,
                                 [codes](int x, int y, const DirectionEstimate& estimate) {
                                   codes[y][x] = estimate.code;
                                 }) &&
         OrientedSmooth(width, height, image, codes);
  }
  FreeGrayImage(codes);
  return ok;
}

bool RefreshDirections(const EngineParams* params, int width, int height,
                       const uint8_t* const* image, GrayImage directionImage, GrayImage levelMap,
                       const SingularPointList* singularPoints, int radius) {
  assert(params != nullptr && singularPoints != nullptr);
  return SweepDirectionEstimates(
      width, height, image, radius, [&](int x, int y, const DirectionEstimate& estimate) {
        uint8_t& direction = directionImage[y][x];
        const uint8_t background = direction & kBackgroundBit;
        direction = static_cast<uint8_t>(estimate.code | background);
        uint8_t& level = levelMap[y][x];
        level &= static_cast<uint8_t>(~kLevelBits);
        if (background != 0 || NearSingularPoint(*singularPoints, x, y)) return;
        level |= static_cast<uint8_t>(SmoothLevel(*params, estimate.anisotropy));
      });
}

bool LevelSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage,
                 GrayImage levelMap) {
  assert(width > 0 && height > 0);
  GrayImage smoothed = nullptr;
  bool ok = true;
  // Every pass lowers each nonzero level by one, so at most 7 passes do any work.
  for (;;) {
    bool due = false;
    for (int y = 0; y < height && !due; ++y) {
      for (int x = 0; x < width && !due; ++x) due = (levelMap[y][x] & kLevelBits) != 0;
    }
    if (!due) break;
    if (smoothed == nullptr && (smoothed = AllocGrayImage(width, height)) == nullptr) {
      ok = false;
      break;
    }
    // All pixels smoothed from the start-of-pass image; only those with rounds due take it.
    CopyGrayImage(width, height, image, smoothed);
    if (!OrientedSmooth(width, height, smoothed, directionImage)) {
      ok = false;
      break;
    }
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        uint8_t& level = levelMap[y][x];
        if ((level & kLevelBits) == 0) continue;
        image[y][x] = smoothed[y][x];
        --level;
      }
    }
  }
  FreeGrayImage(smoothed);
  return ok;
}

}  // namespace ridgeline
