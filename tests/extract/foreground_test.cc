#include "extract/foreground.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/engine_params.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

SingularPointList Points(std::initializer_list<std::pair<int, int>> xy) {
  SingularPointList list{};
  for (auto [x, y] : xy) {
    list.X[list.Count] = static_cast<int16_t>(x);
    list.Y[list.Count] = static_cast<int16_t>(y);
    ++list.Count;
  }
  return list;
}

bool IsBackground(const TestImage& direction, int x, int y) {
  return (direction.get()[y][x] & kBackgroundBit) != 0;
}

TEST(MarkForeground, FlatImageIsBackgroundExceptNearSingularPoints) {
  TestImage direction(60, 50, kNoDirection);
  TestImage isotropy(60, 50, 255);
  EXPECT_EQ(MarkForeground(DefaultEngineParams(), 60, 50, direction.get(), isotropy.get(),
                           Points({}), 16),
            255);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 60; ++x) ASSERT_TRUE(IsBackground(direction, x, y));

  TestImage direction2(60, 50, kNoDirection);
  EXPECT_EQ(MarkForeground(DefaultEngineParams(), 60, 50, direction2.get(), isotropy.get(),
                           Points({{30, 25}}), 16),
            255);  // the kept pixels all have isotropy 255
  EXPECT_FALSE(IsBackground(direction2, 30, 25));
  EXPECT_FALSE(IsBackground(direction2, 30 + 15, 25));       // squared distance 225
  EXPECT_TRUE(IsBackground(direction2, 30 + 16, 25));        // squared distance 256
  EXPECT_FALSE(IsBackground(direction2, 30 + 11, 25 + 11));  // 242
  EXPECT_TRUE(IsBackground(direction2, 30 + 12, 25 + 11));   // 265
}

TEST(MarkForeground, ThresholdIs544UsablePixelsOfTheWindow) {
  // 33 x 33 image: the window of the centre pixel is the whole image. Usable pixels come
  // first in row-major order; 544 leaves the centre background, 545 makes it foreground.
  const EngineParams params = DefaultEngineParams();
  for (int usable : {544, 545}) {
    TestImage direction(33, 33, 40);
    TestImage isotropy(33, 33, [&](int x, int y) {
      return static_cast<uint8_t>(y * 33 + x < usable ? params.IsotropyLimit - 1
                                                      : params.IsotropyLimit);
    });
    MarkForeground(params, 33, 33, direction.get(), isotropy.get(), Points({}), 16);
    EXPECT_EQ(IsBackground(direction, 16, 16), usable == 544) << usable;
    EXPECT_EQ(direction.at(16, 16) & kCodeMask, 40);  // the code survives the mark
  }
}

TEST(MarkForeground, MeanIsotropyAveragesTheForegroundOnly) {
  // Left half usable (isotropy 10 and 11 alternating by row), right half 255: the usable
  // block is wide enough that its inner pixels are foreground, the right edge is not.
  TestImage direction(100, 40, 30);
  TestImage isotropy(100, 40,
                     [](int x, int y) { return static_cast<uint8_t>(x < 70 ? 10 + y % 2 : 255); });
  const std::optional<uint8_t> mean = MarkForeground(
      DefaultEngineParams(), 100, 40, direction.get(), isotropy.get(), Points({}), 16);
  ASSERT_TRUE(mean.has_value());
  EXPECT_FALSE(IsBackground(direction, 20, 20));
  EXPECT_TRUE(IsBackground(direction, 99, 20));
  EXPECT_EQ(*mean, 10);  // truncated mean of 10s and 11s
}

// The row sums and the per-row choice of singular points against a direct count of every
// window and every point: random isotropy, points inside, on and beyond the image's edges,
// windows larger than the image.
TEST(MarkForeground, MatchesDirectWindowsAndDistances) {
  const EngineParams params = DefaultEngineParams();
  std::mt19937 rng(31);
  for (auto [w, h, hw] : {std::tuple{61, 47, 16}, {17, 70, 16}, {33, 9, 4}, {5, 5, 16}}) {
    TestImage isotropy(w, h, [&](int, int) -> uint8_t {
      return rng() % 3 == 0 ? 255 : static_cast<uint8_t>(rng() % 256);
    });
    TestImage direction(w, h, [&](int, int) { return static_cast<uint8_t>(rng() % 120); });
    TestImage before(w, h, [&](int x, int y) { return direction.at(x, y); });
    const SingularPointList points =
        Points({{w / 2, h / 2}, {0, h - 1}, {w + 10, 3}, {-15, -15}, {3, h + 15}});
    const std::optional<uint8_t> mean =
        MarkForeground(params, w, h, direction.get(), isotropy.get(), points, hw);
    ASSERT_TRUE(mean.has_value());
    int64_t sum = 0;
    int64_t count = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        int usable = 0;
        for (int j = std::max(0, y - hw); j <= std::min(h - 1, y + hw); ++j)
          for (int i = std::max(0, x - hw); i <= std::min(w - 1, x + hw); ++i)
            usable += isotropy.at(i, j) < params.IsotropyLimit;
        bool near = false;
        for (int k = 0; k < points.Count; ++k) {
          const int dx = points.X[k] - x;
          const int dy = points.Y[k] - y;
          near = near || dx * dx + dy * dy < 256;
        }
        const bool foreground = usable > (2 * hw + 1) * (2 * hw + 1) / 2 || near;
        ASSERT_EQ(direction.at(x, y), foreground ? before.at(x, y) : before.at(x, y) | 0x80)
            << w << "x" << h << " at " << x << "," << y;
        if (foreground) {
          sum += isotropy.at(x, y);
          ++count;
        }
      }
    }
    EXPECT_EQ(*mean, count == 0 ? 255 : sum / count);
  }
}

}  // namespace
}  // namespace ridgeline
