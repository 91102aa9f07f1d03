// CrossTables: R[i][k] is the rotation 0..359 from A minutia i to B minutia k; W[i][k] weighs how
// alike the two are (Variation and Type), and is 0 when that rotation is beyond the largest one
// considered, widened by the angle tolerance.
#include "match/cross_tables.h"

#include <algorithm>
#include <cstdint>

#include "match/int_trig.h"

namespace ridgeline {

void BuildCrossTables(MatchWork* work) {
  const MatchParams& p = work->params;
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  CrossTables& x = work->cross;
  const int nb = b.count;
  const int limit = p.MaxRotation + p.AngleTolerance;
  const int16_t* __restrict directions_b = b.direction;
  const uint8_t* __restrict variations_b = b.variation;
  const uint8_t* __restrict types_b = b.type;
  const uint8_t* __restrict variation_weight = work->variation_weight;
  for (int i = 0; i < a.count; ++i) {
    const int32_t direction_a = a.direction[i];
    const int32_t variation_a = a.variation[i];
    const int32_t type_a = a.type[i];
    const auto mismatch = static_cast<uint16_t>(p.TypeMismatchWeight);
    int16_t* __restrict rotations = x.rotation[i];
    int16_t* __restrict weights = x.weight[i];
    uint8_t difference[kMatchCapacity];
    uint8_t alike[kMatchCapacity];
    // Rotations and Variation differences of the whole row on vector lanes; the weight table
    // lookup is a gather, left to a scalar loop; then the weights, again on lanes.
    for (int k = 0; k < nb; ++k) {
      int32_t rotation = directions_b[k] - direction_a;
      rotation += rotation < 0 ? kDegreesPerTurn : 0;
      rotations[k] = static_cast<int16_t>(rotation);
      const int32_t d = variation_a - variations_b[k];
      difference[k] = static_cast<uint8_t>(d < 0 ? -d : d);
    }
    for (int k = 0; k < nb; ++k) alike[k] = variation_weight[difference[k]];
    // On 16-bit lanes: the weight is stored in 16 bits, and the low 16 bits of a product depend
    // only on the low 16 bits of its factors. Rotations are 0..359, so the clamped band decides
    // every one as the band does.
    const auto band = static_cast<int16_t>(std::clamp(limit, -1, kDegreesPerTurn));
    const auto far_band = static_cast<int16_t>(kDegreesPerTurn - band);
    for (int k = 0; k < nb; ++k) {
      const int16_t rotation = rotations[k];
      const bool in_band = (rotation <= band) | (rotation >= far_band);
      const uint16_t factor = type_a == types_b[k] ? 10 : mismatch;
      const auto weight = static_cast<uint16_t>(static_cast<uint32_t>(alike[k]) * factor);
      weights[k] = static_cast<int16_t>(in_band ? weight : 0);
    }
    // Every k is written to the next slot; the count only moves past it for a nonzero weight.
    int candidates = 0;
    for (int k = 0; k < nb; ++k) {
      x.candidates[i][candidates] = static_cast<uint8_t>(k);
      candidates += weights[k] != 0;
    }
    x.candidate_count[i] = static_cast<uint8_t>(candidates);
  }
}

}  // namespace ridgeline
