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

}  // namespace ridgeline
