// Exact division of 8-bit pixel sums by a fixed pixel count, as a multiplication.
#pragma once

#include <cstdint>

namespace ridgeline {

// Division of n by a fixed d > 0 as (n x m) >> 32 with m = ceil(2^32 / d). For 0 <= n <= 255 d
// the result is exactly n / d whenever 255 d^2 < 2^32: writing n = q d + r, the product is
// n / d + n (m d - 2^32) / (d 2^32), and the second term stays under 1 / d, so it never
// carries r / d over the next whole number.
class ExactDivider {
 public:
  explicit ExactDivider(uint32_t d) : d_(d), m_(d == 0 ? 0 : ((uint64_t{1} << 32) + d - 1) / d) {}
  // True when Divide is exact for every n in 0 .. 255 d (the mean of 8-bit pixels).
  bool exact_below_256_times() const {
    return d_ > 0 && 255 * uint64_t{d_} * d_ < (uint64_t{1} << 32);
  }
  uint32_t Divide(uint32_t n) const { return static_cast<uint32_t>((n * m_) >> 32); }

 private:
  uint32_t d_;
  uint64_t m_;
};

// Division of n by a fixed d > 0 in 16-bit lanes: ((n x m) >> 16) >> shift with
// m = ceil(2^(16 + shift) / d) below 2^16, the high half of a 16 x 16-bit product. Writing
// m d = 2^k + e (k = 16 + shift, 0 <= e < d) and n = q d + r, the product over 2^k is
// q + r / d + n e / (d 2^k), which stays below q + 1 for every r < d exactly when n e < 2^k;
// the constructor takes the smallest shift for which that holds for every n up to
// largest, if there is one (never for d = 1, whose multiplier would be 2^16).
class NarrowDivider {
 public:
  NarrowDivider(uint32_t d, uint32_t largest) {
    if (d == 0 || largest >= (uint32_t{1} << 16)) return;
    for (int shift = 0; shift < 16; ++shift) {
      const uint64_t k = uint64_t{1} << (16 + shift);
      const uint64_t m = (k + d - 1) / d;
      if (m >= (uint64_t{1} << 16)) break;
      if (uint64_t{largest} * (m * d - k) < k) {
        multiplier_ = static_cast<uint16_t>(m);
        shift_ = shift;
        exact_ = true;
        return;
      }
    }
  }
  // True when Divide is exact for every n in 0 .. largest.
  bool exact() const { return exact_; }
  uint16_t multiplier() const { return multiplier_; }
  int shift() const { return shift_; }
  uint32_t Divide(uint16_t n) const {
    return ((uint32_t{n} * multiplier_) >> 16) >> static_cast<uint32_t>(shift_);
  }

 private:
  uint16_t multiplier_ = 0;
  int shift_ = 0;
  bool exact_ = false;
};

}  // namespace ridgeline
