#include "extract/foreground.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <new>
#include <vector>

#include "core/constants.h"
#include "extract/row_loops.h"
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
  // Sets keep[x] = 1 for every column x of the row within some selected circle.
  void MarkNear(int width, uint8_t* keep) const {
    for (int i = 0; i < count; ++i) {
      const int centre = x[static_cast<size_t>(i)];
      const int reach = reach2[static_cast<size_t>(i)];
      // reach <= 256, so only columns within 16 of the centre can be inside.
      const int first = std::max(centre - 16, 0);
      const int last = std::min(centre + 16, width - 1);
      for (int column = first; column <= last; ++column) {
        const int dx = centre - column;
        if (dx * dx < reach) keep[column] = 1;
      }
    }
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
  std::vector<uint8_t> keep_row;
  RowPoints near;
  try {
    column_count.assign(static_cast<size_t>(width), 0);
    usable_row.assign(static_cast<size_t>(width), 0);
    keep_row.assign(static_cast<size_t>(width), 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  // Column counts of usable pixels: the row entering (in) and the row leaving (out), either
  // possibly absent, in one branch-free pass.
  auto count_rows = [&](int in, int out) {
    CountBelowLimit(column_count.data(), in >= 0 ? isotropyImage[in] : nullptr,
                    out >= 0 ? isotropyImage[out] : nullptr, limit, width);
  };

  int64_t foreground_sum = 0;
  int64_t foreground_count = 0;
  int next_row = 0;
  for (; next_row < height && next_row < hw; ++next_row) count_rows(next_row, -1);
  for (int y = 0; y < height; ++y) {
    // Column counts cover rows y - hw .. y + hw clipped to the image.
    const int in = next_row < height && next_row <= y + hw ? next_row++ : -1;
    count_rows(in, y - hw - 1);

    // Counts over the columns x - hw .. x + hw clipped to the image.
    SumAlongRow(column_count.data(), width, hw, usable_row.data());
    // The circles around the singular points, then the mask with the counts, branch-free.
    uint8_t* near_points = keep_row.data();
    std::fill(near_points, near_points + width, uint8_t{0});
    near.Select(singularPoints, point_count, y);
    near.MarkNear(width, near_points);
    int32_t row_sum = 0;
    int32_t row_count = 0;
    ForegroundRow(usable_row.data(), usable_needed, near_points, isotropyImage[y], width,
                  directionImage[y], &row_sum, &row_count);
    foreground_sum += row_sum;
    foreground_count += row_count;
  }
  if (foreground_count == 0) return kNoForegroundIsotropy;
  return static_cast<uint8_t>(foreground_sum / foreground_count);
}

}  // namespace ridgeline
