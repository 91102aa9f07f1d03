// The matcher's inner loops over whole rows and windows: written as plain loops for the compiler's
// vectoriser and, with Highway, compiled once per instruction set and picked at run time (the
// same source, so every form computes the same values; the tests run each one).
#pragma once

#include "match/work_area.h"

namespace ridgeline {

// Distance, bearing and relative direction of every ordered pair of t's minutiae, row by row.
// REQUIRES: every coordinate of t within 0..1023.
void FillPairRows(PairTables* t);

// The votes of the A pairs 0..last_a against their B windows, added to work->votes.
// REQUIRES: the pair lists and cross tables of work built, last_a / last_b as TrimPairLists
// leaves them.
void CountPairVotes(MatchWork* work, int last_a, int last_b);

// Zeros votes[i][k] for every i below A's count and k below B's, and nothing else.
void ClearVotes(MatchWork* work);

// What BlockAgreement counts: A's ridge blocks in its grid, those whose centre lands on a ridge
// block of B (B's first row and column excluded), and those whose directions agree.
struct BlockCounts {
  int valid_a;
  int overlap;
  int agree;
};
void CountBlockAgreement(const PairTables& a, const PairTables& b, const MatchResult& alignment,
                         BlockCounts* counts);

// degrees[r][c]: the map code codes[r][c] in whole degrees, kEmptyBlock for a block without ridges,
// for the rows r < rows. REQUIRES: 0 <= rows <= kMapSize.
void FillBlockDegrees(const uint8_t (*codes)[kMapSize], uint8_t (*degrees)[kMapSize], int rows);

// For the primary anchor (a1, b1): compatible[i][k] and the ascending compatible_list[i] of
// every (i, k) whose pair with the anchor agrees in length, relative direction and rotation (the
// alignment search's tests), compatible_count[i] their number. REQUIRES: the cross tables built,
// rows a1 of A and b1 of B complete (CompletePairRow).
void MarkCompatibleRows(MatchWork* work, int a1, int b1);

// For d = first..last: starts[d] the sum of counts[first..d-1], ends[d] that of counts[first..d];
// returns the sum of all (0 when first > last). The three arrays must not overlap.
int32_t RunningLengthSums(const int32_t* counts, int first, int last, int32_t* starts,
                          int32_t* ends);

// Rotations, weights and vote rotations of every (A, B) minutia pair.
void FillCrossTables(MatchWork* work);

}  // namespace ridgeline
