// Pair voting: every A minutia pair that matches a B minutia pair in length, relative direction
// and rotation votes for the two minutia correspondences it implies; the anchor list ranks each
// A minutia's best-voted B partner.
#pragma once

#include "match/work_area.h"

namespace ridgeline {

// Fills work->votes and the anchor list work->anchors (one entry per A minutia) from the
// PairTables and CrossTables in work.
void PairVote(MatchWork* work);

}  // namespace ridgeline
