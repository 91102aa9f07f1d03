// The ridge direction and isotropy of a window from its grey-level variations along the four
// sampled directions (codes 0, 30, 60 and 90). Shared by the block field and the pixel field.
#pragma once

#include <cstdint>

namespace ridgeline {

struct DirectionEstimate {
  uint8_t code;      // DirectionCode 0..119, or 127 when the variations do not decide one
  uint8_t isotropy;  // 0 clearly oriented .. 255 unusable
};

// v0, v30, v60, v90: variations along codes 0, 30, 60 and 90, the diagonal ones already scaled
// by 71 / 100. threshold: the low-contrast limit; a window whose largest variation does not
// exceed it gets isotropy 255 (its code is kept).
// REQUIRES: every variation >= 0.
DirectionEstimate DirectionFromVariations(int64_t v0, int64_t v30, int64_t v60, int64_t v90,
                                          int64_t threshold);

}  // namespace ridgeline
