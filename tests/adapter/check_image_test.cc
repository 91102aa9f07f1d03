#include "extract/check_image.h"

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

// A 50 x 10 image whose pixels take the given levels with the given counts, in order.
TestImage Levels(const std::vector<std::pair<uint8_t, int>>& levels) {
  return TestImage(50, 10, [&](int x, int y) {
    int i = y * 50 + x;
    for (const auto& [value, count] : levels) {
      if (i < count) return value;
      i -= count;
    }
    return uint8_t{0};
  });
}

TEST(CheckImage, FlatImageFails) {
  TestImage flat(40, 30, uint8_t{128});
  EXPECT_FALSE(CheckImage(flat.get(), 40, 30));
  const GreyLevelSummary s = SummarizeGreyLevels(flat.get(), 40, 30);
  EXPECT_EQ(s.distinct, 1);
  EXPECT_EQ(s.peak, 1200u);
}

TEST(CheckImage, NeedsFiveLevelsOfMoreThanTenPixels) {
  EXPECT_FALSE(CheckImage(Levels({{0, 125}, {60, 125}, {120, 125}, {180, 125}}).get(), 50, 10));
  EXPECT_TRUE(
      CheckImage(Levels({{0, 100}, {60, 100}, {120, 100}, {180, 100}, {240, 100}}).get(), 50, 10));
  // A level of exactly ten pixels does not count; eleven does.
  EXPECT_FALSE(CheckImage(Levels({{0, 490}, {1, 10}}).get(), 50, 10));
  const TestImage ten = Levels({{0, 120}, {60, 120}, {120, 120}, {180, 130}, {240, 10}});
  EXPECT_EQ(SummarizeGreyLevels(ten.get(), 50, 10).distinct, 4);
  EXPECT_FALSE(CheckImage(ten.get(), 50, 10));
  const TestImage eleven = Levels({{0, 120}, {60, 120}, {120, 120}, {180, 129}, {240, 11}});
  EXPECT_TRUE(CheckImage(eleven.get(), 50, 10));
}

TEST(CheckImage, PeakMayCoverEightyPercentButNoMore) {
  EXPECT_TRUE(
      CheckImage(Levels({{9, 400}, {60, 25}, {120, 25}, {180, 25}, {240, 25}}).get(), 50, 10));
  EXPECT_FALSE(
      CheckImage(Levels({{9, 401}, {60, 25}, {120, 25}, {180, 25}, {240, 24}}).get(), 50, 10));
}

// The histogram is taken in partial counts; the summary must be that of one plain count, on
// widths that leave every remainder and on long runs of one level (at the counting limits).
TEST(SummarizeGreyLevels, PartialCountsAddUpToThePlainHistogram) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 40; ++trial) {
    const int w = 1 + trial % 9 + static_cast<int>(rng() % 3) * 8,
              h = 1 + static_cast<int>(rng() % 30);
    const unsigned levels = 1 + rng() % 12;
    TestImage image(w, h, [&](int x, int) {
      return static_cast<uint8_t>(x % 5 == 0 ? rng() % 256 : 250 + rng() % levels % 6);
    });
    std::array<uint32_t, 256> counts{};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ++counts[image.at(x, y)];
    int distinct = 0;
    for (uint32_t c : counts) distinct += c > kWellPopulatedCount ? 1 : 0;
    const GreyLevelSummary s = SummarizeGreyLevels(image.get(), w, h);
    EXPECT_EQ(s.distinct, distinct) << w << " x " << h;
    EXPECT_EQ(s.peak, *std::max_element(counts.begin(), counts.end())) << w << " x " << h;
  }
}

}  // namespace
}  // namespace ridgeline
