#include "tools/synth/ridge_growth.h"

#include <algorithm>
#include <cassert>

#include "tools/synth/portable_math.h"

namespace ridgeline::synth {
namespace {

// Envelope widths of the growth kernel, pixels: longer along the ridge than across, so that
// ridges prefer to continue rather than split.
constexpr double kSigmaAlong = 4.0;
constexpr double kSigmaAcross = 3.0;
// Each round multiplies the filtered pattern by this before clipping: weak ridges grow, strong
// ones saturate into a near-binary pattern.
constexpr int kGrowthGain = 3;
// One seed dot per this many pixels squared, on average.
constexpr int kSeedSpacing = 36;
constexpr int kSeedRadius = 2;
// Faint noise under the seeds: where fronts of opposite phase meet and cancel, it breaks the tie
// so that no patch stays blank.
constexpr int kBackgroundNoise = 2;

constexpr int kKernelTaps = kKernelSide * kKernelSide;

double PeriodOfBin(int bin) { return kMinPeriod + kPeriodStep * bin; }

}  // namespace

std::vector<int16_t> BuildKernelBank() {
  std::vector<int16_t> bank(static_cast<size_t>(kDirectionBins) * kPeriodBins * kKernelTaps);
  std::vector<double> envelope(kKernelTaps);
  std::vector<double> wave(kKernelTaps);
  for (int d = 0; d < kDirectionBins; ++d) {
    const double angle = kPi * d / kDirectionBins;
    const double c = PortableCos(angle);
    const double s = PortableSin(angle);
    for (int p = 0; p < kPeriodBins; ++p) {
      const double frequency = 2.0 * kPi / PeriodOfBin(p);
      double envelope_sum = 0.0;
      double wave_sum = 0.0;
      for (int v = -kKernelRadius; v <= kKernelRadius; ++v) {
        for (int u = -kKernelRadius; u <= kKernelRadius; ++u) {
          const int tap = (v + kKernelRadius) * kKernelSide + (u + kKernelRadius);
          const double along = u * c + v * s;
          const double across = -u * s + v * c;
          envelope[tap] = PortableExp(-0.5 * (along * along / (kSigmaAlong * kSigmaAlong) +
                                              across * across / (kSigmaAcross * kSigmaAcross)));
          wave[tap] = PortableCos(frequency * across);
          envelope_sum += envelope[tap];
          wave_sum += envelope[tap] * wave[tap];
        }
      }
      // Zero mean, so flat regions stay flat; gain 1 on a matched sinusoid cos(frequency *
      // across), so the clip level alone decides growth.
      const double offset = wave_sum / envelope_sum;
      double response = 0.0;
      for (int tap = 0; tap < kKernelTaps; ++tap) {
        response += envelope[tap] * (wave[tap] - offset) * wave[tap];
      }
      int16_t* kernel = &bank[(static_cast<size_t>(d) * kPeriodBins + p) * kKernelTaps];
      for (int tap = 0; tap < kKernelTaps; ++tap) {
        kernel[tap] = static_cast<int16_t>(
            RoundToInt(envelope[tap] * (wave[tap] - offset) / response * (1 << kKernelShift)));
      }
    }
  }
  return bank;
}

std::vector<int16_t> GrowRidges(const GrowthField& field, int rounds, Rng& rng) {
  const int width = field.width;
  const int height = field.height;
  assert(rounds >= 1 && width > 0 && height > 0);
  assert(field.direction_bin.size() == static_cast<size_t>(width) * height);
  assert(field.period_bin.size() == field.direction_bin.size());

  // Both buffers carry a zero margin of kKernelRadius, so the filter loop needs no bounds checks
  // and the pattern fades to nothing past the canvas.
  const int stride = width + 2 * kKernelRadius;
  const size_t padded = static_cast<size_t>(stride) * (height + 2 * kKernelRadius);
  std::vector<int16_t> current(padded, 0);
  std::vector<int16_t> next(padded, 0);
  auto cell = [&](std::vector<int16_t>& buffer, int x, int y) -> int16_t& {
    return buffer[static_cast<size_t>(y + kKernelRadius) * stride + x + kKernelRadius];
  };

  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      cell(current, x, y) = static_cast<int16_t>(
          static_cast<int>(rng.Below(2 * kBackgroundNoise + 1)) - kBackgroundNoise);
    }
  }
  const int seeds = std::max(1, width * height / (kSeedSpacing * kSeedSpacing));
  for (int i = 0; i < seeds; ++i) {
    const int sx = static_cast<int>(rng.Below(static_cast<uint32_t>(width)));
    const int sy = static_cast<int>(rng.Below(static_cast<uint32_t>(height)));
    const int16_t value = (rng.Next() >> 63) != 0 ? kGrowthOne : -kGrowthOne;
    for (int y = std::max(0, sy - kSeedRadius); y <= std::min(height - 1, sy + kSeedRadius); ++y) {
      for (int x = std::max(0, sx - kSeedRadius); x <= std::min(width - 1, sx + kSeedRadius); ++x) {
        cell(current, x, y) = value;
      }
    }
  }

  const std::vector<int16_t> bank = BuildKernelBank();
  for (int round = 0; round < rounds; ++round) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const size_t at = static_cast<size_t>(y) * width + x;
        const int16_t* kernel = &bank[(static_cast<size_t>(field.direction_bin[at]) * kPeriodBins +
                                       field.period_bin[at]) *
                                      kKernelTaps];
        // Window top-left in the padded buffer is (x, y): the margin equals the radius.
        const int16_t* window = &current[static_cast<size_t>(y) * stride + x];
        int32_t sum = 0;
        for (int v = 0; v < kKernelSide; ++v) {
          const int16_t* row = window + static_cast<size_t>(v) * stride;
          const int16_t* weights = kernel + v * kKernelSide;
          for (int u = 0; u < kKernelSide; ++u) sum += int32_t{weights[u]} * row[u];
        }
        // Round to nearest (the shift floors, so add half first); |sum| <= kGrowthOne *
        // sum|weights| stays far below 2^31.
        const int32_t grown = ((sum + (1 << (kKernelShift - 1))) >> kKernelShift) * kGrowthGain;
        cell(next, x, y) = static_cast<int16_t>(std::clamp(grown, -kGrowthOne, kGrowthOne));
      }
    }
    current.swap(next);
  }

  std::vector<int16_t> ridges(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      ridges[static_cast<size_t>(y) * width + x] = cell(current, x, y);
  }
  return ridges;
}

}  // namespace ridgeline::synth
