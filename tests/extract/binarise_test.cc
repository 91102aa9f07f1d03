#include "extract/binarise.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <utility>

#include <gtest/gtest.h>

#include "core/engine_params.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

// Mean of the in-image pixels of the (2r + 1)^2 window, computed pixel by pixel.
int NaiveMean(const TestImage& image, int x, int y, int r) {
  int sum = 0;
  int count = 0;
  for (int j = std::max(0, y - r); j <= std::min(image.height() - 1, y + r); ++j) {
    for (int i = std::max(0, x - r); i <= std::min(image.width() - 1, x + r); ++i) {
      sum += image.get()[j][i];
      ++count;
    }
  }
  return sum / count;
}

// The boundary density map at (x, y), counted pixel by pixel.
int PlainDensity(const TestImage& binary, const TestImage& direction, int x, int y, int radius) {
  const int w = binary.width();
  const int h = binary.height();
  int counted = 0;
  int boundary = 0;
  for (int j = std::max(1, y - radius); j <= std::min(h - 2, y + radius); ++j) {
    for (int i = std::max(1, x - radius); i <= std::min(w - 2, x + radius); ++i) {
      if (direction.get()[j][i] & 0x80) continue;
      ++counted;
      int block = 0;
      for (int dj = -1; dj <= 1; ++dj)
        for (int di = -1; di <= 1; ++di) block += binary.get()[j + dj][i + di];
      if (block != 0 && block != 9 * 255) ++boundary;
    }
  }
  const int factor = kBoundaryDirectionFactor[direction.get()[y][x] & 0x7F];
  return counted == 0 ? 0 : boundary * 255 / counted * factor / 100;
}

uint8_t RandomByte(std::mt19937& rng) { return static_cast<uint8_t>(rng() & 0xFF); }

TEST(Binarise, UniformImageBinarisesToWhite) {
  const EngineParams params = DefaultEngineParams();
  TestImage image(40, 30, 117);
  TestImage out(40, 30);
  ASSERT_TRUE(PreBinarize(&params, 40, 30, image.get(), out.get()));
  TestImage map(40, 30, 120);
  ASSERT_TRUE(AdaptiveBinarize(&params, 40, 30, image.get(), map.get()));
  TestImage fixed(40, 30, 3);
  ASSERT_TRUE(LocalMeanBinarize(40, 30, fixed.get(), 5));
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      ASSERT_EQ(out.at(x, y), 255);
      ASSERT_EQ(image.at(x, y), 255);
      ASSERT_EQ(fixed.at(x, y), 255);
    }
  }
}

// The pre-binarisation (small and large windows), the adaptive binarisation (the window the
// clarity map picks) and the local-mean one (the medium window) of random bytes against the
// plain means of params' windows.
void ExpectPlainWindowMeans(const EngineParams& params, int w, int h, std::mt19937& rng) {
  const int small = params.BinWindowSmall;
  const int medium = params.BinWindowMedium;
  const int large = params.BinWindowLarge;
  TestImage source(w, h, [&](int, int) { return RandomByte(rng); });
  TestImage map(w, h, [&](int, int) { return RandomByte(rng); });
  TestImage pre(w, h);
  TestImage adaptive(w, h, [&](int x, int y) { return source.at(x, y); });
  TestImage fixed(w, h, [&](int x, int y) { return source.at(x, y); });
  ASSERT_TRUE(PreBinarize(&params, w, h, source.get(), pre.get()));
  ASSERT_TRUE(AdaptiveBinarize(&params, w, h, adaptive.get(), map.get()));
  ASSERT_TRUE(LocalMeanBinarize(w, h, fixed.get(), medium));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int p = source.at(x, y);
      const int t = (NaiveMean(source, x, y, large) + NaiveMean(source, x, y, small)) / 2;
      ASSERT_EQ(pre.at(x, y), p >= t ? 255 : 0) << w << "x" << h << " at " << x << "," << y;
      const int v = map.at(x, y);
      const int r = v >= params.ClarityHigh ? small : v >= params.ClarityLow ? medium : large;
      ASSERT_EQ(adaptive.at(x, y), p >= NaiveMean(source, x, y, r) ? 255 : 0)
          << w << "x" << h << " at " << x << "," << y;
      ASSERT_EQ(fixed.at(x, y), p >= NaiveMean(source, x, y, medium) ? 255 : 0);
    }
  }
}

