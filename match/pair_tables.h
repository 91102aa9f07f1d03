// The per-side tables of a comparison: minutia directions, the block map in degrees, distances,
// bearings and relative directions between minutiae, neighbour lists and the length-sorted list
// of minutia pairs.
#pragma once

#include "core/records.h"
#include "match/work_area.h"

namespace ridgeline {

enum class MatchSide { kA, kB };

// Fills the PairTables of one side of work from the first min(Count, 250) minutiae of set.
void BuildPairTables(MatchWork* work, MatchSide side, const FeatureSet& set);

}  // namespace ridgeline
