// Grows a ridge pattern over a direction and period field by iterated oriented (Gabor) filtering
// with saturation: from sparse random seeds, each round filters the pattern with the kernel of
// each pixel's direction and period, amplifies and clips it. Ridges spread from the seeds along
// the field; where fronts of different phase meet, endings and bifurcations form on their own.
// Integer arithmetic throughout, so the pattern is identical on every machine.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/synth/random.h"

namespace ridgeline::synth {

// Ridge directions are quantised to kDirectionBins steps over [0, pi); periods to
// kPeriodStep-pixel steps from kMinPeriod to kMaxPeriod.
inline constexpr int kDirectionBins = 48;
inline constexpr double kMinPeriod = 6.0;
inline constexpr double kMaxPeriod = 13.0;
inline constexpr double kPeriodStep = 0.5;
inline constexpr int kPeriodBins = 15;  // (kMaxPeriod - kMinPeriod) / kPeriodStep + 1
// Value of a saturated ridge (valleys are its negative).
inline constexpr int kGrowthOne = 1024;

struct GrowthField {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> direction_bin;  // 0 .. kDirectionBins - 1, one per pixel
  std::vector<uint8_t> period_bin;     // 0 .. kPeriodBins - 1
};

// Returns width * height values in [-kGrowthOne, kGrowthOne], positive on ridges.
// REQUIRES: field sizes match width * height; rounds >= 1.
std::vector<int16_t> GrowRidges(const GrowthField& field, int rounds, Rng& rng);

// The filter bank, exposed for tests: kernel (direction, period) as (2R+1)^2 int16 weights in
// Q12, zero mean, responding with gain 1 to a sinusoid of that period across that direction.
inline constexpr int kKernelRadius = 6;
inline constexpr int kKernelSide = 2 * kKernelRadius + 1;
inline constexpr int kKernelShift = 12;
std::vector<int16_t> BuildKernelBank();

}  // namespace ridgeline::synth
