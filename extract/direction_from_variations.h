// The ridge direction and isotropy of a window from its grey-level variations along the four
// sampled directions (codes 0, 30, 60 and 90). Shared by the block field and the pixel field.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/constants.h"

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

// The largest variation DirectionFromVariations32 takes. Its intermediates stay within 510 times
// the largest variation: the chosen pair varies least of the four adjacent pairs, so one of its
// two orthogonal directions holds the maximum, |3 (o1 - o2) + d2 - d1| <= 3 |q| and the offset
// lies within -45 .. 45 codes (in fact within -15 .. 15).
constexpr int32_t kMaxVariation32 = INT32_MAX / 512;

// DirectionFromVariations in 32-bit arithmetic, inlined into the per-pixel loops: the same
// expressions in the same order, so the same truncations, and the same result bit for bit.
// REQUIRES: 0 <= every variation <= kMaxVariation32.
inline DirectionEstimate DirectionFromVariations32(int32_t v0, int32_t v30, int32_t v60,
                                                   int32_t v90, int32_t threshold) {
  // The pair with its two ends (d1, d2) and the directions a quarter turn from them (o1, o2).
  int32_t centre = 45;
  int32_t least = v30 + v60;
  int32_t d1 = v30, d2 = v60, o1 = v90, o2 = v0;
  if (v60 + v90 < least) {
    centre = 75;
    least = v60 + v90;
    d1 = v60, d2 = v90, o1 = v0, o2 = v30;
  }
  if (v90 + v0 < least) {
    centre = 105;
    least = v90 + v0;
    d1 = v90, d2 = v0, o1 = v30, o2 = v60;
  }
  if (v0 + v30 < least) {
    centre = 15;
    d1 = v0, d2 = v30, o1 = v60, o2 = v90;
  }
  const int32_t v_max = std::max(std::max(v0, v30), std::max(v60, v90));
  DirectionEstimate out{kNoDirection, 255};
  const int32_t q = v0 + v30 + v60 + v90 - 4 * v_max;
  if (q != 0) {
    const int32_t offset = (3 * o1 + d2 - 3 * o2 - d1) * 15 / q;
    uint8_t code = static_cast<uint8_t>(centre + offset);
    if (code == kDirectionSteps) code = 0;
    out.code = code;
    int32_t along = d2;
    int32_t across = o2;
    if (d2 >= d1) {
      along = d1;
      across = o1;
    }
    const int32_t abs_offset = offset < 0 ? -offset : offset;
    const int32_t k = (15 - abs_offset) * (across - along) / 30;
    out.isotropy = across + k == 0
                       ? uint8_t{255}
                       : static_cast<uint8_t>(std::max(along - k, 0) * 255 / (across + k));
  }
  if (threshold >= v_max) out.isotropy = 255;
  return out;
}

}  // namespace ridgeline