// Running sums must equal the plain window means everywhere, also when the window is wider
// than the image.
TEST(Binarise, ThresholdsMatchPlainWindowMeans) {
  const EngineParams params = DefaultEngineParams();
  std::mt19937 rng(7);
  for (auto [w, h] : {std::pair{23, 19}, std::pair{5, 40}, std::pair{1, 9}, std::pair{31, 2}}) {
    ASSERT_NO_FATAL_FAILURE(ExpectPlainWindowMeans(params, w, h, rng));
  }
}

// Window sizes other than the defaults: the 16-bit sums up to 15 x 15 windows (one radius
// of 0, all three at the largest) and the 32-bit ones past it.
TEST(Binarise, OtherWindowSizesMatchPlainWindowMeans) {
  std::mt19937 rng(31);
  const std::array<int, 3> windows[] = {{0, 2, 1}, {7, 7, 7}, {2, 8, 4}, {7, 0, 5}, {9, 3, 12}};
  for (const auto& radii : windows) {
    EngineParams params = DefaultEngineParams();
    params.BinWindowSmall = radii[0];
    params.BinWindowMedium = radii[1];
    params.BinWindowLarge = radii[2];
    for (auto [w, h] : {std::pair{13, 40}, std::pair{47, 23}}) {
      ASSERT_NO_FATAL_FAILURE(ExpectPlainWindowMeans(params, w, h, rng));
    }
  }
}

// A centre pixel of 150 in a 7 x 7 patch of 150, ringed by 255 out to distance 5 and by 0
// beyond: white against the small mean (150), black against the medium one (212), white
// against the large one (114).
TEST(Binarise, MapValueChoosesTheWindowAtTheClarityThresholds) {
  const EngineParams params = DefaultEngineParams();
  auto patch = [](int x, int y) -> uint8_t {
    const int d = std::max(std::abs(x - 15), std::abs(y - 15));
    return d <= 3 ? 150 : d <= 5 ? 255 : 0;
  };
  auto binarised_centre = [&](int map_value) {
    TestImage image(31, 31, patch);
    TestImage map(31, 31, static_cast<uint8_t>(map_value));
    EXPECT_TRUE(AdaptiveBinarize(&params, 31, 31, image.get(), map.get()));
    return image.at(15, 15);
  };
  EXPECT_EQ(binarised_centre(params.ClarityHigh), 255);     // small window
  EXPECT_EQ(binarised_centre(params.ClarityHigh - 1), 0);   // medium window
  EXPECT_EQ(binarised_centre(params.ClarityLow), 0);        // medium window
  EXPECT_EQ(binarised_centre(params.ClarityLow - 1), 255);  // large window
}

TEST(BoundaryDensity, MapMatchesPlainCountsAndScalesByDirection) {
  std::mt19937 rng(11);
  const int w = 29;
  const int h = 24;
  const int radius = 4;
  TestImage binary(w, h, [&](int, int) { return (rng() % 3 == 0) ? 0 : 255; });
  TestImage direction(w, h, [&](int x, int y) -> uint8_t {
    if ((x * 7 + y * 3) % 11 == 0) return 0x80 | 30;  // background
    if ((x + y) % 13 == 0) return 127;                // no direction
    return static_cast<uint8_t>((x * 5 + y) % 120);
  });
  TestImage map(w, h, [&](int x, int y) { return binary.at(x, y); });
  ASSERT_TRUE(MakeBoundaryDensityMap(w, h, map.get(), direction.get(), radius));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(map.at(x, y), PlainDensity(binary, direction, x, y, radius)) << x << "," << y;
      if ((direction.at(x, y) & 0x7F) == 127) {
        ASSERT_EQ(map.at(x, y), 0);
      }
    }
  }
}

