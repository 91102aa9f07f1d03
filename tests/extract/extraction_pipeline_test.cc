// The pipeline's own steps between the stages, against their plain per-pixel forms.
#include "extract/extraction_pipeline.h"

#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

// Every pixel takes its block's code, one pixel at a time.
void SpreadBlockDirectionsReference(int width, int height, const uint8_t* const* blockMap,
                                    GrayImage directionImage) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) directionImage[y][x] = blockMap[y / kBlockSize][x / kBlockSize];
  }
}

TEST(SpreadBlockDirections, MatchesPerPixelSpreadOnWholeAndPartialBlocks) {
  std::mt19937 random(20);
  // Whole blocks only, a one-pixel partial block, and partial blocks of every other width.
  const int sides[][2] = {{34, 34}, {48, 64}, {49, 65}, {63, 47}, {426, 411}, {35, 1024}};
  for (const auto& side : sides) {
    const int width = side[0];
    const int height = side[1];
    const int cols = (width + kBlockSize - 1) / kBlockSize;
    const int rows = (height + kBlockSize - 1) / kBlockSize;
    const TestImage blocks(cols, rows,
                           [&](int, int) { return static_cast<uint8_t>(random() & 0xff); });
    // Stale pixels in both, so that a pixel the spread misses shows.
    TestImage fast(width, height, 0xa5);
    TestImage reference(width, height, 0x5a);
    SpreadBlockDirections(width, height, blocks.get(), fast.get());
    SpreadBlockDirectionsReference(width, height, blocks.get(), reference.get());
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        ASSERT_EQ(fast.get()[y][x], reference.get()[y][x])
            << width << " x " << height << " at " << x << ", " << y;
      }
    }
  }
}

}  // namespace
}  // namespace ridgeline
