#include "extract/contrast_stretch.h"

#include <functional>
#include <tuple>

#include <gtest/gtest.h>

#include "core/int_math.h"
#include "tests/support/images.h"
#include "tests/support/patterns.h"

namespace ridgeline {
namespace {

using testing::Noise;
using testing::TestImage;

// The stretch of one pixel computed directly from its whole window.
uint8_t DirectStretch(const TestImage& source, const TestImage& mean, int x, int y, int r) {
  int sum = 0;
  int count = 0;
  for (int yy = y - r; yy <= y + r; ++yy) {
    for (int xx = x - r; xx <= x + r; ++xx) {
      if (xx < 0 || yy < 0 || xx >= source.width() || yy >= source.height()) continue;
      const int d = source.get()[yy][xx] - mean.get()[yy][xx];
      sum += d < 0 ? -d : d;
      ++count;
    }
  }
  const int mu = mean.get()[y][x];
  const int dev = sum / count;
  const int lo = mu - dev < 0 ? 0 : mu - dev;
  const int hi = mu + dev > 255 ? 255 : mu + dev;
  const int s = source.get()[y][x];
  if (lo == hi) return static_cast<uint8_t>(s);
  if (s <= lo) return 0;
  if (s >= hi) return 255;
  return static_cast<uint8_t>((s - lo) * 255 / (hi - lo));
}

TEST(ContrastStretch, UniformImageStaysUniform) {
  TestImage source(40, 37, 90);
  TestImage mean(40, 37, 90);
  ASSERT_TRUE(ContrastStretch(40, 37, source.get(), mean.get(), 16));
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(mean.at(x, y), 90);
}

TEST(ContrastStretch, BandEndsMapToBlackAndWhite) {
  // Mean 100 everywhere; sources 90 and 110 alternate, so every deviation is 10: lo 90, hi 110.
  auto checker = [](int x, int y) { return static_cast<uint8_t>((x + y) % 2 ? 110 : 90); };
  TestImage source(9, 9, checker);
  TestImage mean(9, 9, 100);
  ASSERT_TRUE(ContrastStretch(9, 9, source.get(), mean.get(), 2));
  EXPECT_EQ(mean.at(4, 4), 0);    // exactly lo
  EXPECT_EQ(mean.at(4, 5), 255);  // exactly hi
}

TEST(ContrastStretch, MatchesDirectWindowAtEveryPixel) {
  // Sizes around the ring length, narrower and shorter than the window, and a 1 x 1 image.
  for (auto [w, h, r] : {std::tuple{41, 45, 16}, {23, 11, 16}, {30, 40, 3}, {1, 1, 16}}) {
    TestImage source(w, h, Noise(7));
    TestImage mean(w, h, Noise(7));
    ASSERT_TRUE(BoxMean(w, h, mean.get(), r));
    TestImage reference(w, h, [&](int x, int y) { return mean.at(x, y); });
    ASSERT_TRUE(ContrastStretch(w, h, source.get(), mean.get(), r));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(mean.at(x, y), DirectStretch(source, reference, x, y, r))
            << w << "x" << h << " r" << r << " at " << x << "," << y;
  }
}

// The multiplied divisions (the window mean between the clipped columns, the band width
// everywhere): images only 0 and 255 and means at the ends of the range, widths of one and two
// unclipped columns (33 and 34 for radius 16), and widths that are no multiple of a vector.
TEST(ContrastStretch, ExtremeImagesMatchDirectWindow) {
  auto binary = [](uint32_t seed) {
    return [noise = Noise(seed)](int x, int y) -> uint8_t { return noise(x, y) < 128 ? 0 : 255; };
  };
  struct Case {
    int w, h, r;
    std::function<uint8_t(int, int)> source, mean;
  };
  const Case cases[] = {
      {33, 35, 16, binary(1), binary(2)},
      {34, 20, 16, binary(3), Noise(4)},
      {50, 37, 16, Noise(5), [](int, int) -> uint8_t { return 255; }},
      {67, 9, 2, binary(6), [](int x, int) -> uint8_t { return x % 2 ? 0 : 255; }},
      {35, 40, 16, [](int x, int y) -> uint8_t { return (x + y) % 2 ? 255 : 0; }, Noise(8)}};
  for (const Case& c : cases) {
    TestImage source(c.w, c.h, c.source);
    TestImage mean(c.w, c.h, c.mean);
    TestImage reference(c.w, c.h, c.mean);
    ASSERT_TRUE(ContrastStretch(c.w, c.h, source.get(), mean.get(), c.r));
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        ASSERT_EQ(mean.at(x, y), DirectStretch(source, reference, x, y, c.r))
            << c.w << "x" << c.h << " r" << c.r << " at " << x << "," << y;
  }
}

}  // namespace
}  // namespace ridgeline