TEST(BoundaryDensity, FactorTableIsSymmetricAndZeroWithoutDirection) {
  for (int code = 0; code < 60; ++code) {
    EXPECT_EQ(kBoundaryDirectionFactor[code], kBoundaryDirectionFactor[code + 60]) << code;
    EXPECT_EQ(kBoundaryDirectionFactor[code], kBoundaryDirectionFactor[(120 - code) % 120]);
  }
  EXPECT_EQ(kBoundaryDirectionFactor[0], 100);
  EXPECT_EQ(kBoundaryDirectionFactor[30], 78);
  for (int code = 120; code < 128; ++code) EXPECT_EQ(kBoundaryDirectionFactor[code], 0);
}

TEST(BoundaryDensity, ScoreCountsOnlyForegroundOffTheFrame) {
  TestImage direction(10, 10, 0x80);  // all background
  TestImage stripes(10, 10, [](int x, int) -> uint8_t { return x % 2 == 0 ? 0 : 255; });
  EXPECT_EQ(MeasureBoundaryDensity(10, 10, stripes.get(), direction.get()), 0);
  TestImage foreground(10, 10, 5);
  EXPECT_EQ(MeasureBoundaryDensity(10, 2, stripes.get(), foreground.get()), 0);
  EXPECT_EQ(MeasureBoundaryDensity(10, 10, stripes.get(), foreground.get()), 255);
  // One black pixel at (5, 5): its 3 x 3 neighbourhood, 9 of the 64 counted pixels, is
  // boundary: 9 x 255 / 64 = 35.
  TestImage dot(10, 10, 255);
  dot.at(5, 5) = 0;
  EXPECT_EQ(MeasureBoundaryDensity(10, 10, dot.get(), foreground.get()), 35);
}

TEST(MajorityFilter, RemovesIsolatedPixelsAndWhitensTheFrame) {
  TestImage image(8, 7, 255);
  image.at(3, 3) = 0;                              // isolated black
  for (int y = 0; y < 7; ++y) image.at(6, y) = 0;  // black next to the frame column
  ASSERT_TRUE(MajorityFilter(8, 7, image.get()));
  EXPECT_EQ(image.at(3, 3), 255);
  for (int y = 0; y < 7; ++y) {
    EXPECT_EQ(image.at(0, y), 255);
    EXPECT_EQ(image.at(7, y), 255);
  }
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(image.at(x, 0), 255);
    EXPECT_EQ(image.at(x, 6), 255);
  }

  TestImage black(7, 7, 0);
  black.at(3, 3) = 255;  // isolated white
  ASSERT_TRUE(MajorityFilter(7, 7, black.get()));
  EXPECT_EQ(black.at(3, 3), 0);
  EXPECT_EQ(black.at(1, 1), 0);  // 4 white of 9 from the frame: stays black
  EXPECT_EQ(black.at(0, 3), 255);
}

TEST(MajorityFilter, ReadsUnfilteredNeighbours) {
  // A diagonal staircase: filtered in place without row copies, each changed pixel would
  // sway the next one.
  TestImage image(9, 9, [](int x, int y) -> uint8_t { return x + y < 9 ? 0 : 255; });
  TestImage want(9, 9, [](int x, int y) -> uint8_t { return x + y < 9 ? 0 : 255; });
  ASSERT_TRUE(MajorityFilter(9, 9, image.get()));
  for (int y = 1; y < 8; ++y) {
    for (int x = 1; x < 8; ++x) {
      int white = 0;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) white += want.at(x + i, y + j) == 255;
      EXPECT_EQ(image.at(x, y), white >= 5 ? 255 : 0) << x << "," << y;
    }
  }
}

TEST(MajorityFilter, ImagesWithoutInteriorBecomeWhite) {
  TestImage image(2, 5, 0);
  ASSERT_TRUE(MajorityFilter(2, 5, image.get()));
  for (int y = 0; y < 5; ++y) EXPECT_EQ(image.at(0, y) & image.at(1, y), 255);
}

