// The tables between the two sides of a comparison: the rotation that carries each A minutia onto
// each B minutia, their compatibility weight, and per A minutia the B candidates worth trying.
#pragma once

#include "match/work_area.h"

namespace ridgeline {

// Fills work->cross from the A and B PairTables already built in work.
void BuildCrossTables(MatchWork* work);

}  // namespace ridgeline
