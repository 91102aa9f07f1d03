// CrossTables: R[i][k] is the rotation 0..359 from A minutia i to B minutia k; W[i][k] weighs how
// alike the two are (Variation and Type), and is 0 when that rotation is beyond the largest one
// considered, widened by the angle tolerance. The row loops are in match_kernels.cc.
#include "match/cross_tables.h"

#include "match/match_kernels.h"

namespace ridgeline {

void BuildCrossTables(MatchWork* work) { FillCrossTables(work); }

}  // namespace ridgeline
