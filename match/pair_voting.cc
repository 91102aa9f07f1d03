// Pair voting over the two length-sorted pair lists. The B window for an A pair holds the B pairs
// whose length is within the distance tolerance; as A lengths only grow, its start never moves
// back, and the sentinel after the last B pair ends it.
#include "match/pair_voting.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "match/match_kernels.h"
#include "match/pair_tables.h"

namespace ridgeline {

namespace {

// The votes of every A pair of the trimmed list against its B window. A's lengths ascend, so
// no window reaches past the pairs of B no longer than A's last kept length + the tolerance;
// only those of B need their slots (B's pairs may be counted but not yet placed).
void CountVotes(MatchWork* work) {
  int last_a = work->a.pair_count - 1;
  int last_b = work->b.pair_count - 1;
  TrimPairLists(work->a, work->b, &last_a, &last_b);
  if (last_a >= 0) {
    const int64_t reach =
        static_cast<int64_t>(work->a.pairs[last_a].distance) + work->params.DistanceTolerance;
    int limit = static_cast<int>(std::clamp<int64_t>(reach, -1, kMaxPairDistance - 1));
    // Skipping a pair is a branch taken at random along the rows: it pays only when most pairs
    // are skipped (80 minutiae a side and more); a list mostly reached is placed whole, where the
    // branch is almost never taken.
    const int reached = limit < 0 ? 0 : work->b.length_end[limit];
    if (2 * reached > work->b.pair_count) limit = kMaxPairDistance - 1;
    PlacePairList(&work->b, limit);
  }
  CountPairVotes(work, last_a, last_b);
}

// Each A minutia's best B partner (the first of the row's largest votes, so B index 0 for a row
// of zeros), then the anchor list in rank order: more votes first, equal votes by A index.
// The row's largest vote is found first (a reduction over the lanes), then its first place.
// The list grows by insertion in A order: an entry moves only past entries with fewer votes, so
// equal votes keep A order (a stable sort, some n^2 / 4 moves against the n^2 tests of ranking
// each entry by counting the better ones).
void RankAnchors(MatchWork* work) {
  const int na = work->a.count;
  const int nb = work->b.count;
  for (int i = 0; i < na; ++i) {
    const int32_t* __restrict row = work->votes[i];
    int32_t largest = row[0];
    for (int k = 1; k < nb; ++k) largest = row[k] > largest ? row[k] : largest;
    // The first place of the largest as a reduction too (no loop ending where it is found).
    int best = kMatchCapacity;
    for (int k = 0; k < nb; ++k) {
      const int place = row[k] == largest ? k : kMatchCapacity;
      best = place < best ? place : best;
    }
    work->best_b[i] = static_cast<int16_t>(best);
    work->best_votes[i] = static_cast<int16_t>(largest);
  }
  Anchor* anchors = work->anchors;
  for (int i = 0; i < na; ++i) {
    const int votes = work->best_votes[i];
    int place = i;
    while (place > 0 && anchors[place - 1].votes < votes) {
      anchors[place] = anchors[place - 1];
      --place;
    }
    anchors[place] = {static_cast<uint8_t>(i), static_cast<uint8_t>(work->best_b[i]), votes};
  }
  for (int r = 0; r < na; ++r) work->rank[anchors[r].a] = static_cast<int16_t>(r);
}

}  // namespace

// The walk this replaces drops, round by round, every pair at least as long as the longer of the
// two last kept pairs, until the product of the last indices is within the bound or the next
// round would cut at kTrimFloor or below. Cutting at length m keeps the pairs shorter than m:
// last(m) = min(start, length_end[m - 1] - 1) on each side, and the product P(m) only falls as m
// does. The rounds visit the lengths present in the two lists in descending order, so the walk
// ends at the largest m with P(m) <= bound (where P changes from m + 1 to m, so a pair of length
// m is present and the walk does stop there), or, when even m = kTrimFloor + 1 is above the bound,
// on the shortest present length above the floor, which keeps what m = kTrimFloor + 1 keeps.
// A binary search over m finds that end in about ten steps instead of one round per length.
void TrimPairLists(const PairTables& a, const PairTables& b, int* last_a, int* last_b) {
  const int start_a = *last_a;
  const int start_b = *last_b;
  if (start_a * start_b <= kMaxPairProducts) return;
  // B's last length is read off its length ends (the first length whose end passes start_b), as
  // its pairs may not be placed yet.
  const auto b_last = static_cast<int>(
      std::upper_bound(b.length_end, b.length_end + kMaxPairDistance, start_b) - b.length_end);
  const int longest = std::max(a.pairs[start_a].distance, b_last);
  if (longest <= kTrimFloor) return;
  const auto kept_a = [&](int m) { return std::min(start_a, a.length_end[m - 1] - 1); };
  const auto kept_b = [&](int m) { return std::min(start_b, b.length_end[m - 1] - 1); };
  const auto within = [&](int m) { return kept_a(m) * kept_b(m) <= kMaxPairProducts; };
  int low = kTrimFloor + 1;  // the shortest cut a round can make
  int high = longest;        // the first round's cut
  if (within(low)) {
    while (low < high) {  // within(low) holds; find the largest such m up to high
      const int middle = low + (high - low + 1) / 2;
      if (within(middle)) {
        low = middle;
      } else {
        high = middle - 1;
      }
    }
  }
  *last_a = kept_a(low);
  *last_b = kept_b(low);
}

void PairVote(MatchWork* work) {
  ClearVotes(work);
  CountVotes(work);
  RankAnchors(work);
}

}  // namespace ridgeline
