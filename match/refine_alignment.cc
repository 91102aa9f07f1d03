// Refinement. For anchors (j, k) with partners (kj, kk) in the first result, the rotation and
// translation come from the two pairs; another matched minutia l with partner F supports them
// when l maps within the pairing radius of F and both its rotation and its direction relative
// to j agree within the angle tolerance.
#include "match/refine_alignment.h"

#include <algorithm>
#include <cassert>

#include "core/folded_angle.h"
#include "match/int_trig.h"
#include "match/pair_tables.h"
#include "match/score.h"

namespace ridgeline {

void RefineAlignment(MatchWork* work, const MatchResult& first, MatchResult* second) {
  assert(second != &first);
  const MatchParams& p = work->params;
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const CrossTables& x = work->cross;
  const int na = a.count;
  const int radius2 = (p.DistanceTolerance + 1) * (p.DistanceTolerance + 1);
  const int tolerance = p.AngleTolerance;
  const int32_t* partner = first.Correspondence;
  int16_t* assigned = work->assignment;

  second->Score = 0;
  second->Rotation = 0;
  second->TX = 0;
  second->TY = 0;
  second->Anchor1 = -1;
  second->Anchor2 = -1;
  second->Overlap = first.Overlap;
  second->Matched = 0;
  std::fill(second->Correspondence, second->Correspondence + na, -1);
  second->CorrespondenceCount = 0;

  // Ordered pairs, j outer and k inner, both ascending; on equal scores the first pair stays.
  for (int j = 0; j < na; ++j) {
    const int kj = partner[j];
    if (kj < 0) continue;
    CompletePairRow(&work->a, j);
    CompletePairRow(&work->b, kj);
    for (int k = 0; k < na; ++k) {
      const int kk = partner[k];
      if (k == j || kk < 0) continue;
      int rotation = b.bearing[kj][kk] - a.bearing[j][k];
      if (rotation < 0) rotation += kDegreesPerTurn;
      const Rotation trig = RotationOf(rotation);
      const int tx = b.x[kj] - trig.X(a.x[j], a.y[j]);
      const int ty = b.y[kj] - trig.Y(a.x[j], a.y[j]);

      std::fill(assigned, assigned + b.count, int16_t{-1});
      assigned[kj] = static_cast<int16_t>(j);
      assigned[kk] = static_cast<int16_t>(k);
      int supporters = 0;
      int sum = 0;
      for (int l = 0; l < na; ++l) {
        const int f = partner[l];
        if (l == j || l == k || f < 0) continue;
        const int dx = trig.X(a.x[l], a.y[l]) + tx - b.x[f];
        const int dy = trig.Y(a.x[l], a.y[l]) + ty - b.y[f];
        if (dx * dx + dy * dy > radius2) continue;
        if (FoldedAngle(x.rotation[l][f] - rotation) > tolerance) continue;
        if (FoldedAngle(a.relative[j][l] - b.relative[kj][f]) > tolerance) continue;
        assigned[f] = static_cast<int16_t>(l);
        ++supporters;
        sum += x.weight[l][f];
      }
      if (supporters == 0) continue;
      const int s = AnchorScaledSum(*work, sum, j, kj, k, kk);
      const int score = SquaredOverOverlap(s, first.Overlap);
      if (score <= second->Score) continue;
      second->Score = score;
      second->Rotation = rotation;
      second->TX = tx;
      second->TY = ty;
      second->Anchor1 = j;
      second->Anchor2 = k;
      second->Matched = supporters;
      CorrespondenceFromAssignment(*work, second);
    }
  }

  if (second->Anchor1 < 0) return;
  const int raw = RescoreCorrespondence(work, *second, NeighbourRule::kSmallerSide);
  second->Score = raw / ScoreNormaliser(na, b.count) / 100;
}

}  // namespace ridgeline
