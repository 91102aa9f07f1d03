// CrossTables: R[i][k] is the rotation 0..359 from A minutia i to B minutia k; W[i][k] weighs how
// alike the two are (Variation and Type), and is 0 when that rotation is beyond the largest one
// considered, widened by the angle tolerance.
#include "match/cross_tables.h"

#include <cstdlib>

#include "match/int_trig.h"

namespace ridgeline {

void BuildCrossTables(MatchWork* work) {
  const MatchParams& p = work->params;
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  CrossTables& x = work->cross;
  const int limit = p.MaxRotation + p.AngleTolerance;
  for (int i = 0; i < a.count; ++i) {
    int candidates = 0;
    for (int k = 0; k < b.count; ++k) {
      int rotation = b.direction[k] - a.direction[i];
      if (rotation < 0) rotation += kDegreesPerTurn;
      x.rotation[i][k] = static_cast<int16_t>(rotation);
      // Every k is written to the next slot; the count only moves past it for a nonzero weight.
      const bool in_band = rotation <= limit || rotation >= kDegreesPerTurn - limit;
      const int factor = a.type[i] == b.type[k] ? 10 : p.TypeMismatchWeight;
      const int weight =
          in_band ? work->variation_weight[std::abs(a.variation[i] - b.variation[k])] * factor : 0;
      const auto stored = static_cast<int16_t>(weight);
      x.weight[i][k] = stored;
      x.candidates[i][candidates] = static_cast<uint8_t>(k);
      candidates += stored != 0;
    }
    x.candidate_count[i] = static_cast<uint8_t>(candidates);
  }
}

}  // namespace ridgeline
