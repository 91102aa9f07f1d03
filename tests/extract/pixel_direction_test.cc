#include "extract/pixel_direction.h"

#include <functional>
#include <tuple>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "extract/direction_from_variations.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"
#include "tests/support/patterns.h"

namespace ridgeline {
namespace {

using testing::Noise;
using testing::TestImage;

int Diff(int a, int b) { return a > b ? a - b : b - a; }

// The estimate of one pixel summed directly over its clipped window.
DirectionEstimate DirectEstimate(const TestImage& img, int x, int y, int hw, int contrast) {
  const int w = img.width();
  const int h = img.height();
  auto I = [&](int xx, int yy) { return static_cast<int>(img.get()[yy][xx]); };
  int64_t s0 = 0, s30 = 0, s60 = 0, s90 = 0, n = 0;
  for (int yy = y - hw; yy <= y + hw; ++yy) {
    for (int xx = x - hw; xx <= x + hw; ++xx) {
      if (xx < 1 || yy < 1 || xx > w - 2 || yy > h - 2) continue;
      const int p = I(xx, yy);
      s0 += Diff(p, I(xx - 1, yy)) + Diff(p, I(xx + 1, yy));
      s30 += Diff(p, I(xx - 1, yy - 1)) + Diff(p, I(xx + 1, yy + 1));
      s60 += Diff(p, I(xx, yy - 1)) + Diff(p, I(xx, yy + 1));
      s90 += Diff(p, I(xx - 1, yy + 1)) + Diff(p, I(xx + 1, yy - 1));
      ++n;
    }
  }
  const int64_t area = (2 * hw + 1) * (2 * hw + 1);
  int64_t v[4] = {s0, s30 * 71 / 100, s60, s90 * 71 / 100};
  if (n != area && n != 0)  // a window with no pixel off the frame keeps its zeros
    for (int64_t& value : v) value = area * value / n;
  return DirectionFromVariations(v[0], v[1], v[2], v[3], 2 * area * contrast);
}

TEST(EstimatePixelDirections, FlatImageHasNoDirectionAndIsotropy255) {
  TestImage image(40, 40, 60);
  TestImage direction(40, 40, 99);  // previous content is not read
  ASSERT_TRUE(EstimatePixelDirections(40, 40, image.get(), direction.get(), 12, 23));
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) {
      ASSERT_EQ(direction.at(x, y), kNoDirection);
      ASSERT_EQ(image.at(x, y), 255);
    }
  }
}

TEST(EstimatePixelDirections, ClippedWindowsAreScaledToTheFullArea) {
  // Vertical stripes: every window, clipped or not, says code 60 with isotropy 0. A corner
  // window holds 12 x 12 non-border pixels, whose unscaled variation (about 11500) is below
  // the contrast limit of 28750; only the scaling to 625 pixels makes it usable.
  TestImage image(45, 38, [](int x, int) { return static_cast<uint8_t>(x % 8 < 4 ? 40 : 200); });
  TestImage direction(45, 38);
  ASSERT_TRUE(EstimatePixelDirections(45, 38, image.get(), direction.get(), 12, 23));
  for (int y = 0; y < 38; ++y) {
    for (int x = 0; x < 45; ++x) {
      ASSERT_EQ(direction.at(x, y), 60) << x << "," << y;
      ASSERT_EQ(image.at(x, y), 0) << x << "," << y;
    }
  }
}

TEST(EstimatePixelDirections, MatchesDirectWindowsAtEveryPixel) {
  // Heights below, at and above the 28-row ring, and a small window.
  for (auto [w, h, hw] : {std::tuple{37, 27, 12}, {31, 29, 12}, {26, 61, 12}, {20, 17, 2}}) {
    TestImage source(w, h, Noise(11));
    TestImage image(w, h, Noise(11));
    TestImage direction(w, h);
    ASSERT_TRUE(EstimatePixelDirections(w, h, image.get(), direction.get(), hw, 23));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const DirectionEstimate want = DirectEstimate(source, x, y, hw, 23);
        ASSERT_EQ(direction.at(x, y), want.code) << w << "x" << h << " at " << x << "," << y;
        ASSERT_EQ(image.at(x, y), want.isotropy) << w << "x" << h << " at " << x << "," << y;
      }
    }
  }
}

// The row pass that enters and leaves rows together and the 32-bit estimate, on images one to
// three pixels wide or high (no pixel off the frame), widths that are no multiple of a vector,
// windows from 0 to 12 and one of 49 x 49 (too large for 32 bits), and the largest variations a
// byte image has (a 0 / 255 checkerboard).
TEST(EstimatePixelDirections, OddSizesAndExtremeImagesMatchDirectWindows) {
  const std::function<uint8_t(int, int)> patterns[] = {
      Noise(5), [](int x, int y) { return static_cast<uint8_t>((x + y) % 2 ? 255 : 0); },
      [](int x, int) { return static_cast<uint8_t>(x % 3 == 0 ? 255 : 0); },
      [](int, int) { return uint8_t{255}; }};
  const std::tuple<int, int, int> shapes[] = {{1, 1, 12},  {2, 7, 1},   {3, 3, 0},
                                              {7, 2, 3},   {17, 4, 12}, {33, 30, 12},
                                              {29, 53, 5}, {19, 21, 1}, {30, 26, 24}};
  int pattern_index = 0;
  for (const auto& pattern : patterns) {
    for (auto [w, h, hw] : shapes) {
      for (int contrast : {0, 23}) {
        TestImage source(w, h, pattern);
        TestImage image(w, h, pattern);
        TestImage direction(w, h);
        ASSERT_TRUE(EstimatePixelDirections(w, h, image.get(), direction.get(), hw, contrast));
        for (int y = 0; y < h; ++y) {
          for (int x = 0; x < w; ++x) {
            const DirectionEstimate want = DirectEstimate(source, x, y, hw, contrast);
            ASSERT_EQ(direction.at(x, y), want.code)
                << "pattern " << pattern_index << " " << w << "x" << h << " hw " << hw << " at "
                << x << "," << y;
            ASSERT_EQ(image.at(x, y), want.isotropy)
                << "pattern " << pattern_index << " " << w << "x" << h << " hw " << hw << " at "
                << x << "," << y;
          }
        }
      }
    }
    ++pattern_index;
  }
}

// The prints' own smoothed images with the pipeline's window: whole windows (the branch-free
// estimate across pixels) and clipped ones (the rows at the top and bottom, the columns at the
// sides) both as summed directly, on rows spread over each image.
TEST(EstimatePixelDirections, GoldenInputsMatchDirectWindows) {
  constexpr int kHalfWindow = 12, kContrast = 23;
  const auto images = testing::GoldenStageImages("13_smoothed_stretched.pgm");
  if (images.empty()) GTEST_SKIP() << "no golden vectors";
  for (const auto& source : images) {
    const int w = source->width(), h = source->height();
    TestImage image(w, h, [&](int x, int y) { return source->at(x, y); });
    TestImage direction(w, h);
    ASSERT_TRUE(
        EstimatePixelDirections(w, h, image.get(), direction.get(), kHalfWindow, kContrast));
    for (int y = 0; y < h; ++y) {
      if (y % 29 != 0 && y != h - 1 && y != kHalfWindow && y != kHalfWindow + 1) continue;
      for (int x = 0; x < w; ++x) {
        const DirectionEstimate want = DirectEstimate(*source, x, y, kHalfWindow, kContrast);
        ASSERT_EQ(direction.at(x, y), want.code) << w << "x" << h << " at " << x << "," << y;
        ASSERT_EQ(image.at(x, y), want.isotropy) << w << "x" << h << " at " << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace ridgeline
