#include "extract/direction_from_variations.h"

#include <algorithm>
#include <cassert>

#include "core/constants.h"

namespace ridgeline {
namespace {

constexpr int kHalfStep = 15;  // codes between a chosen pair's centre and its sampled ends
constexpr int kQuarterTurn = 60;
constexpr int kMaxIsotropy = 255;

}  // namespace

DirectionEstimate DirectionFromVariations(int64_t v0, int64_t v30, int64_t v60, int64_t v90,
                                          int64_t threshold) {
  assert(v0 >= 0 && v30 >= 0 && v60 >= 0 && v90 >= 0);
  // Variation by sampled code / 30, codes taken modulo 120 (code 120 is code 0 again).
  const int64_t v[4] = {v0, v30, v60, v90};
  auto at = [&v](int code) { return v[(code % kDirectionSteps) / 30]; };
  const int64_t v_max = std::max(std::max(v0, v30), std::max(v60, v90));

  // The ridge runs between the adjacent pair of sampled directions that varies least; ties
  // keep the earlier pair in the order 45, 75, 105, 15.
  int centre = 45;
  int64_t least = v30 + v60;
  if (v60 + v90 < least) {
    centre = 75;
    least = v60 + v90;
  }
  if (v90 + v0 < least) {
    centre = 105;
    least = v90 + v0;
  }
  if (v0 + v30 < least) centre = 15;
  const int d1 = centre - kHalfStep;
  const int d2 = centre + kHalfStep;
  const int o1 = d1 + kQuarterTurn;
  const int o2 = d2 + kQuarterTurn;

  DirectionEstimate out{kNoDirection, kMaxIsotropy};
  // q <= 0; it is 0 only when all four variations are equal.
  const int64_t q = v0 + v30 + v60 + v90 - 4 * v_max;
  if (q != 0) {
    const int64_t offset = (3 * at(o1) + at(d2) - 3 * at(o2) - at(d1)) * kHalfStep / q;
    uint8_t code = static_cast<uint8_t>(centre + offset);
    if (code == kDirectionSteps) code = 0;
    out.code = code;

    int64_t along = at(d2);
    int64_t across = at(o2);
    if (at(d2) >= at(d1)) {
      along = at(d1);
      across = at(o1);
    }
    const int64_t abs_offset = offset < 0 ? -offset : offset;
    const int64_t k = (kHalfStep - abs_offset) * (across - along) / (2 * kHalfStep);
    if (across + k == 0) {
      out.isotropy = kMaxIsotropy;
    } else {
      out.isotropy =
          static_cast<uint8_t>(std::max<int64_t>(along - k, 0) * kMaxIsotropy / (across + k));
    }
  }
  if (threshold >= v_max) out.isotropy = kMaxIsotropy;
  return out;
}

}  // namespace ridgeline
