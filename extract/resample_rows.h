// The horizontal pass of the resampling in chunks of 16 samples, vectorised with Highway where
// the build has it. Shared by extract/resample_image.cc and its tests.
#pragma once

#include <cstdint>

namespace ridgeline {

constexpr int kResampleChunk = 16;

// floor((w x (a - b) + 512) / 1024) for a, b in 0..255 and a weight w in 1..1024, with 16-bit
// lanes only: with d = a - b (|d| <= 255, so d x 128 fits) and s = 16 w (at most 16384), the
// high half of the 16 x 16-bit product (d x 128) x s is floor(d w / 32) (|.| <= 8160), and
// floor((floor(d w / 32) + 16) / 32) = floor((d w + 512) / 1024).
inline int16_t ScaledBlendStep(int a, int b, int16_t scaledWeight) {
  const auto d = static_cast<int16_t>((a - b) * 128);
  const auto high = static_cast<int16_t>((static_cast<int32_t>(d) * scaledWeight) >> 16);
  return static_cast<int16_t>((high + 16) >> 5);
}

// The weight as ScaledBlendStep takes it.
inline int16_t ScaledWeight(int weight) { return static_cast<int16_t>(weight * 16); }

// Samples 16 c .. 16 c + 15 of a row for every chunk c < chunks: sample x is
// b + ScaledBlendStep(a, b, scaledWeight[x]) with a = row[base[c] + offset[x]] and
// b = row[base[c] + offset[x] + 1]. REQUIRES: offset[x] <= 14 and base[c] + 16 <= the row's
// length for every chunk.
// Returns the count of samples written: 16 x chunks, or 0 where the build has no vector form
// (the caller then computes them all itself).
int ResampleChunks(const uint8_t* row, int chunks, const int32_t* base, const uint8_t* offset,
                   const int16_t* scaledWeight, uint8_t* out);

}  // namespace ridgeline
