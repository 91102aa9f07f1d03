// The decision threshold of a comparison: the matcher's score (0..9999) must reach the value that
// the context's match level selects. Higher levels accept fewer impostors and fewer genuine
// captures alike.
#pragma once

#include <algorithm>
#include <cstdint>

namespace ridgeline {

constexpr int kMinMatchLevel = 1;
constexpr int kMaxMatchLevel = 7;

// Score needed at match levels 1..7.
constexpr int kMatchThresholds[kMaxMatchLevel] = {65, 115, 200, 325, 465, 630, 820};

// The threshold of a match level; levels below 1 count as 1 and above 7 as 7.
constexpr int MatchThreshold(uint8_t matchLevel) {
  const int level = std::clamp<int>(matchLevel, kMinMatchLevel, kMaxMatchLevel);
  return kMatchThresholds[level - kMinMatchLevel];
}

// A comparison matches when its score reaches the threshold.
constexpr bool ReachesThreshold(int score, int threshold) { return score >= threshold; }

}  // namespace ridgeline
