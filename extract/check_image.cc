// Grey-level histogram test of the resampled capture.
#include "extract/check_image.h"

#include <algorithm>
#include <array>

namespace ridgeline {

GreyLevelSummary SummarizeGreyLevels(const uint8_t* const* image, int width, int height) {
  std::array<uint32_t, 256> counts{};
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = image[y];
    for (int x = 0; x < width; ++x) ++counts[row[x]];
  }
  GreyLevelSummary summary{0, 0};
  for (uint32_t count : counts) {
    if (count > kWellPopulatedCount) ++summary.distinct;
    summary.peak = std::max(summary.peak, count);
  }
  return summary;
}

bool CheckImage(const uint8_t* const* image, int width, int height) {
  const GreyLevelSummary summary = SummarizeGreyLevels(image, width, height);
  const uint32_t pixels = static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
  // The peak test is a single-precision comparison with 0.8 of the pixel count.
  const float limit = 0.8f * static_cast<float>(pixels);
  return summary.distinct >= kMinDistinctLevels && static_cast<float>(summary.peak) <= limit;
}

}  // namespace ridgeline
