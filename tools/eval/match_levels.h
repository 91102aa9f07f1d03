// The score thresholds of the seven match levels (a comparison matches when its score reaches
// the threshold of the configured level; level 4 is the default).
#pragma once

#include <array>

namespace ridgeline::eval {

constexpr int kMatchLevels = 7;
constexpr int kDefaultMatchLevel = 4;
constexpr std::array<int, kMatchLevels> kMatchLevelThresholds = {65, 115, 200, 325, 465, 630, 820};

// REQUIRES: 1 <= level <= 7.
constexpr int MatchLevelThreshold(int level) { return kMatchLevelThresholds[level - 1]; }

}  // namespace ridgeline::eval
