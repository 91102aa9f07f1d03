#include "extract/block_direction.h"

#include <string>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/engine_params.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"
#include "tests/support/vector_targets.h"

namespace ridgeline {
namespace {

using testing::TestImage;

// Runs the stage on image and keeps the four maps.
struct BlockFields {
  int cols;
  int rows;
  TestImage direction;
  TestImage corrected;
  TestImage isotropy;
  TestImage coarse;

  explicit BlockFields(const TestImage& image)
      : cols((image.width() + kBlockSize - 1) / kBlockSize),
        rows((image.height() + kBlockSize - 1) / kBlockSize),
        direction(cols, rows, kNoDirection),
        corrected(cols, rows, kNoDirection),
        isotropy(cols, rows, 255),
        coarse((cols + 1) / 2, (rows + 1) / 2) {
    EngineParams params = DefaultEngineParams();
    EXPECT_TRUE(EstimateBlockDirections(params, image.width(), image.height(), image.get(), cols,
                                        rows, kBlockSize, direction.get(), corrected.get(),
                                        isotropy.get(), coarse.get()));
  }
};

bool Same(const TestImage& a, const TestImage& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.get()[y][x] != b.get()[y][x]) return false;
  return true;
}

// The prints' direction inputs give the four recorded maps, blocks cut by the image edge
// included, in every vector instruction set.
TEST(EstimateBlockDirections, GoldenInputsGiveTheRecordedMaps) {
  const auto inputs = testing::GoldenStageImages("05_direction_input.pgm");
  const auto directions = testing::GoldenStageImages("07_block_direction_map.pgm");
  const auto isotropies = testing::GoldenStageImages("07_block_isotropy_map.pgm");
  const auto corrected = testing::GoldenStageImages("07_corrected_direction_map.pgm");
  const auto coarse = testing::GoldenStageImages("07_coarse_direction_field.pgm");
  if (inputs.empty() || inputs.size() != directions.size() || inputs.size() != isotropies.size() ||
      inputs.size() != corrected.size() || inputs.size() != coarse.size()) {
    GTEST_SKIP() << "no golden vectors";
  }
  testing::ForEachVectorTarget([&](const std::string& target) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      const BlockFields fields(*inputs[i]);
      EXPECT_TRUE(Same(fields.direction, *directions[i])) << target << " case " << i;
      EXPECT_TRUE(Same(fields.isotropy, *isotropies[i])) << target << " case " << i;
      EXPECT_TRUE(Same(fields.corrected, *corrected[i])) << target << " case " << i;
      EXPECT_TRUE(Same(fields.coarse, *coarse[i])) << target << " case " << i;
    }
  });
}

uint8_t VerticalStripes(int x, int) { return x % 8 < 4 ? 40 : 200; }
uint8_t HorizontalStripes(int, int y) { return y % 8 < 4 ? 40 : 200; }

TEST(EstimateBlockDirections, FlatImageHasNoDirectionAnywhere) {
  TestImage image(70, 50, 128);
  BlockFields f(image);
  for (int r = 0; r < f.rows; ++r) {
    for (int c = 0; c < f.cols; ++c) {
      EXPECT_EQ(f.direction.at(c, r), kNoDirection);
      EXPECT_EQ(f.corrected.at(c, r), kNoDirection);
      EXPECT_EQ(f.isotropy.at(c, r), 255);
    }
  }
}

TEST(EstimateBlockDirections, StripesGiveTheirDirectionInEveryBlockIncludingPartialOnes) {
  // 70 x 50: partial blocks at the right (6 columns) and bottom (2 rows).
  TestImage vertical(70, 50, VerticalStripes);
  BlockFields v(vertical);
  ASSERT_EQ(v.cols, 5);
  ASSERT_EQ(v.rows, 4);
  TestImage horizontal(70, 50, HorizontalStripes);
  BlockFields h(horizontal);
  for (int r = 0; r < v.rows; ++r) {
    for (int c = 0; c < v.cols; ++c) {
      EXPECT_EQ(v.direction.at(c, r), 60) << c << "," << r;
      EXPECT_EQ(v.corrected.at(c, r), 60);
      EXPECT_EQ(v.isotropy.at(c, r), 0);
      EXPECT_EQ(h.direction.at(c, r), 0) << c << "," << r;
      EXPECT_EQ(h.isotropy.at(c, r), 0);
    }
  }
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v.coarse.at(i, j), 60);
}

TEST(EstimateBlockDirections, WindowBelow256PixelsHasNoDirection) {
  // 17 x 17 holds 15 x 15 non-border pixels in all; 18 x 18 holds exactly 256.
  TestImage tiny(17, 17, VerticalStripes);
  BlockFields t(tiny);
  EXPECT_EQ(t.direction.at(0, 0), kNoDirection);
  EXPECT_EQ(t.isotropy.at(0, 0), 255);
  EXPECT_EQ(t.direction.at(1, 1), kNoDirection);
  TestImage enough(18, 18, VerticalStripes);
  BlockFields e(enough);
  EXPECT_EQ(e.direction.at(1, 1), 60);
}

TEST(EstimateBlockDirections, LowContrastStripesAreUnusableButKeepTheirCode) {
  // A step of 2 grey levels: Vmax far below 2 x 17 x 256.
  TestImage faint(64, 64, [](int x, int) { return static_cast<uint8_t>(x % 8 < 4 ? 100 : 102); });
  BlockFields f(faint);
  EXPECT_EQ(f.direction.at(1, 1), 60);
  EXPECT_EQ(f.isotropy.at(1, 1), 255);
}

TEST(StraysFromCoarse, ArcBoundsAwayFromTheWrap) {
  EXPECT_FALSE(StraysFromCoarse(25, 40));
  EXPECT_FALSE(StraysFromCoarse(55, 40));
  EXPECT_TRUE(StraysFromCoarse(24, 40));
  EXPECT_TRUE(StraysFromCoarse(56, 40));
  EXPECT_FALSE(StraysFromCoarse(30, 15));  // 15 itself still uses exclusive bounds
  EXPECT_TRUE(StraysFromCoarse(31, 15));
  EXPECT_FALSE(StraysFromCoarse(0, 15));
}

TEST(StraysFromCoarse, ArcBoundsWhereTheArcWrapsPastZero) {
  EXPECT_FALSE(StraysFromCoarse(19, 5));
  EXPECT_FALSE(StraysFromCoarse(111, 5));
  EXPECT_TRUE(StraysFromCoarse(20, 5));
  EXPECT_TRUE(StraysFromCoarse(110, 5));
  EXPECT_FALSE(StraysFromCoarse(0, 5));
  // Coarse 110 wraps the other way: 5 and 95 (exactly 15 away) are replaced.
  EXPECT_FALSE(StraysFromCoarse(4, 110));
  EXPECT_TRUE(StraysFromCoarse(5, 110));
  EXPECT_TRUE(StraysFromCoarse(95, 110));
  EXPECT_FALSE(StraysFromCoarse(96, 110));
  EXPECT_FALSE(StraysFromCoarse(119, 110));
}

}  // namespace
}  // namespace ridgeline
