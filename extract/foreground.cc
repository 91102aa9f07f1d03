#include "extract/foreground.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <new>
#include <vector>

#include "core/constants.h"

namespace ridgeline {
namespace {

constexpr int kSingularKeepDistanceSquared = 256;  // pixels within 16 of a singular point stay
constexpr uint8_t kNoForegroundIsotropy = 255;

bool NearSingularPoint(const SingularPointList& points, int count, int x, int y) {
  for (int i = 0; i < count; ++i) {
    const int dx = points.X[i] - x;
    const int dy = points.Y[i] - y;
    if (dx * dx + dy * dy < kSingularKeepDistanceSquared) return true;
  }
  return false;
}

}  // namespace

std::optional<uint8_t> MarkForeground(const EngineParams& params, int width, int height,
                                      GrayImage directionImage, const uint8_t* const* isotropyImage,
                                      const SingularPointList& singularPoints, int halfWindow) {
  assert(halfWindow >= 0);
  const int hw = halfWindow;
  const int side = 2 * hw + 1;
  const int usable_needed = side * side / 2;  // foreground needs strictly more usable pixels
  const int limit = params.IsotropyLimit;
  const int point_count = std::clamp<int>(singularPoints.Count, 0, kSingularCapacity);
  if (width <= 0 || height <= 0) return kNoForegroundIsotropy;

  std::vector<int32_t> column_count;
  try {
    column_count.assign(static_cast<size_t>(width), 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  auto count_row = [&](int y, int sign) {
    const uint8_t* iso = isotropyImage[y];
    for (int x = 0; x < width; ++x) {
      if (iso[x] < limit) column_count[static_cast<size_t>(x)] += sign;
    }
  };

  int64_t foreground_sum = 0;
  int64_t foreground_count = 0;
  int next_row = 0;
  for (; next_row < height && next_row < hw; ++next_row) count_row(next_row, +1);
  for (int y = 0; y < height; ++y) {
    // Column counts cover rows y - hw .. y + hw clipped to the image.
    if (next_row < height && next_row <= y + hw) count_row(next_row++, +1);
    if (y - hw - 1 >= 0) count_row(y - hw - 1, -1);

    // Running count over the columns x - hw .. x + hw clipped to the image.
    int usable = 0;
    int right = 0;
    for (; right < width && right < hw; ++right) usable += column_count[static_cast<size_t>(right)];
    const uint8_t* iso = isotropyImage[y];
    uint8_t* dir = directionImage[y];
    for (int x = 0; x < width; ++x) {
      if (right < width && right <= x + hw) usable += column_count[static_cast<size_t>(right++)];
      if (x - hw - 1 >= 0) usable -= column_count[static_cast<size_t>(x - hw - 1)];
      if (usable > usable_needed || NearSingularPoint(singularPoints, point_count, x, y)) {
        foreground_sum += iso[x];
        ++foreground_count;
      } else {
        dir[x] |= kBackgroundBit;
      }
    }
  }
  if (foreground_count == 0) return kNoForegroundIsotropy;
  return static_cast<uint8_t>(foreground_sum / foreground_count);
}

}  // namespace ridgeline
