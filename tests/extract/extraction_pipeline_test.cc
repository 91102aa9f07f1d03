// The pipeline's own steps between the stages, against their plain per-pixel forms.
#include "extract/extraction_pipeline.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/engine_params.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"
#include "tests/support/sanitizer_build.h"

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

// One pipeline run on a copy of image: its return value, its result and the pixels it leaves.
struct PipelineRun {
  int mean_isotropy = 0;
  std::unique_ptr<ExtractionResult> result = std::make_unique<ExtractionResult>();
  std::vector<uint8_t> pixels;
};

PipelineRun RunOnCopy(const TestImage& image) {
  const int w = image.width(), h = image.height();
  TestImage copy(w, h, [&](int x, int y) { return image.get()[y][x]; });
  EngineParams params{};
  InitEngineParams(&params);
  PipelineRun run;
  run.mean_isotropy = RunExtractionPipeline(&params, w, h, copy.get(), run.result.get());
  for (int y = 0; y < h; ++y) run.pixels.insert(run.pixels.end(), copy.get()[y], copy.get()[y] + w);
  return run;
}

// The working images are taken unfilled where a copy writes them whole first: from the pool of
// the last capture's wiped images, or from the allocator. Either way an image read before it is
// written would make a result depend on what ran before: each golden capture, run after each
// other one, must give what it gives alone.
TEST(RunExtractionPipeline, CapturesInARowGiveWhatEachGivesAlone) {
  const auto images = testing::GoldenStageImages("01_resampled.pgm");
  if (images.size() < 2) GTEST_SKIP() << "no golden data";
  std::vector<PipelineRun> alone;
  for (const auto& image : images) alone.push_back(RunOnCopy(*image));
  // The sanitizer build is slow: there each capture follows only the one listed before it.
  for (size_t before = 0; before < images.size(); ++before) {
    for (size_t i = 0; i < images.size(); ++i) {
      if (i == before) continue;
      if (testing::kSanitizedBuild && i != (before + 1) % images.size()) continue;
      (void)RunOnCopy(*images[before]);
      const PipelineRun again = RunOnCopy(*images[i]);
      ASSERT_GE(again.mean_isotropy, 0);
      EXPECT_EQ(again.mean_isotropy, alone[i].mean_isotropy) << i << " after " << before;
      EXPECT_EQ(std::memcmp(again.result.get(), alone[i].result.get(), sizeof(ExtractionResult)), 0)
          << i << " after " << before;
      EXPECT_EQ(again.pixels, alone[i].pixels) << i << " after " << before;
    }
  }
}

}  // namespace
}  // namespace ridgeline
