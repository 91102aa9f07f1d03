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

// Makes row r of t's distance, bearing and relative direction matrices whole: its entries below
// the diagonal are derived from the column above it (distance alike, the bearing +/- 180 in
// 0..359, the relative direction 360 - relative and 0 for 0). Does nothing for a row already
// whole. REQUIRES: 0 <= r < t->count.
void CompletePairRow(PairTables* t, int r);

}  // namespace ridgeline
