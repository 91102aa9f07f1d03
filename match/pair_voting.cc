// Pair voting over the two length-sorted pair lists. The B window for an A pair holds the B pairs
// whose length is within the distance tolerance; as A lengths only grow, its start never moves
// back, and the sentinel after the last B pair ends it.
#include "match/pair_voting.h"

#include <algorithm>
#include <cstring>

#include "match/int_trig.h"
#include "match/score.h"

namespace ridgeline {

namespace {

void CountVotes(MatchWork* work) {
  const MatchParams& p = work->params;
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const CrossTables& x = work->cross;
  const int tolerance = p.DistanceTolerance;
  const int angle_tolerance = p.AngleTolerance;
  const int max_rotation = p.MaxRotation;

  int last_a = a.pair_count - 1;
  int last_b = b.pair_count - 1;
  TrimPairLists(a, b, &last_a, &last_b);

  int start = 0;
  for (int pa = 0; pa <= last_a; ++pa) {
    const int length = a.pairs[pa].distance;
    while (b.pairs[start].distance < length - tolerance) ++start;
    if (start > last_b) break;
    const int j1 = a.pairs[pa].Low();
    const int j2 = a.pairs[pa].High();
    const int relative_a = a.pair_relative[pa];
    const int bearing_a = a.pair_bearing[pa];
    // The window may run past last_b into trimmed pairs; only the sentinel or length ends it.
    // The tests are independent, so the ones on the pairs' own values, read in list order,
    // come first.
    for (int pb = start; b.pairs[pb].distance <= length + tolerance; ++pb) {
      if (!WithinAngle(b.pair_relative[pb] - relative_a, angle_tolerance)) continue;
      int theta = b.pair_bearing[pb] - bearing_a;
      if (theta < 0) theta += kDegreesPerTurn;
      if (theta > max_rotation && theta < kDegreesPerTurn - max_rotation) continue;
      const int k1 = b.pairs[pb].Low();
      const int k2 = b.pairs[pb].High();
      if (x.weight[j1][k1] == 0 || x.weight[j2][k2] == 0) continue;
      if (!WithinAngle(x.rotation[j1][k1] - theta, angle_tolerance) ||
          !WithinAngle(x.rotation[j2][k2] - theta, angle_tolerance)) {
        continue;
      }
      ++work->votes[j1][k1];
      ++work->votes[j2][k2];
    }
  }
}

// Each A minutia's best B partner (the first of the row's largest votes, so B index 0 for a row
// of zeros), then the anchor list in rank order: more votes first, equal votes by A index.
void RankAnchors(MatchWork* work) {
  const int na = work->a.count;
  const int nb = work->b.count;
  for (int i = 0; i < na; ++i) {
    int best = 0;
    for (int k = 1; k < nb; ++k) {
      if (work->votes[i][k] > work->votes[i][best]) best = k;
    }
    work->best_b[i] = static_cast<int16_t>(best);
    work->best_votes[i] = static_cast<int16_t>(work->votes[i][best]);
  }
  for (int i = 0; i < na; ++i) {
    const int votes = work->best_votes[i];
    int rank = 0;
    for (int j = 0; j < na; ++j) {
      rank += work->best_votes[j] > votes || (work->best_votes[j] == votes && j < i);
    }
    work->rank[i] = static_cast<int16_t>(rank);
    work->anchors[rank] = {static_cast<uint8_t>(i), static_cast<uint8_t>(work->best_b[i]), votes};
  }
}

}  // namespace

void TrimPairLists(const PairTables& a, const PairTables& b, int* last_a, int* last_b) {
  while (*last_a * *last_b > kMaxPairProducts) {
    const int longest = std::max(a.pairs[*last_a].distance, b.pairs[*last_b].distance);
    if (longest <= kTrimFloor) break;
    while (*last_a >= 0 && a.pairs[*last_a].distance >= longest) --*last_a;
    while (*last_b >= 0 && b.pairs[*last_b].distance >= longest) --*last_b;
  }
}

void PairVote(MatchWork* work) {
  for (int i = 0; i < work->a.count; ++i) {
    std::memset(work->votes[i], 0, sizeof(int32_t) * static_cast<size_t>(work->b.count));
  }
  CountVotes(work);
  RankAnchors(work);
}

}  // namespace ridgeline
