// The synthesiser's only source of randomness: xoshiro256** seeded through splitmix64, written
// out so that a seed gives the same stream on every compiler, library and machine. Nothing here
// uses the standard library's engines or distributions, whose outputs are not fixed across
// implementations.
#pragma once

#include <cstdint>

namespace ridgeline::synth {

// One splitmix64 step: advances state and returns a well-mixed 64-bit value.
inline uint64_t SplitMix64(uint64_t& state) {
  state += 0x9E3779B97F4A7C15ull;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A seed for a numbered sub-stream (finger a, impression b) of a set seed; distinct triples give
// unrelated streams.
inline uint64_t DeriveSeed(uint64_t seed, uint64_t a, uint64_t b = 0) {
  uint64_t state = seed;
  uint64_t mixed = SplitMix64(state);
  state = mixed ^ (a * 0xD1B54A32D192ED03ull);
  mixed = SplitMix64(state);
  state = mixed ^ (b * 0x8CB92BA72F3D8DD7ull);
  return SplitMix64(state);
}

class Rng {
 public:
  explicit Rng(uint64_t seed) {
    uint64_t state = seed;
    for (uint64_t& word : s_) word = SplitMix64(state);
  }

  uint64_t Next() {
    const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }

  // Uniform in [0, 1) with 53 random bits; exact, so identical everywhere.
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Uniform in [lo, hi).
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  // Uniform integer in [0, n), n >= 1, by multiply-shift on 32 bits (bias below 2^-32 * n).
  uint32_t Below(uint32_t n) {
    return static_cast<uint32_t>(((Next() >> 32) * static_cast<uint64_t>(n)) >> 32);
  }
  // Approximately standard normal: the Irwin-Hall sum of four uniforms, centred and scaled to
  // unit variance. Bounded by +/-3.46, which keeps every drawn parameter inside its range.
  double Normal() {
    const double sum = Uniform() + Uniform() + Uniform() + Uniform();
    return (sum - 2.0) * 1.7320508075688772;
  }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  uint64_t s_[4];
};

}  // namespace ridgeline::synth
