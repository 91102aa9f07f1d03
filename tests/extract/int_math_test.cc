#include "core/int_math.h"

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "core/exact_divider.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

TEST(IntSqrt, IsFloorSqrtOverTheWholeRangeOfUse) {
  // Squared distances reach 2 x 1024^2 and beyond; check densely below 2^22 and around
  // every perfect square up to 2^31.
  for (int64_t n = 0; n < (int64_t{1} << 22); ++n) {
    const int64_t r = IntSqrt(n);
    ASSERT_LE(r * r, n) << n;
    ASSERT_GT((r + 1) * (r + 1), n) << n;
  }
  for (int64_t r = 2048; r < 46341; r += 7) {
    for (int64_t n : {r * r - 1, r * r, r * r + 1, (r + 1) * (r + 1) - 1}) {
      const int64_t got = IntSqrt(n);
      ASSERT_LE(got * got, n) << n;
      ASSERT_GT((got + 1) * (got + 1), n) << n;
    }
  }
}

TEST(ArctanTable, MatchesRoundedAtan2) {
  for (int a = 0; a < 50; ++a) {
    for (int b = 0; b < 50; ++b) {
      const int want = (a == 0 && b == 0)
                           ? 90
                           : static_cast<int>(std::floor(std::atan2(a, b) * 180.0 / M_PI + 0.5));
      EXPECT_EQ(kArctanTable[a][b], want) << a << "," << b;
    }
  }
}

TEST(LineAngle, AxesDiagonalsAndZeroStep) {
  EXPECT_EQ(LineAngle(5, 5, 0, 5), 0);    // towards decreasing x
  EXPECT_EQ(LineAngle(5, 5, 5, 9), 90);   // towards increasing y
  EXPECT_EQ(LineAngle(5, 5, 9, 5), 180);  // towards increasing x
  EXPECT_EQ(LineAngle(5, 5, 5, 0), 270);  // towards decreasing y
  EXPECT_EQ(LineAngle(3, 3, 3, 3), 270);  // zero step
  EXPECT_EQ(LineAngle(0, 0, 10, 10), 135);
  EXPECT_EQ(LineAngle(0, 0, -10, 10), 45);
  EXPECT_EQ(LineAngle(0, 0, -10, -10), 315);
  EXPECT_EQ(LineAngle(0, 0, 10, -10), 225);
}

TEST(LineAngle, LongStepsAreHalvedIntoTheTable) {
  EXPECT_EQ(LineAngle(0, 0, 1000, 0), 180);
  EXPECT_EQ(LineAngle(0, 0, 0, -1000), 270);
  EXPECT_EQ(LineAngle(0, 0, 400, 400), 135);
  for (int x = -120; x <= 120; x += 3) {
    for (int y = -120; y <= 120; y += 5) {
      const int g = LineAngle(0, 0, x, y);
      EXPECT_GE(g, 0);
      EXPECT_LT(g, 360);
    }
  }
}

// Reference mean over the clipped window, computed directly.
uint8_t DirectMean(const TestImage& img, int x, int y, int r) {
  int sum = 0;
  int count = 0;
  for (int yy = y - r; yy <= y + r; ++yy)
    for (int xx = x - r; xx <= x + r; ++xx)
      if (xx >= 0 && yy >= 0 && xx < img.width() && yy < img.height()) {
        sum += img.get()[yy][xx];
        ++count;
      }
  return static_cast<uint8_t>(sum / count);
}

TEST(BoxMean, UniformImageStaysUniform) {
  TestImage img(40, 37, 77);
  ASSERT_TRUE(BoxMean3(40, 37, img.get()));
  ASSERT_TRUE(BoxMean(40, 37, img.get(), 16));
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(img.at(x, y), 77);
}

TEST(BoxMean, CornerDividesByInImagePixels) {
  // One bright corner pixel: 3 x 3 corner mean is 255 / 4, radius 16 corner is 255 / 289.
  TestImage a(50, 50, 0);
  a.at(0, 0) = 255;
  BoxMean3(50, 50, a.get());
  EXPECT_EQ(a.at(0, 0), 255 / 4);
  EXPECT_EQ(a.at(1, 0), 255 / 6);
  EXPECT_EQ(a.at(1, 1), 255 / 9);
  TestImage b(50, 50, 0);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 17; ++x) b.at(x, y) = 200;
  BoxMean(50, 50, b.get(), 16);
  EXPECT_EQ(b.at(0, 0), 200);  // window 17 x 17, all bright
  EXPECT_EQ(b.at(16, 16), 200 * 289 / (33 * 33));
}

