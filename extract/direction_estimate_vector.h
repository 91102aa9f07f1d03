// The row form of the direction estimate (direction_estimate_row.h) at the widest vectors the
// processor has, chosen at run time; every choice gives the same bytes.
#pragma once

#include <cstdint>

namespace ridgeline {

// direction_estimate::EstimateLanes<false>: the codes of a row. REQUIRES: sums >= 0, < 2^24.
void EstimateCodesVector(const int32_t* horizontal, const int32_t* diagonal1,
                         const int32_t* vertical, const int32_t* diagonal2, int count,
                         uint8_t* codes);

// direction_estimate::EstimateLanes<true>: codes and anisotropies of a row.
// REQUIRES: sums >= 0 and below direction_estimate::kRowEstimateLimit.
void EstimateRowVector(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                       const int32_t* diagonal2, int count, uint8_t* codes, int32_t* anisotropies);

}  // namespace ridgeline
