#include "match/pair_voting.h"

#include <algorithm>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/support/match_work.h"

namespace ridgeline {
namespace {

using testing::OwnedMatchWork;

// A pair list of `count` pairs whose lengths are given by length(p), sentinel after, with its
// length ends (pairs no longer than each length) as BuildPairTables leaves them.
template <typename Length>
void FillList(int count, Length length, PairTables* t) {
  t->pair_count = count;
  std::fill(std::begin(t->length_end), std::end(t->length_end), 0);
  for (int p = 0; p < count; ++p) {
    t->pairs[p] = {length(p), 0};
    for (int d = length(p); d < kMaxPairDistance; ++d) ++t->length_end[d];
  }
  t->pairs[count] = {kPairSentinel, 0};
}

TEST(TrimPairLists, LeavesListsWithinTheBoundAlone) {
  OwnedMatchWork work;
  FillList(
      501, [](int p) { return 11 + p; }, &work->a);
  FillList(
      501, [](int p) { return 11 + p; }, &work->b);
  int last_a = 500;
  int last_b = 500;
  TrimPairLists(work->a, work->b, &last_a, &last_b);
  EXPECT_EQ(last_a, 500);  // 500 x 500 is not above 250000
  EXPECT_EQ(last_b, 500);
}

TEST(TrimPairLists, DropsTheLongestPairsOfBothListsUntilWithinTheBound) {
  OwnedMatchWork work;
  FillList(
      1000, [](int p) { return 11 + p / 2; }, &work->a);  // two pairs per length
  FillList(
      800, [](int p) { return 11 + p; }, &work->b);
  int last_a = 999;
  int last_b = 799;
  TrimPairLists(work->a, work->b, &last_a, &last_b);
  ASSERT_LE(last_a * last_b, kMaxPairProducts);
  // Each round drops every pair at least as long as the longer last pair, on both sides, so the
  // kept lists end on the same length bound and the round before was still above the bound.
  const int kept_a = work->a.pairs[last_a].distance;
  const int kept_b = work->b.pairs[last_b].distance;
  EXPECT_EQ(std::max(kept_a, kept_b) + 1, work->a.pairs[last_a + 1].distance);
  EXPECT_EQ(last_a, 2 * (kept_a - 11) + 1);
  EXPECT_EQ(last_b, kept_b - 11);
  EXPECT_GT((last_a + 2) * (last_b + 1), kMaxPairProducts);
}

TEST(TrimPairLists, ShortPairsAreNeverTrimmed) {
  OwnedMatchWork work;
  FillList(
      1000, [](int p) { return 11 + p % 90; }, &work->a);  // unsorted is fine here
  FillList(
      1000, [](int) { return 100; }, &work->b);
  work->a.pairs[999].distance = 100;
  int last_a = 999;
  int last_b = 999;
  TrimPairLists(work->a, work->b, &last_a, &last_b);
  EXPECT_EQ(last_a, 999);
  EXPECT_EQ(last_b, 999);
}

TEST(TrimPairLists, AListIsEmptiedButNeverShortenedBelowEmpty) {
  OwnedMatchWork work;
  FillList(
      600, [](int) { return 500; }, &work->a);
  FillList(
      600, [](int p) { return 11 + p; }, &work->b);
  int last_a = 599;
  int last_b = 599;
  TrimPairLists(work->a, work->b, &last_a, &last_b);
  EXPECT_EQ(last_a, -1);
  EXPECT_EQ(last_b, 500 - 11 - 1);  // B pairs of length 500 and more went with A's
}

}  // namespace
}  // namespace ridgeline
