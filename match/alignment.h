// The alignment search: two ranked correspondences serve as anchors, give a rotation and a
// translation, the remaining minutiae are paired greedily under it, and the best-scoring
// alignment is rescored with its neighbourhoods.
#pragma once

#include "match/match_result.h"
#include "match/work_area.h"

namespace ridgeline {

// Writes the best alignment found from work's anchor list into result: Score (raw score / norm /
// 100, 0 without any alignment), Rotation, TX, TY, Anchor1, Anchor2 (-1 without any), Overlap,
// Matched and the correspondence. REQUIRES: PairVote has run on work.
void AlignmentSearch(MatchWork* work, MatchResult* result);

}  // namespace ridgeline
