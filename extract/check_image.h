// The grey-level test that refuses degenerate captures before extraction.
#pragma once

#include <cstdint>

namespace ridgeline {

// Grey-level histogram summary of an image.
struct GreyLevelSummary {
  int distinct;   // levels held by more than kWellPopulatedCount pixels
  uint32_t peak;  // the largest count of one level
};

constexpr uint32_t kWellPopulatedCount = 10;  // pixels a level needs to count as distinct
constexpr int kMinDistinctLevels = 5;

GreyLevelSummary SummarizeGreyLevels(const uint8_t* const* image, int width, int height);

// True when the image holds at least 5 well-populated grey levels and no level covers more than
// 80 % of its width x height pixels (compared in single precision, the pixel count taken as an
// unsigned 32-bit product).
bool CheckImage(const uint8_t* const* image, int width, int height);

}  // namespace ridgeline
