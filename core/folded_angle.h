// Differences on a circle folded the smaller way round: degrees (a full turn of 360) and
// direction codes (a half turn of kDirectionSteps, since a ridge direction and its opposite are
// the same code).
#pragma once

#include "core/constants.h"

namespace ridgeline {

// |difference| folded onto 0..turn / 2 on a circle of `turn` units. A |difference| above `turn`
// is not reduced first and folds to a negative value, which callers keep as computed.
constexpr int FoldedDifference(int difference, int turn) {
  const int d = difference < 0 ? -difference : difference;
  return d > turn / 2 ? turn - d : d;
}

// An angle difference in degrees folded onto 0..180.
constexpr int FoldedAngle(int difference) { return FoldedDifference(difference, 360); }

// The distance of two direction codes (0..119), folded onto 0..60.
constexpr int CodeDistance(int u, int v) { return FoldedDifference(u - v, kDirectionSteps); }

}  // namespace ridgeline
