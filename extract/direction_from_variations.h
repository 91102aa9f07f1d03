// The ridge direction and isotropy of a window from its grey-level variations along the four
// sampled directions (codes 0, 30, 60 and 90). Shared by the block field and the pixel field.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

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

// a / b truncated toward zero, as the integer division gives it, computed in double so that
// loops over pixels vectorise (SSE2 divides doubles, not integers). Exact: a and b convert
// exactly; when b divides a the quotient is exact; otherwise a / b lies at least 1 / |b| from
// every integer, while rounding moves it by at most |a / b| 2^-53 < 1 / |b| (as |a| < 2^31 <
// 2^53), so it stays on the same side of every integer and truncates to the same value.
// REQUIRES: b != 0.
inline int32_t TruncatingQuotient(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<double>(a) / static_cast<double>(b));
}

// The same quotient in single precision, twice the lanes of a vector of doubles, for operands
// below 2^24: they convert exactly, and a / b, when not a whole number, lies at least 1 / |b|
// from every integer, while rounding moves it by at most |a / b| 2^-24 < 1 / |b|.
// REQUIRES: b != 0; |a|, |b| < 2^24.
inline int32_t TruncatingQuotient24(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<float>(a) / static_cast<float>(b));
}

// x / D for every 32-bit unsigned x as a multiplication and a shift, which vectorise: with
// m = ceil(2^S / D) and e = m D - 2^S, x m / 2^S = x / D + x e / (D 2^S), and the second term
// stays below 1 / D while x e < 2^S (checked below for all x < 2^32), too little to carry the
// first past the next integer (its fraction is at most (D - 1) / D).
template <uint32_t D, int S>
inline uint32_t DivideByConstant(uint32_t x) {
  constexpr uint64_t kM = ((uint64_t{1} << S) + D - 1) / D;
  static_assert((kM * D - (uint64_t{1} << S)) << 32 <= uint64_t{1} << S, "not exact for 2^32");
  return static_cast<uint32_t>((uint64_t{x} * kM) >> S);
}

// a / 30 truncated toward zero, as the integer division gives it.
inline int32_t QuotientBy30(int32_t a) {
  const auto magnitude = static_cast<uint32_t>(a);  // |a| as 0 - a modulo 2^32 when a < 0
  const auto q = static_cast<int32_t>(DivideByConstant<30, 36>(a < 0 ? 0u - magnitude : magnitude));
  return a < 0 ? -q : q;
}

// when ? a : b as arithmetic on masks. The compiler turns plain conditionals of this form into
// branches where it duplicates code, and a branch keeps a loop from being vectorised. Written
// as (a & mask) | (b & ~mask), the vectoriser makes it one blend (the exclusive-or form took
// three instructions: a tenth of the per-pixel direction loops).
inline int32_t Pick(bool when, int32_t a, int32_t b) {
  const int32_t mask = -int32_t{when};
  return (a & mask) | (b & ~mask);
}

// DirectionFromVariations32 written without branches, the divisions through
// TruncatingQuotient, for loops the compiler vectorises across pixels: the same comparisons in
// the same order choose the pair, and the result is the same bit for bit.
// REQUIRES: 0 <= every variation <= kMaxVariation32.
inline DirectionEstimate DirectionFromVariationsSelect(int32_t v0, int32_t v30, int32_t v60,
                                                       int32_t v90, int32_t threshold) {
  const int32_t s45 = v30 + v60, s75 = v60 + v90, s105 = v90 + v0, s15 = v0 + v30;
  const bool p75 = s75 < s45;
  int32_t least = Pick(p75, s75, s45);
  int32_t centre = Pick(p75, 75, 45);
  int32_t d1 = Pick(p75, v60, v30), d2 = Pick(p75, v90, v60);
  int32_t o1 = Pick(p75, v0, v90), o2 = Pick(p75, v30, v0);
  const bool p105 = s105 < least;
  least = Pick(p105, s105, least);
  centre = Pick(p105, 105, centre);
  d1 = Pick(p105, v90, d1);
  d2 = Pick(p105, v0, d2);
  o1 = Pick(p105, v30, o1);
  o2 = Pick(p105, v60, o2);
  const bool p15 = s15 < least;
  centre = Pick(p15, 15, centre);
  d1 = Pick(p15, v0, d1);
  d2 = Pick(p15, v30, d2);
  o1 = Pick(p15, v60, o1);
  o2 = Pick(p15, v90, o2);
  const int32_t v_max = std::max(std::max(v0, v30), std::max(v60, v90));
  const int32_t q = v0 + v30 + v60 + v90 - 4 * v_max;
  // q == 0 only when all four variations are equal; the numerator is then 0 and the divisor
  // is made 1 (the result is not used).
  const int32_t offset = TruncatingQuotient((3 * o1 + d2 - 3 * o2 - d1) * 15, q | int32_t{q == 0});
  const int32_t code = (centre + offset) & 0xFF;
  const bool first_pair = d2 >= d1;
  const int32_t along = Pick(first_pair, d1, d2);
  const int32_t across = Pick(first_pair, o1, o2);
  const int32_t abs_offset = std::abs(offset);
  const int32_t k = QuotientBy30((15 - abs_offset) * (across - along));
  const int32_t spread = across + k;
  const int32_t isotropy =
      TruncatingQuotient(std::max(along - k, 0) * 255, spread | int32_t{spread == 0});
  const int32_t unusable = int32_t{q == 0} | int32_t{spread == 0} | int32_t{threshold >= v_max};
  const int32_t direction = Pick(q == 0, kNoDirection, Pick(code == kDirectionSteps, 0, code));
  return {static_cast<uint8_t>(direction), static_cast<uint8_t>((isotropy | -unusable) & 0xFF)};
}

}  // namespace ridgeline
