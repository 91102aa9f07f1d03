#include "extract/binary_resmoothing.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "core/engine_params.h"
#include "core/int_math.h"
#include "extract/oriented_smoothing.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

EngineParams Defaults() {
  EngineParams params{};
  InitEngineParams(&params);
  return params;
}

// Angular distance between two codes, folded into 0..60.
int CodeDistance(int a, int b) {
  const int d = (a - b + 120) % 120;
  return d > 60 ? 120 - d : d;
}

TEST(EstimateDirection, FlatWindowHasNoDirection) {
  const DirectionEstimate flat = EstimateDirection(0, 0, 0, 0);
  EXPECT_EQ(flat.code, 127);
  EXPECT_EQ(flat.anisotropy, 255);
  const DirectionEstimate even = EstimateDirection(100, 141, 100, 141);  // 141 x 71 / 100 = 100
  EXPECT_EQ(even.code, 127);
}

TEST(EstimateDirection, CodeOf120IsStoredAsZero) {
  // Only vertical change: base 105 plus the full +15.
  EXPECT_EQ(EstimateDirection(0, 0, 1, 0).code, 0);
  EXPECT_EQ(EstimateDirection(1, 0, 0, 0).code, 60);
}

TEST(EstimateDirection, CodesStayInRangeForAnySums) {
  std::mt19937 rng(3);
  for (int i = 0; i < 200000; ++i) {
    const int32_t scale = (i % 3 == 0) ? 20 : 320000;
    const DirectionEstimate e =
        EstimateDirection(static_cast<int32_t>(rng() % scale), static_cast<int32_t>(rng() % scale),
                          static_cast<int32_t>(rng() % scale), static_cast<int32_t>(rng() % scale));
    ASSERT_TRUE(e.code < 120 || e.code == 127) << int{e.code};
  }
}

TEST(RefreshDirections, StripesGiveTheirDirection) {
  const EngineParams params = Defaults();
  SingularPointList none{};
  for (bool horizontal : {true, false}) {
    TestImage image(40, 40, [&](int x, int y) -> uint8_t {
      return ((horizontal ? y : x) / 3) % 2 == 0 ? 0 : 255;
    });
    TestImage direction(40, 40, 0);
    TestImage level(40, 40, 0);
    ASSERT_TRUE(
        RefreshDirections(&params, 40, 40, image.get(), direction.get(), level.get(), &none, 12));
    const int want = horizontal ? 0 : 60;
    for (int y = 8; y < 32; ++y) {
      for (int x = 8; x < 32; ++x) {
        ASSERT_LE(CodeDistance(direction.at(x, y), want), 2) << x << "," << y;
      }
    }
  }
}

TEST(SmoothLevel, RoundsHalfUpBetweenTheAnisotropyLimits) {
  EngineParams params = Defaults();                      // low 20, high 30, base 0, scale 4
  const int want[] = {0, 0, 1, 1, 2, 2, 2, 3, 3, 4, 4};  // A = 20 .. 30
  for (int a = 20; a <= 30; ++a) EXPECT_EQ(SmoothLevel(params, a), want[a - 20]) << a;
  EXPECT_EQ(SmoothLevel(params, -7), 0);
  EXPECT_EQ(SmoothLevel(params, 0), 0);
  EXPECT_EQ(SmoothLevel(params, 255), 4);
  params.SmoothLevelBase = 2;
  EXPECT_EQ(SmoothLevel(params, 0), 2);
  EXPECT_EQ(SmoothLevel(params, 30), 6);
}

TEST(SmoothLevel, DegenerateSettingsEndAndStayInThreeBits) {
  EngineParams params = Defaults();
  params.AnisotropyHigh = 25;
  params.AnisotropyLow = 25;  // an empty span must not loop for ever
  EXPECT_EQ(SmoothLevel(params, 255), 0);
  params.AnisotropyLow = 40;  // inverted
  EXPECT_EQ(SmoothLevel(params, 255), 0);
  params = Defaults();
  params.SmoothLevelBase = 5;
  params.SmoothLevelScale = 6;
  EXPECT_EQ(SmoothLevel(params, 255), 7);
  params.SmoothLevelBase = -3;
  params.SmoothLevelScale = 0;
  EXPECT_EQ(SmoothLevel(params, 255), 0);
}