TEST(WhitenBackground, WhitensOnlyPixelsWithTheBackgroundBit) {
  TestImage image(4, 1, 0);
  TestImage direction(4, 1, [](int x, int) -> uint8_t {
    const uint8_t bytes[] = {0x80, 127, 0xFF, 60};
    return bytes[x];
  });
  WhitenBackground(4, 1, image.get(), direction.get());
  EXPECT_EQ(image.at(0, 0), 255);
  EXPECT_EQ(image.at(1, 0), 0);
  EXPECT_EQ(image.at(2, 0), 255);
  EXPECT_EQ(image.at(3, 0), 0);
}

// The division-free comparisons, the multiplied means between the clipped columns and the
// branch-free block sums against the plain forms: widths equal to a window (one unclipped
// column), narrower and wider than the windows and no multiple of a vector; images of only 0
// and 255 (means and thresholds land exactly on pixel values), flat blocks and random bytes.
TEST(Binarise, OddSizesAndExtremeImagesMatchPlainForms) {
  const EngineParams params = DefaultEngineParams();
  std::mt19937 rng(29);
  const std::pair<int, int> shapes[] = {{15, 9}, {16, 33}, {37, 5}, {64, 3}, {3, 64}, {67, 41}};
  for (int kind = 0; kind < 3; ++kind) {
    for (auto [w, h] : shapes) {
      auto pixel = [&](int x, int y) -> uint8_t {
        if (kind == 0) return rng() % 2 ? 255 : 0;
        if (kind == 1) return ((x / 4 + y / 3) % 3) * 127;
        return RandomByte(rng);
      };
      TestImage source(w, h, pixel);
      TestImage map(w, h, [&](int, int) { return RandomByte(rng); });
      TestImage direction(w, h, [&](int, int) -> uint8_t {
        const uint32_t r = rng() % 150;
        return r < 120 ? static_cast<uint8_t>(r) : r < 135 ? 127 : 0x80 | 60;
      });
      TestImage pre(w, h);
      TestImage adaptive(w, h, [&](int x, int y) { return source.at(x, y); });
      TestImage majority(w, h, [&](int x, int y) { return source.at(x, y); });
      TestImage density(w, h, [&](int x, int y) { return source.at(x, y); });
      ASSERT_TRUE(PreBinarize(&params, w, h, source.get(), pre.get()));
      ASSERT_TRUE(AdaptiveBinarize(&params, w, h, adaptive.get(), map.get()));
      ASSERT_TRUE(MajorityFilter(w, h, majority.get()));
      ASSERT_TRUE(MakeBoundaryDensityMap(w, h, density.get(), direction.get(), 16));
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const int p = source.at(x, y);
          const int t = (NaiveMean(source, x, y, 7) + NaiveMean(source, x, y, 3)) / 2;
          ASSERT_EQ(pre.at(x, y), p >= t ? 255 : 0) << w << "x" << h << " at " << x << "," << y;
          const int v = map.at(x, y);
          const int r = v >= params.ClarityHigh ? 3 : v >= params.ClarityLow ? 5 : 7;
          ASSERT_EQ(adaptive.at(x, y), p >= NaiveMean(source, x, y, r) ? 255 : 0);
          int block = 0;
          if (x > 0 && y > 0 && x < w - 1 && y < h - 1) {
            for (int j = -1; j <= 1; ++j)
              for (int i = -1; i <= 1; ++i) block += source.at(x + i, y + j);
          }
          const bool frame = x == 0 || y == 0 || x == w - 1 || y == h - 1;
          ASSERT_EQ(majority.at(x, y), frame || block >= 1152 ? 255 : 0) << x << "," << y;
          ASSERT_EQ(density.at(x, y), PlainDensity(source, direction, x, y, 16)) << x << "," << y;
        }
      }
    }
  }
}

