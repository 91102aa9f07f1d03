// The per-side tables of a comparison: minutia directions, the block map in degrees, distances,
// bearings and relative directions between minutiae, neighbour lists and the length-sorted list
// of minutia pairs.
#pragma once

#include "core/records.h"
#include "match/work_area.h"

namespace ridgeline {

enum class MatchSide { kA, kB };

// kWhole lists every pair. kByNeed counts the lengths (pair_count and length_end are final) but
// places no pair yet: a side built for one comparison only has the pairs its votes can reach
// placed by PlacePairList (after trimming, some hundreds of the shortest); a probe whose tables
// serve several comparisons needs the whole list.
enum class PairPlacement { kWhole, kByNeed };

// Fills the PairTables of one side of work from the first min(Count, 250) minutiae of set.
void BuildPairTables(MatchWork* work, MatchSide side, const FeatureSet& set,
                     PairPlacement placement = PairPlacement::kWhole);

// Places the listed pairs no longer than limit (all of them from 1023 up) in t's list, as the
// whole list holds them, and the sentinel at pair_count; the slots of longer pairs keep what
// they held. Does nothing more for lengths already placed. REQUIRES: t built by BuildPairTables.
void PlacePairList(PairTables* t, int limit);

// Makes row r of t's distance, bearing and relative direction matrices whole: its entries below
// the diagonal are derived from the column above it (distance alike, the bearing +/- 180 in
// 0..359, the relative direction 360 - relative and 0 for 0). Does nothing for a row already
// whole. REQUIRES: 0 <= r < t->count.
void CompletePairRow(PairTables* t, int r);

}  // namespace ridgeline