TEST(RefreshDirections, KeepsBackgroundAndSparesSingularPoints) {
  const EngineParams params = Defaults();
  SingularPointList points{};
  points.Count = 1;
  points.X[0] = 10;
  points.Y[0] = 10;
  TestImage image(20, 20, 90);  // flat: no direction, anisotropy 255, full level 4
  TestImage direction(20, 20, [](int x, int) -> uint8_t { return x == 0 ? 0x80 | 15 : 33; });
  TestImage level(20, 20, 0xF8 | 3);  // clarity bits and a stale level
  ASSERT_TRUE(
      RefreshDirections(&params, 20, 20, image.get(), direction.get(), level.get(), &points, 12));
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      const int d2 = (x - 10) * (x - 10) + (y - 10) * (y - 10);
      ASSERT_EQ(direction.at(x, y), x == 0 ? 0x80 | 127 : 127);
      const int want_level = (x == 0 || d2 < 9) ? 0 : 4;
      ASSERT_EQ(level.at(x, y), 0xF8 | want_level) << x << "," << y;
    }
  }
  EXPECT_EQ(level.at(12, 12) & 7, 0);  // squared distance 8
  EXPECT_EQ(level.at(13, 10) & 7, 4);  // squared distance 9
}

// The direction and anisotropy of pixel (x, y) summed the long way: the four gradients of every
// pixel of its window clipped to the image, the frame's gradients being 0.
DirectionEstimate DirectEstimate(const TestImage& img, int x, int y, int radius) {
  const int w = img.width(), h = img.height();
  const GrayImage p = img.get();
  int32_t g[4] = {0, 0, 0, 0};
  for (int yy = std::max(y - radius, 1); yy <= std::min(y + radius, h - 2); ++yy) {
    for (int xx = std::max(x - radius, 1); xx <= std::min(x + radius, w - 2); ++xx) {
      const int c = p[yy][xx];
      auto d = [&](int dy1, int dx1, int dy2, int dx2) {
        return std::abs(c - p[yy + dy1][xx + dx1]) + std::abs(c - p[yy + dy2][xx + dx2]);
      };
      g[0] += d(0, -1, 0, 1);
      g[1] += d(-1, -1, 1, 1);
      g[2] += d(-1, 0, 1, 0);
      g[3] += d(1, -1, -1, 1);
    }
  }
  return EstimateDirection(g[0], g[1], g[2], g[3]);
}

TEST(RefreshDirections, LevelsFollowTheAnisotropyOfEachWindowUnderAnySettings) {
  std::mt19937 rng(23);
  for (int trial = 0; trial < 12; ++trial) {
    EngineParams params = Defaults();
    params.AnisotropyLow = static_cast<int32_t>(rng() % 120);
    params.AnisotropyHigh = params.AnisotropyLow + static_cast<int32_t>(rng() % 200) - 20;
    params.SmoothLevelScale = static_cast<int32_t>(rng() % 9);
    params.SmoothLevelBase = static_cast<int32_t>(rng() % 5) - 1;
    const int w = 8 + static_cast<int>(rng() % 30), h = 8 + static_cast<int>(rng() % 30);
    const int radius = 1 + static_cast<int>(rng() % 5);
    // Stripes with noise: anisotropies from near 0 to 255.
    const int period = 3 + static_cast<int>(rng() % 6);
    TestImage image(w, h, [&](int x, int y) {
      const int stripe = ((x + trial * y) / period) % 2 == 0 ? 40 : 210;
      return static_cast<uint8_t>(std::clamp(stripe + static_cast<int>(rng() % 90) - 45, 0, 255));
    });
    TestImage direction(w, h,
                        [&](int, int) { return static_cast<uint8_t>(rng() % 4 == 0 ? 0x80 : 0); });
    TestImage level(w, h, 0xF8);
    const SingularPointList none{};
    ASSERT_TRUE(
        RefreshDirections(&params, w, h, image.get(), direction.get(), level.get(), &none, radius));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const DirectionEstimate e = DirectEstimate(image, x, y, radius);
        ASSERT_EQ(direction.at(x, y) & kCodeMask, e.code) << x << "," << y;
        const int want = (direction.at(x, y) & 0x80) != 0 ? 0 : SmoothLevel(params, e.anisotropy);
        ASSERT_EQ(level.at(x, y), 0xF8 | want) << "trial " << trial << " at " << x << "," << y;
      }
    }
  }
}

TEST(ReSmoothBinary, NoPassesOrFlatImageLeaveItUnchanged) {
  EngineParams params = Defaults();
  params.BinarySmoothPasses = 0;
  TestImage stripes(30, 30, [](int x, int) -> uint8_t { return x % 4 < 2 ? 0 : 255; });
  ASSERT_TRUE(ReSmoothBinary(&params, 30, 30, stripes.get(), 12));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(stripes.at(x, y), x % 4 < 2 ? 0 : 255);

  params.BinarySmoothPasses = 2;
  TestImage flat(30, 30, 255);
  ASSERT_TRUE(ReSmoothBinary(&params, 30, 30, flat.get(), 12));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(flat.at(x, y), 255);
}