TEST(ExactDivider, EqualsDivisionOverThePixelSumRange) {
  // Hardest numerators: q d + d - 1 (largest remainder) and the top 255 d, for every divisor a
  // window mean can have up to radius 16 and a sample beyond.
  for (uint32_t d = 1; d <= 4104; d += d < 1200 ? 1 : 97) {
    const ExactDivider divider(d);
    ASSERT_TRUE(divider.exact_below_256_times()) << d;
    for (uint32_t q = 0; q < 255; ++q) {
      ASSERT_EQ(divider.Divide(q * d), q) << d;
      ASSERT_EQ(divider.Divide(q * d + d - 1), q) << d;
    }
    ASSERT_EQ(divider.Divide(255 * d), 255u) << d;
  }
  EXPECT_TRUE(ExactDivider(4104).exact_below_256_times());
  EXPECT_FALSE(ExactDivider(4105).exact_below_256_times());
  EXPECT_FALSE(ExactDivider(0).exact_below_256_times());
}

// Every count of a window up to 15 x 15 and every sum of 8-bit pixels over it: where the
// 16-bit form says it is exact it must be, over the whole range; it must be so for the counts
// of every window row that is whole across (2 r + 1 columns by r + 1 .. 2 r + 1 rows), and it
// must refuse what it cannot do (a divisor of 1 would need a multiplier of 2^16; ranges past 16
// bits).
TEST(NarrowDivider, EqualsDivisionWhereverItClaimsTo) {
  int exact = 0;
  for (uint32_t d = 2; d <= 225; ++d) {
    const NarrowDivider divider(d, 255 * d);
    if (!divider.exact()) continue;
    ++exact;
    for (uint32_t n = 0; n <= 255 * d; ++n) {
      ASSERT_EQ(divider.Divide(static_cast<uint16_t>(n)), n / d) << n << " / " << d;
    }
  }
  EXPECT_EQ(exact, 224 - 13);  // 186, 196, 200, ... 224 need a multiplier past 16 bits
  for (uint32_t r = 1; r <= 7; ++r) {
    for (uint32_t rows = r + 1; rows <= 2 * r + 1; ++rows) {
      EXPECT_TRUE(NarrowDivider((2 * r + 1) * rows, 255 * (2 * r + 1) * rows).exact()) << r;
    }
  }
  EXPECT_FALSE(NarrowDivider(0, 10).exact());
  EXPECT_FALSE(NarrowDivider(1, 255).exact());
  EXPECT_FALSE(NarrowDivider(300, 65536).exact());
}

TEST(BoxMean, MatchesDirectWindowMeanIncludingSmallImages) {
  for (auto [w, h, r] : {std::tuple{23, 19, 1},
                         {23, 19, 4},
                         {7, 30, 16},
                         {1, 1, 3},
                         {5, 2, 16},
                         {80, 70, 16},
                         {40, 36, 0},
                         {34, 34, 16},
                         {67, 41, 16},
                         {131, 9, 2},
                         {33, 33, 16}}) {
    auto pattern = [](int x, int y) {
      // Saturated patches reach the largest window sums.
      return static_cast<uint8_t>((x / 9 + y / 7) % 3 == 0 ? 255 : (x * 37 + y * 91 + x * y) % 256);
    };
    TestImage src(w, h, pattern);
    TestImage out(w, h, pattern);
    BoxMean(w, h, out.get(), r);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(out.at(x, y), DirectMean(src, x, y, r)) << w << "x" << h << " r" << r;
  }
}

// The local means of the prints' recorded inputs are the recorded local means.
TEST(BoxMean, GoldenInputsGiveTheRecordedLocalMeans) {
  const auto inputs = testing::GoldenStageImages("02_input_boxmean3.pgm");
  const auto means = testing::GoldenStageImages("03_local_mean.pgm");
  if (inputs.empty() || inputs.size() != means.size()) GTEST_SKIP() << "no golden vectors";
  for (size_t i = 0; i < inputs.size(); ++i) {
    const int w = inputs[i]->width(), h = inputs[i]->height();
    TestImage out(w, h, [&](int x, int y) { return inputs[i]->get()[y][x]; });
    ASSERT_TRUE(BoxMean(w, h, out.get(), 16));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(out.at(x, y), means[i]->at(x, y)) << "case " << i << " at " << x << "," << y;
  }
}

}  // namespace
}  // namespace ridgeline
