#include "extract/foreground.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <new>
#include <vector>

#include "core/constants.h"
#include "extract/window_sums.h"

namespace ridgeline {
namespace {

constexpr int kSingularKeepDistanceSquared = 256;  // pixels within 16 of a singular point stay
constexpr uint8_t kNoForegroundIsotropy = 255;

// The singular points whose keep-circle reaches one row: for each, its column and the squared
// column distance below which a pixel of the row is within the circle.
struct RowPoints {
  int count = 0;
  std::array<int, kSingularCapacity> x{};
  std::array<int, kSingularCapacity> reach2{};

  void Select(const SingularPointList& points, int point_count, int y) {
    count = 0;
    for (int i = 0; i < point_count; ++i) {
      const int dy = points.Y[i] - y;
      // dx^2 + dy^2 < 256 exactly when dx^2 < 256 - dy^2.
      if (dy * dy < kSingularKeepDistanceSquared) {
        x[static_cast<size_t>(count)] = points.X[i];
        reach2[static_cast<size_t>(count)] = kSingularKeepDistanceSquared - dy * dy;
        ++count;
      }
    }
  }
  bool Near(int column) const {
    for (int i = 0; i < count; ++i) {
      const int dx = x[static_cast<size_t>(i)] - column;
      if (dx * dx < reach2[static_cast<size_t>(i)]) return true;
    }
    return false;
  }
};

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
  std::vector<int32_t> usable_row;
  RowPoints near;
  try {
    column_count.assign(static_cast<size_t>(width), 0);
    usable_row.assign(static_cast<size_t>(width), 0);
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

    // Counts over the columns x - hw .. x + hw clipped to the image.
    SumAlongRow(column_count.data(), width, hw, usable_row.data());
    near.Select(singularPoints, point_count, y);
    const uint8_t* iso = isotropyImage[y];
    uint8_t* dir = directionImage[y];
    for (int x = 0; x < width; ++x) {
      if (usable_row[static_cast<size_t>(x)] > usable_needed || near.Near(x)) {
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
