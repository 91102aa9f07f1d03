// Pair voting over the two length-sorted pair lists. The B window for an A pair holds the B pairs
// whose length is within the distance tolerance; as A lengths only grow, its start never moves
// back, and the sentinel after the last B pair ends it.
#include "match/pair_voting.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "match/int_trig.h"
#include "match/score.h"

namespace ridgeline {

namespace {

// Marks, for each B pair of a window, whether its relative direction and its bearing agree
// with the A pair's: |relative B - relative A| within the angle tolerance (mod 360) and the
// bearing difference, taken into 0..360, within the largest rotation either way. Relative
// directions are 0..359 and bearings 0..360, so every difference fits 16 bits; the limits are
// clamped to a range that decides every such difference as the unclamped ones do, so the loop
// runs on 16-bit lanes.
// The window is marked in whole blocks of kMarkBlock pairs, so the loop has no scalar tail; the
// marks past n are overwritten by the caller.
void MarkAngularAgreement(const int16_t* __restrict relative, const int16_t* __restrict bearing,
                          int n, int relative_a, int bearing_a, int angle_tolerance,
                          int max_rotation, uint8_t* __restrict keep) {
  const int whole = (n + kMarkBlock - 1) / kMarkBlock * kMarkBlock;
  const auto tolerance = static_cast<int16_t>(std::clamp(angle_tolerance, -1, kDegreesPerTurn));
  const auto rotation = static_cast<int16_t>(std::clamp(max_rotation, -1, kDegreesPerTurn + 1));
  const auto far_tolerance = static_cast<int16_t>(kDegreesPerTurn - tolerance);
  const auto far_rotation = static_cast<int16_t>(kDegreesPerTurn - rotation);
  const auto rel_a = static_cast<int16_t>(relative_a);
  const auto bear_a = static_cast<int16_t>(bearing_a);
  for (int q = 0; q < whole; ++q) {
    const auto difference = static_cast<int16_t>(relative[q] - rel_a);
    const auto magnitude = static_cast<int16_t>(difference < 0 ? -difference : difference);
    auto theta = static_cast<int16_t>(bearing[q] - bear_a);
    theta = static_cast<int16_t>(theta < 0 ? theta + kDegreesPerTurn : theta);
    const bool angle_ok = (magnitude <= tolerance) | (magnitude >= far_tolerance);
    const bool rotation_ok = (theta <= rotation) | (theta >= far_rotation);
    keep[q] = static_cast<uint8_t>(angle_ok & rotation_ok);
  }
}

// Windows shorter than this are tested pair by pair: marking them first costs more than it saves.
constexpr int kShortWindow = 16;

// The vote of A pair (j1, j2) with B pair pb: both correspondences gain one when the pairs agree
// in relative direction and rotation and each correspondence is a candidate whose own rotation
// agrees with the pairs'. The tests are independent, so the ones on the pairs' own values,
// read in list order, come first.
inline void VoteForPair(MatchWork* work, int j1, int j2, int relative_a, int bearing_a, int pb) {
  const MatchParams& p = work->params;
  const PairTables& b = work->b;
  const CrossTables& x = work->cross;
  if (!WithinAngle(b.pair_relative[pb] - relative_a, p.AngleTolerance)) return;
  int theta = b.pair_bearing[pb] - bearing_a;
  if (theta < 0) theta += kDegreesPerTurn;
  if (theta > p.MaxRotation && theta < kDegreesPerTurn - p.MaxRotation) return;
  const int k1 = b.pairs[pb].Low();
  const int k2 = b.pairs[pb].High();
  if (x.weight[j1][k1] == 0 || x.weight[j2][k2] == 0) return;
  if (!WithinAngle(x.rotation[j1][k1] - theta, p.AngleTolerance) ||
      !WithinAngle(x.rotation[j2][k2] - theta, p.AngleTolerance)) {
    return;
  }
  ++work->votes[j1][k1];
  ++work->votes[j2][k2];
}

void CountVotes(MatchWork* work) {
  const MatchParams& p = work->params;
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const int tolerance = p.DistanceTolerance;
  const int angle_tolerance = p.AngleTolerance;
  uint8_t* keep = work->pair_keep;

  int last_a = a.pair_count - 1;
  int last_b = b.pair_count - 1;
  TrimPairLists(a, b, &last_a, &last_b);

  // [start, end) is the B window of the A pair: the first B pair at least length - tolerance
  // long up to the first one longer than length + tolerance. Both bounds only move forward as
  // A lengths grow. The window may run past last_b into trimmed pairs; only the sentinel or
  // length ends it.
  int start = 0;
  int end = 0;
  for (int pa = 0; pa <= last_a; ++pa) {
    const int length = a.pairs[pa].distance;
    while (b.pairs[start].distance < length - tolerance) ++start;
    if (start > last_b) break;
    while (b.pairs[end].distance <= length + tolerance) ++end;
    const int n = end - start;
    if (n <= 0) continue;
    const int j1 = a.pairs[pa].Low();
    const int j2 = a.pairs[pa].High();
    const int relative_a = a.pair_relative[pa];
    const int bearing_a = a.pair_bearing[pa];
    if (n < kShortWindow) {
      for (int pb = start; pb < end; ++pb) VoteForPair(work, j1, j2, relative_a, bearing_a, pb);
      continue;
    }
    // The tests on the B pairs' own values run over the whole window first; the few pairs
    // that pass them are then checked against the cross tables.
    MarkAngularAgreement(b.pair_relative + start, b.pair_bearing + start, n, relative_a, bearing_a,
                         angle_tolerance, p.MaxRotation, keep);
    std::memset(keep + n, 0, kKeepPadding);
    for (int q = 0; q < n; q += kKeepPadding) {
      uint64_t marks;
      std::memcpy(&marks, keep + q, sizeof marks);
      while (marks != 0) {
        const int pb = start + q + std::countr_zero(marks) / 8;
        marks &= marks - 1;
        VoteForPair(work, j1, j2, relative_a, bearing_a, pb);
      }
    }
  }
}

// Each A minutia's best B partner (the first of the row's largest votes, so B index 0 for a row
// of zeros), then the anchor list in rank order: more votes first, equal votes by A index.
// The row's largest vote is found first (a reduction over the lanes), then its first place.
// Ranks count the better entries before and after i in two reductions: ties rank by A index.
void RankAnchors(MatchWork* work) {
  const int na = work->a.count;
  const int nb = work->b.count;
  for (int i = 0; i < na; ++i) {
    const int32_t* __restrict row = work->votes[i];
    int32_t largest = row[0];
    for (int k = 1; k < nb; ++k) largest = row[k] > largest ? row[k] : largest;
    int best = 0;
    while (row[best] != largest) ++best;
    work->best_b[i] = static_cast<int16_t>(best);
    work->best_votes[i] = static_cast<int16_t>(largest);
  }
  const int16_t* __restrict best_votes = work->best_votes;
  for (int i = 0; i < na; ++i) {
    const int votes = best_votes[i];
    int rank = 0;
    for (int j = 0; j < i; ++j) rank += best_votes[j] >= votes;
    for (int j = i + 1; j < na; ++j) rank += best_votes[j] > votes;
    work->rank[i] = static_cast<int16_t>(rank);
    work->anchors[rank] = {static_cast<uint8_t>(i), static_cast<uint8_t>(work->best_b[i]), votes};
  }
}

}  // namespace

// Each round drops the pairs of at least the longest kept length at once: the kept pairs shorter
// than `longest` are those before length_end[longest - 1] (the lists are sorted by length), and
// longest - 1 lies within 100 .. 1022 here.
void TrimPairLists(const PairTables& a, const PairTables& b, int* last_a, int* last_b) {
  while (*last_a * *last_b > kMaxPairProducts) {
    const int longest = std::max(a.pairs[*last_a].distance, b.pairs[*last_b].distance);
    if (longest <= kTrimFloor) break;
    *last_a = std::min(*last_a, a.length_end[longest - 1] - 1);
    *last_b = std::min(*last_b, b.length_end[longest - 1] - 1);
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