TEST(LevelSmooth, SmoothsEachPixelAsOftenAsItsLevel) {
  // Without a direction the smoothing is the 3 x 3 mean, so BoxMean3 of the whole image,
  // taken only where rounds are due, is the reference for each pass.
  std::mt19937 rng(5);
  const int w = 17;
  const int h = 15;
  TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(rng() & 0xFF); });
  TestImage want(w, h, [&](int x, int y) { return image.at(x, y); });
  TestImage direction(w, h, [](int x, int) -> uint8_t { return x % 2 ? 127 : 0x80 | 127; });
  auto level_of = [](int x, int y) { return (x * 3 + y) % 4; };
  TestImage level(w, h, [&](int x, int y) { return static_cast<uint8_t>(0x40 | level_of(x, y)); });

  for (int pass = 0; pass < 3; ++pass) {
    TestImage mean(w, h, [&](int x, int y) { return want.at(x, y); });
    ASSERT_TRUE(BoxMean3(w, h, mean.get()));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (level_of(x, y) > pass) want.at(x, y) = mean.at(x, y);
  }
  ASSERT_TRUE(LevelSmooth(w, h, image.get(), direction.get(), level.get()));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(image.at(x, y), want.at(x, y)) << x << "," << y;
      ASSERT_EQ(level.at(x, y), 0x40);
    }
  }
}

// One re-smoothing pass done the long way: the codes of the whole image first (RefreshDirections
// estimates them from the same window sums), then OrientedSmooth along them.
void ReSmoothPassReference(int w, int h, TestImage& image, int radius) {
  const EngineParams params = Defaults();
  SingularPointList none{};
  TestImage codes(w, h, 0);
  TestImage level(w, h, 0);
  ASSERT_TRUE(
      RefreshDirections(&params, w, h, image.get(), codes.get(), level.get(), &none, radius));
  ASSERT_TRUE(OrientedSmooth(w, h, image.get(), codes.get()));
}

TEST(ReSmoothBinary, EqualsOrientedSmoothAlongTheCodesOfEachPass) {
  // Sizes below and above the kernel's 13 rows and the 2 radius + 1 window, and radii that do
  // and do not reach past the kernel.
  const struct {
    int w, h, radius;
  } cases[] = {{40, 37, 12}, {31, 9, 12}, {9, 30, 3}, {26, 21, 0}, {17, 14, 1}, {3, 3, 12}};
  std::mt19937 rng(11);
  for (const auto& c : cases) {
    // Blobs of 0 and 255, as a first binarisation leaves them.
    TestImage image(c.w, c.h, [&](int x, int y) -> uint8_t {
      return ((x / 3 + y / 4 + static_cast<int>(rng() % 3)) % 2) == 0 ? 0 : 255;
    });
    TestImage want(c.w, c.h, [&](int x, int y) { return image.at(x, y); });
    EngineParams params = Defaults();
    params.BinarySmoothPasses = 2;
    for (int pass = 0; pass < params.BinarySmoothPasses; ++pass) {
      ReSmoothPassReference(c.w, c.h, want, c.radius);
    }
    ASSERT_TRUE(ReSmoothBinary(&params, c.w, c.h, image.get(), c.radius));
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        ASSERT_EQ(image.at(x, y), want.at(x, y))
            << c.w << "x" << c.h << " r" << c.radius << " at " << x << "," << y;
  }
}

TEST(LevelSmooth, EachPassIsOrientedSmoothTakenWhereARoundIsDue) {
  std::mt19937 rng(7);
  for (auto [w, h] : {std::pair{33, 29}, std::pair{12, 8}}) {
    TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(rng() & 0xFF); });
    TestImage want(w, h, [&](int x, int y) { return image.at(x, y); });
    // Codes 0..119 and 127, some with the background bit.
    TestImage direction(w, h, [&](int, int) -> uint8_t {
      const uint8_t code = static_cast<uint8_t>(rng() % 121);
      return static_cast<uint8_t>((code == 120 ? 127 : code) | (rng() % 4 == 0 ? 0x80 : 0));
    });
    auto level_of = [](int x, int y) { return (x * 5 + y * 3) % 6; };
    TestImage level(w, h,
                    [&](int x, int y) { return static_cast<uint8_t>(0xA8 | level_of(x, y)); });
    for (int pass = 0; pass < 5; ++pass) {
      TestImage smoothed(w, h, [&](int x, int y) { return want.at(x, y); });
      ASSERT_TRUE(OrientedSmooth(w, h, smoothed.get(), direction.get()));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          if (level_of(x, y) > pass) want.at(x, y) = smoothed.at(x, y);
    }
    ASSERT_TRUE(LevelSmooth(w, h, image.get(), direction.get(), level.get()));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(image.at(x, y), want.at(x, y)) << w << "x" << h << " at " << x << "," << y;
        ASSERT_EQ(level.at(x, y), 0xA8);
      }
    }
  }
}

}  // namespace
}  // namespace ridgeline
