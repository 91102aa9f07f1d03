// Block agreement: weighs an alignment's score by how well the two block direction maps agree
// where they overlap under it, and by how large that overlap is.
#pragma once

#include "match/match_result.h"
#include "match/work_area.h"

namespace ridgeline {

// Returns score weighted by the agreement of a's and b's block maps under alignment's Rotation,
// TX and TY; 0 when no block of A lands on a block of B.
int BlockAgreement(const PairTables& a, const PairTables& b, const MatchResult& alignment,
                   int score);

}  // namespace ridgeline
