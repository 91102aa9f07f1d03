// The tables between the two sides of a comparison: the rotation that carries each A minutia onto
// each B minutia, their compatibility weight (0 for a pair no stage tries), and that rotation
// again where the weight is not 0 for pair voting.
#pragma once

#include "match/work_area.h"

namespace ridgeline {

// Fills work->cross from the A and B PairTables already built in work.
void BuildCrossTables(MatchWork* work);

}  // namespace ridgeline
