// Scoring shared by the alignment search and its refinement: angle tolerance tests, the anchor
// type factors, the squared score over the overlap kept within 32 bits, and the rescoring of a
// correspondence weighted by how many neighbours are matched too.
#pragma once

#include "match/match_result.h"
#include "match/work_area.h"

namespace ridgeline {

// A difference of two angles (not reduced) is within tolerance when it is at most tolerance
// from 0 or from +/-360.
inline bool WithinAngle(int difference, int tolerance) {
  const int d = difference < 0 ? -difference : difference;
  return d <= tolerance || d >= 360 - tolerance;
}

// |difference| folded onto 0..180.
inline int FoldedAngle(int difference) {
  const int d = difference < 0 ? -difference : difference;
  return d > 180 ? 360 - d : d;
}

// S: the weight sum scaled by the type factors of two anchor pairs, (f1 x sum x f2) / 100, where
// a pair of equal Type has factor 10 and a mixed pair the anchor type factor.
int AnchorScaledSum(const MatchWork& work, int sum, int a1, int b1, int a2, int b2);

// S^2 / overlap, computed as S x (S / overlap) above 32767 so it stays within 32 bits; S^2 when
// the overlap is below 1.
int SquaredOverOverlap(int s, int overlap);

// How the neighbour factor of a rescoring combines the two sides.
enum class NeighbourRule {
  kBothSides,    // ((fA + fB) x 2048) / (ZA + ZB), limited to 800..1200
  kSmallerSide,  // the side with fewer neighbours alone, x 2048 / Z, limited to 800..1024
};

// The raw score of result's correspondence: the weights of its partnered A minutiae other than
// the two anchors, each scaled by its neighbour factor (1024 = 1), S from the anchors' type
// factors, squared over result.Overlap. Uses work->assignment as scratch.
int RescoreCorrespondence(MatchWork* work, const MatchResult& result, NeighbourRule rule);

// Writes result's Correspondence and CorrespondenceCount from the B-to-A assignment.
void CorrespondenceFromAssignment(const MatchWork& work, MatchResult* result);

}  // namespace ridgeline
