#include "tools/synth/ridge_growth.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tools/synth/portable_math.h"

namespace ridgeline::synth {
namespace {

constexpr int kTaps = kKernelSide * kKernelSide;

const int16_t* Kernel(const std::vector<int16_t>& bank, int direction, int period) {
  return &bank[(static_cast<size_t>(direction) * kPeriodBins + period) * kTaps];
}

// Each kernel must ignore a flat patch and pass a sinusoid of its own period across its own
// direction with gain 1 (Q12), or the growth drifts or fails to saturate.
TEST(RidgeGrowthKernels, AreZeroMeanWithUnitGainOnTheirOwnWave) {
  const std::vector<int16_t> bank = BuildKernelBank();
  ASSERT_EQ(bank.size(), static_cast<size_t>(kDirectionBins) * kPeriodBins * kTaps);
  for (int d = 0; d < kDirectionBins; ++d) {
    for (int p = 0; p < kPeriodBins; ++p) {
      const int16_t* kernel = Kernel(bank, d, p);
      const double angle = kPi * d / kDirectionBins;
      const double frequency = 2.0 * kPi / (kMinPeriod + kPeriodStep * p);
      long sum = 0;
      double response = 0.0;
      for (int v = -kKernelRadius; v <= kKernelRadius; ++v) {
        for (int u = -kKernelRadius; u <= kKernelRadius; ++u) {
          const int16_t weight = kernel[(v + kKernelRadius) * kKernelSide + u + kKernelRadius];
          sum += weight;
          const double across = -u * std::sin(angle) + v * std::cos(angle);
          response += weight * std::cos(frequency * across);
        }
      }
      EXPECT_LE(std::labs(sum), kTaps / 2) << d << " " << p;  // rounding of each tap only
      EXPECT_NEAR(response, 1 << kKernelShift, 40.0) << d << " " << p;
    }
  }
}

TEST(RidgeGrowthKernels, ARotatedWaveIsDamped) {
  const std::vector<int16_t> bank = BuildKernelBank();
  // Direction 0 (horizontal ridges) against a wave running along x (vertical ridges).
  const int16_t* kernel = Kernel(bank, 0, 6);
  const double frequency = 2.0 * kPi / (kMinPeriod + kPeriodStep * 6);
  double response = 0.0;
  for (int v = -kKernelRadius; v <= kKernelRadius; ++v) {
    for (int u = -kKernelRadius; u <= kKernelRadius; ++u) {
      response +=
          kernel[(v + kKernelRadius) * kKernelSide + u + kKernelRadius] * std::cos(frequency * u);
    }
  }
  EXPECT_LT(std::fabs(response), 0.1 * (1 << kKernelShift));
}

GrowthField UniformField(int width, int height, int direction, int period) {
  GrowthField field;
  field.width = width;
  field.height = height;
  field.direction_bin.assign(static_cast<size_t>(width) * height, static_cast<uint8_t>(direction));
  field.period_bin.assign(field.direction_bin.size(), static_cast<uint8_t>(period));
  return field;
}

// Horizontal ridges of period 9: along each column the sign should flip about every 4.5 pixels,
// and along rows hardly at all.
TEST(RidgeGrowth, UniformFieldGrowsSaturatedParallelRidgesOfThePeriod) {
  const int width = 96;
  const int height = 96;
  Rng rng(5);
  const std::vector<int16_t> ridges = GrowRidges(UniformField(width, height, 0, 6), 14, rng);
  ASSERT_EQ(ridges.size(), static_cast<size_t>(width) * height);
  int saturated = 0;
  int column_flips = 0;
  int row_flips = 0;
  for (int y = 16; y < height - 16; ++y) {
    for (int x = 16; x < width - 16; ++x) {
      const int16_t value = ridges[y * width + x];
      ASSERT_LE(std::abs(value), kGrowthOne);
      saturated += std::abs(value) == kGrowthOne;
      column_flips += (value > 0) != (ridges[(y + 1) * width + x] > 0);
      row_flips += (value > 0) != (ridges[y * width + x + 1] > 0);
    }
  }
  const int inner = (width - 32) * (height - 32);
  EXPECT_GT(saturated, inner / 2);
  const double period = 2.0 * inner / column_flips;
  EXPECT_NEAR(period, 9.0, 0.9);
  EXPECT_LT(row_flips, column_flips / 8);
}

TEST(RidgeGrowth, SameGeneratorStateGivesTheSamePattern) {
  Rng a(11);
  Rng b(11);
  Rng c(12);
  const GrowthField field = UniformField(64, 48, 17, 3);
  const std::vector<int16_t> first = GrowRidges(field, 6, a);
  EXPECT_EQ(first, GrowRidges(field, 6, b));
  EXPECT_NE(first, GrowRidges(field, 6, c));
}

}  // namespace
}  // namespace ridgeline::synth
