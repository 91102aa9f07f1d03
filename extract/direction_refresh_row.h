// The last step of the direction refresh for one row (binary_resmoothing.cc): the new codes into
// the DirectionImage and the smoothing level of each pixel into the level map, written for the
// vectoriser. Included by the portable build and by the Highway build, which compiles it once
// per instruction set.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "core/constants.h"

namespace ridgeline::refresh_row {

constexpr int kMaxLevel = 7;          // levels share a byte with the clarity map: bits 0-2
constexpr uint8_t kLevelBits = 0x07;  // the level's bits of a level map byte
constexpr int32_t kTopAnisotropy = 255;

// The smoothing level as a function of the anisotropy, clamped to 0 .. 255 first (the level
// rule reads the anisotropy only through its clamp to a band within 0 .. 255, so the clamp
// changes no level). Where the level never falls as the anisotropy rises, it is also floor plus
// the number of thresholds at[j] (with weight 1) the clamped anisotropy reaches: byte compares,
// which the vectoriser takes 16 to 64 at a time, instead of a table lookup.
struct LevelSteps {
  // level_of(a) for a in 0 .. 255, each within 0 .. kMaxLevel.
  template <typename LevelOf>
  explicit LevelSteps(LevelOf&& level_of) {
    for (int a = 0; a <= kTopAnisotropy; ++a) {
      table[static_cast<size_t>(a)] = static_cast<uint8_t>(level_of(a));
    }
    floor = table[0];
    size_t used = 0;
    for (int a = 1; a <= kTopAnisotropy; ++a) {
      const int before = table[static_cast<size_t>(a - 1)];
      const int now = table[static_cast<size_t>(a)];
      if (now < before) monotone = false;
      // Levels lie within 0 .. kMaxLevel, so there are at most kMaxLevel rises in all.
      for (int step = before; step < now && used < at.size(); ++step) {
        at[used] = static_cast<uint8_t>(a);
        weight[used++] = 1;
      }
    }
  }

  std::array<uint8_t, kTopAnisotropy + 1> table{};
  uint8_t floor = 0;
  std::array<uint8_t, kMaxLevel> at{};      // thresholds 1 .. 255
  std::array<uint8_t, kMaxLevel> weight{};  // 1 for a threshold in use, else 0
  bool monotone = true;
};

// For x < width: direction[x] keeps its background bit and takes codes[x]; the level bits of
// level[x] become the level of anisotropies[x], or 0 on the background and where spared[x] is
// set; the upper bits of level[x] are kept. REQUIRES: steps.monotone.
[[gnu::always_inline]] inline void RefreshRow(const LevelSteps& steps,
                                              const uint8_t* __restrict codes,
                                              const int32_t* __restrict anisotropies,
                                              const uint8_t* __restrict spared, int width,
                                              uint8_t* __restrict direction,
                                              uint8_t* __restrict level) {
  const std::array<uint8_t, kMaxLevel> at = steps.at;
  const std::array<uint8_t, kMaxLevel> weight = steps.weight;
  for (int x = 0; x < width; ++x) {
    const auto background = static_cast<uint8_t>(direction[x] & kBackgroundBit);
    direction[x] = static_cast<uint8_t>(codes[x] | background);
    const auto a = static_cast<uint8_t>(std::clamp(anisotropies[x], int32_t{0}, kTopAnisotropy));
    uint8_t due = steps.floor;
    for (int j = 0; j < kMaxLevel; ++j) {
      due = static_cast<uint8_t>(
          due + ((a >= at[static_cast<size_t>(j)] ? 1 : 0) & weight[static_cast<size_t>(j)]));
    }
    // Background pixels and those near a singular point get no rounds.
    const auto keep = static_cast<uint8_t>(((background | spared[x]) != 0 ? 0 : 0xFF));
    level[x] = static_cast<uint8_t>((level[x] & ~kLevelBits) | (due & keep));
  }
}

}  // namespace ridgeline::refresh_row
