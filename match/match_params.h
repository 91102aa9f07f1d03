// The matcher's parameter block: 18 signed 32-bit values, set once when an engine context is
// attached and never changed afterwards. Several slots are kept for layout but not read.
#pragma once

#include <cstdint>

namespace ridgeline {

struct MatchParams {
  int32_t Reserved1;            // 100, not read
  int32_t MaxRotation;          // degrees between A and B still considered
  int32_t DistanceTolerance;    // pixels; (tolerance + 1)^2 is the squared pairing radius
  int32_t AngleTolerance;       // degrees, for every angular comparison
  int32_t MinPairDistance;      // pixels; shorter minutia pairs are not used
  int32_t MinAnchorSeparation;  // pixels between the two anchor minutiae
  int32_t SupportPercentage;    // percent of minutiae that must lie in the common area
  int32_t Reserved8;            // 0, not read
  int32_t TypeMismatchWeight;   // weight factor for candidates of different Type (10 if equal)
  int32_t AnchorTypeFactor;     // score factor for an anchor pair of different Type
  int32_t Reserved11;           // 1, not read
  int32_t Reserved12;           // 30, not read
  int32_t VariationSpan;        // Variation differences from this value on weigh 0
  int32_t Reserved14;           // 0, not read
  int32_t Reserved15;           // 0, not read
  int32_t Reserved16;           // 0, not read
  int32_t NeighbourRadius;      // pixels; minutiae this close are neighbours
  int32_t Reserved18;           // 1, not read
};
static_assert(sizeof(MatchParams) == 18 * 4);

// Writes the 18 defaults: 100, 90, 7, 20, 10, 20, 5, 0, 8, 8, 1, 30, 30, 0, 0, 0, 50, 1.
inline void InitMatchParams(MatchParams* p) {
  *p = MatchParams{100, 90, 7, 20, 10, 20, 5, 0, 8, 8, 1, 30, 30, 0, 0, 0, 50, 1};
}

}  // namespace ridgeline
