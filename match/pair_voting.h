// Pair voting: every A minutia pair that matches a B minutia pair in length, relative direction
// and rotation votes for the two minutia correspondences it implies; the anchor list ranks each
// A minutia's best-voted B partner.
#pragma once

#include "match/work_area.h"

namespace ridgeline {

constexpr int kMaxPairProducts = 250000;  // bound on (last A index) x (last B index) voted
constexpr int kTrimFloor = 100;           // pixels; pairs no longer than this are never trimmed

// Bounds the voting work: while last_a x last_b (the indices of the last pairs taken from each
// list) exceeds kMaxPairProducts, drops from the end of both lists every pair at least as long as
// the longer of the two last pairs, unless that is at most kTrimFloor. A list may end up empty
// (index -1), never shorter. REQUIRES: both lists sorted by length with their length_end filled,
// as BuildPairTables leaves them.
void TrimPairLists(const PairTables& a, const PairTables& b, int* last_a, int* last_b);

// Fills work->votes and the anchor list work->anchors (one entry per A minutia) from the
// PairTables and CrossTables in work.
void PairVote(MatchWork* work);

}  // namespace ridgeline
