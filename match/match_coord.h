// The matcher's entry: compares a probe feature set (A) with a reference (B) and returns their
// similarity, 0..9999; and the 180-degree turn of a feature set for the rotated retry.
#pragma once

#include "core/records.h"
#include "match/match_result.h"
#include "match/match_work.h"

namespace ridgeline {

// Scores probe (A) against reference (B) with the tables of work (built by BuildMatchWork, whose
// MatchParams it uses) and returns 0..9999. Only the first 250 minutiae of each side take part.
// A side with 3 minutiae or fewer scores 0 and leaves result untouched; otherwise result holds the
// first alignment, its Score weighted by block agreement (the returned score may differ: a
// Score of 1..999 is averaged with the refined one, and the return value is capped at 9999).
// rebuildA false reuses the A tables of the previous call on work (the probe must be the same).
// REQUIRES: both sets' minutia arrays hold Count entries; grids of at most 64 x 64 blocks and
// coordinates within 0..1023 (what extraction and stored templates give).
int MatchCoord(const FeatureSet& probe, const FeatureSet& reference, MatchWork* work,
               MatchResult* result, bool rebuildA = true);

// The refinement's result of the last MatchCoord on work, or null when that call did not refine.
const MatchResult* RefinedResult(const MatchWork* work);

// Writes into destination the feature set turned by 180 degrees within its block grid: minutia
// order reversed, X = 16 W - X, Y = 16 H - Y, Angle + 180 up to 180 (so 180 becomes 360) and
// Angle - 180 above, the W x H map cells point-mirrored; cells outside the grid are not written.
// destination may be source. REQUIRES: destination holds at least source.Count minutiae.
void RotateFeatureSet180(FeatureSet* destination, const FeatureSet& source);

}  // namespace ridgeline
