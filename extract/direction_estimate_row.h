// The direction estimate of a row of pixels from their four gradient window sums, written for
// the vectoriser: the sector choice as selects, the divisions in double. Included by the
// portable build and by the Highway build, which compiles it once per instruction set, so the
// same loop runs 2, 4 or 8 doubles wide as the processor allows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "core/constants.h"

namespace ridgeline::direction_estimate {

constexpr int32_t kNoDirectionAnisotropy = 255;
// Diagonal differences span sqrt(2) pixels: they are scaled by 71 / 100 before comparing.
constexpr int32_t kDiagonalScale = 71;
// Each base code is the centre of a 30-code (45-degree) sector; the interpolation spans +-15.
constexpr int32_t kSectorHalf = 15;
// The row form takes sums below this, so that no int32 product overflows ((lo - c) 255 stays
// below 1.5 x 2^22 x 255 < 2^31).
constexpr int32_t kRowEstimateLimit = int32_t{1} << 22;

// m / d rounded toward zero, as C++ divides, for |m| < 2^30, 0 < d < 2^26 and |m| <= 60 d, the
// sector offset's bounds (the numerator is at most 4 x 15 differences from the largest sum, the
// divisor their total), in single precision, which runs twice as wide as double: the float
// quotient of |m| / d is within 60 x 2^-22 of the true one (three roundings of relative error
// 2^-24), so its whole part is at most one off the floor k of the true quotient, and one
// compare of k d with |m| either way makes it exact. Products stay below 62 x 2^26 < 2^32.
[[gnu::always_inline]] inline int32_t SmallQuotient(int32_t m, int32_t d) {
  // Branch-free (no select either), for the vectoriser: sign is 0 or -1.
  const int32_t sign = m >> 31;
  const auto size = static_cast<uint32_t>((m ^ sign) - sign);
  const auto divisor = static_cast<uint32_t>(d);
  auto k = static_cast<uint32_t>(
      static_cast<int32_t>(static_cast<float>(static_cast<int32_t>(size)) / static_cast<float>(d)));
  k -= static_cast<uint32_t>(k * divisor > size);
  k += static_cast<uint32_t>((k + 1) * divisor <= size);
  return (static_cast<int32_t>(k) ^ sign) - sign;
}

// codes[i] (and, with kAnisotropy, anisotropies[i]) of the sums at i < count, equal to the
// pixel form of the estimate. Without branches, so that the loop vectorises: the four
// differences p, q, r, s of the sector become selects (the same strict comparisons, so the same
// tie rule), the sector offset's division is SmallQuotient and the others are done in double. That
// is exact: numerator and divisor are integers below 2^53, so a whole quotient comes out whole, and
// any other lies at least 1 / |divisor| from the next whole number while the rounding moves it by
// under |quotient| 2^-53, far less. Nothing here is a multiply-add in double, so contraction cannot
// change a bit either.
// Always inlined: the Highway build compiles each caller for its own instruction set and the
// loop must be vectorised there, not in one shared copy.
// REQUIRES: every sum >= 0 and below kRowEstimateLimit (below 2^24 without kAnisotropy).
template <bool kAnisotropy>
[[gnu::always_inline]] inline void EstimateLanes(const int32_t* __restrict horizontal,
                                                 const int32_t* __restrict diagonal1,
                                                 const int32_t* __restrict vertical,
                                                 const int32_t* __restrict diagonal2, int count,
                                                 uint8_t* __restrict codes,
                                                 int32_t* __restrict anisotropies) {
  for (int i = 0; i < count; ++i) {
    const int32_t h = horizontal[i];
    const int32_t v = vertical[i];
    // Sums are below 2^24, so the products fit and unsigned division gives the same quotient.
    const auto d1 =
        static_cast<int32_t>(static_cast<uint32_t>(diagonal1[i]) * kDiagonalScale / 100u);
    const auto d2 =
        static_cast<int32_t>(static_cast<uint32_t>(diagonal2[i]) * kDiagonalScale / 100u);
    const int32_t most = std::max(std::max(h, d1), std::max(v, d2));
    // The two least-changing directions that are neighbours name the sector; the first pair
    // keeps a tie.
    int32_t base = 45;
    int32_t pair = v + d1;
    int32_t p = d2, q = d1, r = v, s = h;
    const bool second = v + d2 < pair;
    base = second ? 75 : base;
    pair = second ? v + d2 : pair;
    p = second ? h : p;
    q = second ? v : q;
    r = second ? d2 : r;
    s = second ? d1 : s;
    const bool third = h + d2 < pair;
    base = third ? 105 : base;
    pair = third ? h + d2 : pair;
    p = third ? d1 : p;
    q = third ? d2 : q;
    r = third ? h : r;
    s = third ? v : s;
    const bool fourth = h + d1 < pair;
    base = fourth ? 15 : base;
    p = fourth ? v : p;
    q = fourth ? h : q;
    r = fourth ? d1 : r;
    s = fourth ? d2 : s;

    const int32_t n = h + v + d1 + d2 - 4 * most;  // <= 0; 0 only when all four are equal
    const bool flat = n == 0;
    const int32_t numerator = (3 * (p - s) - q + r) * kSectorHalf;
    // n == 0 (no direction) divides by 1 instead, and its quotient is not used; no select, as
    // the compiler would move the conversion of a selected divisor under a branch.
    const int32_t offset = SmallQuotient(-numerator, static_cast<int32_t>(flat) - n);
    int32_t code = base + offset;
    code = code == kDirectionSteps ? 0 : code;
    codes[i] = static_cast<uint8_t>(flat ? kNoDirection : code);
    if constexpr (kAnisotropy) {
      const bool r_lower = r < q;
      const int32_t lo = r_lower ? r : q;
      const int32_t hi = r_lower ? s : p;
      const int32_t spread = (kSectorHalf - std::abs(offset)) * (hi - lo);
      // spread / 30 rounded toward zero, as an unsigned division by a constant (a multiply
      // and shift) of its size: no division instruction.
      const int32_t spread_sign = spread >> 31;
      const auto spread_size = static_cast<uint32_t>((spread ^ spread_sign) - spread_sign);
      const auto c_size = static_cast<int32_t>(spread_size / (2u * kSectorHalf));
      const int32_t c = (c_size ^ spread_sign) - spread_sign;
      const int32_t top = hi + c;
      const bool no_top = top == 0;
      const auto a = static_cast<int32_t>(static_cast<double>(std::max(lo - c, 0) * 255) /
                                          static_cast<double>(top + (no_top ? 1 : 0)));
      // A mask, not a select: a select lets the compiler move the division under a branch,
      // and a loop with a branch does not vectorise.
      const int32_t special = -static_cast<int32_t>(flat | no_top);
      anisotropies[i] = (a & ~special) | (kNoDirectionAnisotropy & special);
    }
  }
}

}  // namespace ridgeline::direction_estimate
