// Refinement of a weak alignment: every ordered pair of its matched minutiae is tried as the
// anchor pair, and the correspondences that still agree under it are rescored.
#pragma once

#include "match/match_result.h"
#include "match/work_area.h"

namespace ridgeline {

// Writes into second the best re-anchored alignment of first's correspondences, rescored with
// the one-sided neighbour factor; its Score is 0 when no pair of anchors gains a supporter.
// REQUIRES: first came from AlignmentSearch on the same work; second is not first.
void RefineAlignment(MatchWork* work, const MatchResult& first, MatchResult* second);

}  // namespace ridgeline
