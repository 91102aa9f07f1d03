#include "extract/oriented_smoothing.h"

#include <map>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "extract/oriented_kernels.h"
#include "tests/support/images.h"
#include "tests/support/patterns.h"

namespace ridgeline {
namespace {

using testing::Noise;
using testing::TestImage;

// Weight of every pixel offset (dy, dx) of a kernel, both pixels of each tap and the centre.
std::map<std::pair<int, int>, int> WeightMap(const OrientedKernel& k) {
  std::map<std::pair<int, int>, int> m;
  m[{0, 0}] += k.centre;
  for (int t = 0; t < k.tap_count; ++t) {
    m[{k.taps[t].dy, k.taps[t].dx}] += k.taps[t].weight;
    m[{-k.taps[t].dy, -k.taps[t].dx}] += k.taps[t].weight;
  }
  return m;
}

TEST(OrientedKernelTable, EveryKernelSumsTo112211) {
  for (int code = 0; code < kDirectionSteps; ++code) {
    const OrientedKernel& k = kOrientedKernelTable[static_cast<size_t>(code)];
    int32_t sum = k.centre;
    for (int t = 0; t < k.tap_count; ++t) sum += 2 * k.taps[t].weight;
    EXPECT_EQ(sum, kKernelSum) << "code " << code;
  }
}

TEST(OrientedKernelTable, TapCountsMatchTheListForBothHalfTurns) {
  constexpr int kCounts[60] = {5,  12, 12, 12, 12, 12, 12, 11, 12, 12, 12, 12, 12, 12, 12,
                               13, 14, 13, 13, 13, 14, 13, 14, 15, 14, 14, 14, 14, 13, 12,
                               12, 12, 13, 14, 14, 14, 14, 15, 14, 13, 14, 13, 13, 13, 14,
                               13, 12, 12, 12, 12, 12, 12, 12, 11, 12, 12, 12, 12, 12, 12};
  for (int code = 0; code < kDirectionSteps; ++code) {
    EXPECT_EQ(kOrientedKernelTable[static_cast<size_t>(code)].tap_count, kCounts[code % 60])
        << "code " << code;
  }
}

TEST(OrientedKernelTable, TapsAreDistinctOnTheStoredSideAndWithinReach) {
  for (int code = 0; code < kDirectionSteps; ++code) {
    const OrientedKernel& k = kOrientedKernelTable[static_cast<size_t>(code)];
    std::set<std::pair<int, int>> seen;
    for (int t = 0; t < k.tap_count; ++t) {
      const int dy = k.taps[t].dy;
      const int dx = k.taps[t].dx;
      EXPECT_TRUE(dy < 0 || (dy == 0 && dx < 0)) << "code " << code << " tap " << t;
      EXPECT_LE(std::max(std::abs(dy), std::abs(dx)), kKernelReach) << "code " << code;
      EXPECT_TRUE(seen.insert({dy, dx}).second) << "code " << code << " repeats a tap";
      EXPECT_GT(k.taps[t].weight, 0);
    }
  }
}

TEST(OrientedKernelTable, CodeSixtyOnIsTheKernelTurnedByAQuarter) {
  // Turning the line by 90 degrees moves offset (dy, dx) to (dx, -dy).
  for (int code = 0; code < 60; ++code) {
    const auto base = WeightMap(kOrientedKernelTable[static_cast<size_t>(code)]);
    std::map<std::pair<int, int>, int> turned;
    for (const auto& [offset, weight] : base) turned[{offset.second, -offset.first}] = weight;
    EXPECT_EQ(WeightMap(kOrientedKernelTable[static_cast<size_t>(code + 60)]), turned)
        << "code " << code;
  }
}

// One pixel filtered by the border rule, which every pixel must satisfy.
uint8_t DirectSmooth(const TestImage& img, const TestImage& dir, int x, int y) {
  const int w = img.width();
  const int h = img.height();
  auto inside = [&](int xx, int yy) { return xx >= 0 && yy >= 0 && xx < w && yy < h; };
  const int code = dir.get()[y][x] & kCodeMask;
  if (code == kNoDirection) {
    int sum = 0, count = 0;
    for (int yy = y - 1; yy <= y + 1; ++yy)
      for (int xx = x - 1; xx <= x + 1; ++xx)
        if (inside(xx, yy)) {
          sum += img.get()[yy][xx];
          ++count;
        }
    return static_cast<uint8_t>(sum / count);
  }
  int acc = 0, total = 0;
  for (const auto& [offset, weight] : WeightMap(kOrientedKernelTable[static_cast<size_t>(code)])) {
    const int xx = x + offset.second;
    const int yy = y + offset.first;
    if (!inside(xx, yy)) continue;
    acc += weight * img.get()[yy][xx];
    total += weight;
  }
  return static_cast<uint8_t>(acc / total);
}

uint8_t RandomCode(int x, int y) {
  const int v = Noise(3)(x, y) % 128;
  return static_cast<uint8_t>(v >= kDirectionSteps ? kNoDirection : v);
}

TEST(OrientedSmooth, MatchesTheBorderRuleEverywhere) {
  // The tall images move the window's rows back to the start of its store several times.
  for (auto [w, h] : {std::pair{40, 33},
                      {13, 13},
                      {20, 14},
                      {7, 5},
                      {1, 9},
                      {9, 1},
                      {14, 40},
                      {29, 97},
                      {50, 131}}) {
    TestImage source(w, h, Noise(5));
    TestImage image(w, h, Noise(5));
    TestImage dir(w, h, RandomCode);
    ASSERT_TRUE(OrientedSmooth(w, h, image.get(), dir.get()));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(image.at(x, y), DirectSmooth(source, dir, x, y))
            << w << "x" << h << " at " << x << "," << y;
  }
}

TEST(OrientedSmooth, UniformImageStaysUniformOnTheBorderToo) {
  TestImage image(30, 26, 173);
  TestImage dir(30, 26, RandomCode);
  ASSERT_TRUE(OrientedSmooth(30, 26, image.get(), dir.get()));
  for (int y = 0; y < 26; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(image.at(x, y), 173) << x << "," << y;
}

TEST(OrientedSmooth, NoDirectionInTheCornerIsTheMeanOfFourPixels) {
  TestImage image(20, 20, 0);
  image.at(0, 0) = 100;
  image.at(1, 0) = 51;
  image.at(0, 1) = 50;
  image.at(1, 1) = 2;
  image.at(2, 2) = 255;  // outside the corner's 3 x 3 block
  TestImage dir(20, 20, kNoDirection);
  ASSERT_TRUE(OrientedSmooth(20, 20, image.get(), dir.get()));
  EXPECT_EQ(image.at(0, 0), (100 + 51 + 50 + 2) / 4);
}

TEST(OrientedSmooth, CodeZeroIsAHorizontalMovingAverageOfElevenPixels) {
  TestImage source(40, 20, Noise(9));
  TestImage image(40, 20, Noise(9));
  TestImage dir(40, 20, 0);
  ASSERT_TRUE(OrientedSmooth(40, 20, image.get(), dir.get()));
  for (int y = 0; y < 20; ++y) {
    for (int x = 5; x < 35; ++x) {
      int sum = 0;
      for (int i = -5; i <= 5; ++i) sum += source.at(x + i, y);
      ASSERT_EQ(image.at(x, y), sum / 11) << x << "," << y;
    }
  }
}

TEST(OrientedSmooth, BackgroundBitIsIgnored) {
  TestImage plain(30, 30, Noise(4));
  TestImage marked(30, 30, Noise(4));
  TestImage dir(30, 30, 30);
  TestImage dir_marked(30, 30, 30 | kBackgroundBit);
  ASSERT_TRUE(OrientedSmooth(30, 30, plain.get(), dir.get()));
  ASSERT_TRUE(OrientedSmooth(30, 30, marked.get(), dir_marked.get()));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(marked.at(x, y), plain.at(x, y));
}

}  // namespace
}  // namespace ridgeline