// The prints' smoothed images against their clarity maps: every window choice, clipped and
// whole windows, as the plain means decide, on rows spread over each image.
TEST(Binarise, GoldenInputsMatchPlainWindowMeans) {
  const EngineParams params = DefaultEngineParams();
  const auto sources = testing::GoldenStageImages("19_smoothed_input.pgm");
  const auto maps = testing::GoldenStageImages("20c_clarity_map.pgm");
  if (sources.empty() || sources.size() != maps.size()) GTEST_SKIP() << "no golden vectors";
  for (size_t i = 0; i < sources.size(); ++i) {
    const TestImage& source = *sources[i];
    const int w = source.width(), h = source.height();
    ASSERT_EQ(maps[i]->width(), w);
    ASSERT_EQ(maps[i]->height(), h);
    TestImage binary(w, h, [&](int x, int y) { return source.get()[y][x]; });
    ASSERT_TRUE(AdaptiveBinarize(&params, w, h, binary.get(), maps[i]->get()));
    for (int y = 0; y < h; y += (y < 8 || y > h - 9) ? 1 : 5) {
      for (int x = 0; x < w; ++x) {
        const int v = maps[i]->at(x, y);
        const int r = v >= params.ClarityHigh  ? params.BinWindowSmall
                      : v >= params.ClarityLow ? params.BinWindowMedium
                                               : params.BinWindowLarge;
        ASSERT_EQ(binary.at(x, y), source.get()[y][x] >= NaiveMean(source, x, y, r) ? 255 : 0)
            << "case " << i << " at " << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace ridgeline

namespace ridgeline {
namespace {

// The boundary density score and the background whitening pixel by pixel, with branches, as
// they were first written: the references of the branch-free row loops.
uint8_t PixelBoundaryDensity(const TestImage& binary, const TestImage& direction) {
  const int w = binary.width(), h = binary.height();
  if (w < 3 || h < 3) return 0;
  int64_t counted = 0, boundary = 0;
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      if ((direction.get()[y][x] & 0x80) != 0) continue;
      ++counted;
      int block = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) block += binary.get()[y + dy][x + dx];
      if (block != 0 && block != 9 * 255) ++boundary;
    }
  }
  return counted == 0 ? 0 : static_cast<uint8_t>(boundary * 255 / counted);
}

// Odd sizes, all-white and all-black blocks, bytes other than 0 and 255, direction bytes with
// and without the background bit; then the golden prints' final binary images and direction
// fields.
TEST(BoundaryDensity, ScoreAndWhiteningMatchThePixelForms) {
  std::mt19937 rng(67);
  for (auto [w, h] : {std::pair{3, 3}, {4, 17}, {17, 4}, {33, 31}, {64, 9}, {70, 70}}) {
    for (int kind = 0; kind < 3; ++kind) {
      TestImage binary(w, h, [&](int x, int y) -> uint8_t {
        if (kind == 0) return static_cast<uint8_t>(rng() % 2 ? 255 : 0);
        if (kind == 1) return static_cast<uint8_t>((x / 5 + y / 4) % 2 ? 255 : 0);
        return static_cast<uint8_t>(rng());
      });
      TestImage direction(w, h, [&](int, int) { return static_cast<uint8_t>(rng()); });
      EXPECT_EQ(MeasureBoundaryDensity(w, h, binary.get(), direction.get()),
                PixelBoundaryDensity(binary, direction))
          << w << "x" << h << " kind " << kind;
      TestImage whitened(w, h, [&](int x, int y) { return binary.get()[y][x]; });
      WhitenBackground(w, h, whitened.get(), direction.get());
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const bool background = (direction.get()[y][x] & 0x80) != 0;
          ASSERT_EQ(whitened.at(x, y), background ? 255 : binary.get()[y][x]) << x << "," << y;
        }
      }
    }
  }
  const auto binaries = testing::GoldenStageImages("20i_majority.pgm");
  const auto directions = testing::GoldenStageImages("20f_direction_image.pgm");
  if (binaries.empty() || binaries.size() != directions.size()) GTEST_SKIP() << "no golden vectors";
  for (size_t i = 0; i < binaries.size(); ++i) {
    const int w = binaries[i]->width(), h = binaries[i]->height();
    ASSERT_EQ(directions[i]->width(), w);
    EXPECT_EQ(MeasureBoundaryDensity(w, h, binaries[i]->get(), directions[i]->get()),
              PixelBoundaryDensity(*binaries[i], *directions[i]))
        << "case " << i;
  }
}

}  // namespace
}  // namespace ridgeline
