// Grey-level histogram test of the resampled capture.
#include "extract/check_image.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace ridgeline {

GreyLevelSummary SummarizeGreyLevels(const uint8_t* const* image, int width, int height) {
  // Eight partial histograms taken in turn: a run of one grey level (the white background of a
  // capture) would otherwise make each count wait for the store of the one before; with eight,
  // a count's store has eight pixels' time to land before its table is read again.
  constexpr int kPartial = 8;
  std::array<std::array<uint32_t, 256>, kPartial> partial{};
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = image[y];
    int x = 0;
    for (; x + kPartial <= width; x += kPartial) {
      for (int i = 0; i < kPartial; ++i) ++partial[static_cast<size_t>(i)][row[x + i]];
    }
    for (; x < width; ++x) ++partial[0][row[x]];
  }
  std::array<uint32_t, 256> counts{};
  for (size_t level = 0; level < counts.size(); ++level) {
    for (const auto& p : partial) counts[level] += p[level];
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
