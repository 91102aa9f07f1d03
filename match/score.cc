// Scoring helpers shared by the alignment search and the refinement.
#include "match/score.h"

#include <algorithm>
#include <cassert>
#include <cstdint>

namespace ridgeline {

namespace {

constexpr int kNeighbourUnit = 2048;  // 2 x 1024: the factor of a fully matched neighbourhood
constexpr int kFactorFloor = 800;
constexpr int kBothSidesCeiling = 1200;
constexpr int kOneSideCeiling = 1024;
constexpr int kFactorRound = 512;
constexpr int kFactorShift = 10;

int TypeFactor(const MatchWork& work, int a, int b) {
  return work.a.type[a] == work.b.type[b] ? 10 : work.params.AnchorTypeFactor;
}

}  // namespace

int AnchorScaledSum(const MatchWork& work, int sum, int a1, int b1, int a2, int b2) {
  return TypeFactor(work, a1, b1) * sum * TypeFactor(work, a2, b2) / 100;
}

int SquaredOverOverlap(int s, int overlap) {
  // Only reachable with an overlap below 1, which no alignment produces; wraps as 32 bits would.
  if (overlap < 1) return static_cast<int32_t>(static_cast<int64_t>(s) * s);
  if (s <= 32767) return s * s / overlap;
  return s * (s / overlap);
}

int RescoreCorrespondence(MatchWork* work, const MatchResult& result, NeighbourRule rule) {
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const int32_t* partner = result.Correspondence;
  int16_t* assigned = work->assignment;
  std::fill(assigned, assigned + b.count, int16_t{-1});
  for (int i = 0; i < a.count; ++i) {
    if (partner[i] >= 0) assigned[partner[i]] = static_cast<int16_t>(i);
  }
  int sum = 0;
  for (int i = 0; i < a.count; ++i) {
    const int k = partner[i];
    if (k < 0 || i == result.Anchor1 || i == result.Anchor2) continue;
    int fa = 1;
    for (int n = 0; n < a.neighbour_count[i]; ++n) fa += partner[a.neighbours[i][n]] >= 0;
    const int za = 1 + a.neighbour_count[i];
    int fb = 1;
    for (int n = 0; n < b.neighbour_count[k]; ++n) fb += assigned[b.neighbours[k][n]] >= 0;
    const int zb = 1 + b.neighbour_count[k];
    int factor;
    if (rule == NeighbourRule::kBothSides) {
      factor =
          std::clamp(((fa + fb) * kNeighbourUnit) / (za + zb), kFactorFloor, kBothSidesCeiling);
    } else {
      factor = zb < za ? fa * kNeighbourUnit / za : fb * kNeighbourUnit / zb;
      factor = std::clamp(factor, kFactorFloor, kOneSideCeiling);
    }
    sum += (work->cross.weight[i][k] * factor + kFactorRound) >> kFactorShift;
  }
  const int a1 = result.Anchor1;
  const int a2 = result.Anchor2;
  assert(a1 >= 0 && a2 >= 0 && partner[a1] >= 0 && partner[a2] >= 0);
  const int s = AnchorScaledSum(*work, sum, a1, partner[a1], a2, partner[a2]);
  return SquaredOverOverlap(s, result.Overlap);
}

void CorrespondenceFromAssignment(const MatchWork& work, MatchResult* result) {
  std::fill(result->Correspondence, result->Correspondence + work.a.count, -1);
  int count = 0;
  for (int k = 0; k < work.b.count; ++k) {
    const int i = work.assignment[k];
    if (i >= 0) {
      result->Correspondence[i] = k;
      ++count;
    }
  }
  result->CorrespondenceCount = count;
}

}  // namespace ridgeline
