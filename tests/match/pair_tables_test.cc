#include "match/pair_tables.h"

#include <gtest/gtest.h>

#include "match/match_work.h"
#include "match/work_area.h"
#include "tests/support/features.h"
#include "tests/support/match_work.h"

namespace ridgeline {
namespace {

using testing::OwnedMatchWork;
using testing::TestFeatureSet;

TEST(MatchWork, VariationWeightTableMatchesItsFormula) {
  OwnedMatchWork work;
  const int span = work->params.VariationSpan;
  ASSERT_EQ(span, 30);
  for (int d = 0; d < kVariationWeights; ++d) {
    EXPECT_EQ(work->variation_weight[d], d < span ? 100 - (100 * d) / span : 0) << d;
  }
  EXPECT_EQ(work->variation_weight[29], 4);
  EXPECT_EQ(work->variation_weight[30], 0);
}

TEST(MatchWork, RefusesCapacitiesBeyondItsTables) {
  const MatchParams params = OwnedMatchWork::DefaultParams();
  EXPECT_EQ(BuildMatchWork(251, 64, 64, 250, 64, 64, params), nullptr);
  EXPECT_EQ(BuildMatchWork(250, 64, 64, 250, 65, 64, params), nullptr);
  EXPECT_EQ(BuildMatchWork(-1, 64, 64, 250, 64, 64, params), nullptr);
  MatchWork* small = BuildMatchWork(100, 32, 32, 100, 32, 32, params);
  EXPECT_NE(small, nullptr);
  FreeMatchWork(small);
  FreeMatchWork(nullptr);
}

TEST(BuildPairTables, OnlyTheFirst250MinutiaeTakePart) {
  OwnedMatchWork work;
  TestFeatureSet set(64, 64);
  for (int j = 0; j < 300; ++j) set.Add({16 + (j % 30) * 30, 16 + (j / 30) * 30, j % 360});
  BuildPairTables(work.get(), MatchSide::kA, *set);
  const PairTables& t = work->a;
  ASSERT_EQ(t.count, kMatchCapacity);
  for (int p = 0; p < t.pair_count; ++p) {
    ASSERT_LT(t.pairs[p].High(), kMatchCapacity);
    ASSERT_LT(t.pairs[p].Low(), t.pairs[p].High());
  }
  EXPECT_EQ(t.pairs[t.pair_count].distance, kPairSentinel);
}

TEST(BuildPairTables, MinutiaeOnOneSpotHaveDistanceZeroAndBearingsZeroAnd180) {
  OwnedMatchWork work;
  TestFeatureSet set;
  set.Add({100, 100, 10});
  set.Add({100, 100, 30});
  set.Add({150, 100, 30});
  set.Add({100, 200, 30});
  BuildPairTables(work.get(), MatchSide::kA, *set);
  for (int r = 0; r < work->a.count; ++r) CompletePairRow(&work->a, r);
  const PairTables& t = work->a;
  EXPECT_EQ(t.distance[0][1], 0);
  EXPECT_EQ(t.bearing[0][1], 0);
  EXPECT_EQ(t.bearing[1][0], 180);
  EXPECT_EQ(t.distance[0][2], 50);
  EXPECT_EQ(t.bearing[0][2], 0);
  EXPECT_EQ(t.bearing[2][0], 180);
  EXPECT_EQ(t.bearing[0][3], 90);
  EXPECT_EQ(t.bearing[3][0], 270);
  EXPECT_EQ(t.distance[2][3], 111);  // floor(sqrt(50^2 + 100^2)) = floor(111.8)
}

TEST(BuildPairTables, BearingOf360ReversesTo180) {
  OwnedMatchWork work;
  TestFeatureSet set(64, 20);
  set.Add({10, 100, 0});
  set.Add({210, 99, 0});  // (200, -1) from the first
  BuildPairTables(work.get(), MatchSide::kB, *set);
  CompletePairRow(&work->b, 1);
  EXPECT_EQ(work->b.bearing[0][1], 360);
  EXPECT_EQ(work->b.bearing[1][0], 180);
}

TEST(BuildPairTables, MatcherDirectionAndRelativeDirections) {
  OwnedMatchWork work;
  TestFeatureSet set;
  set.Add({20, 20, 0});
  set.Add({60, 20, 360});
  set.Add({20, 60, 90});
  set.Add({60, 60, 300});
  BuildPairTables(work.get(), MatchSide::kA, *set);
  for (int r = 0; r < work->a.count; ++r) CompletePairRow(&work->a, r);
  const PairTables& t = work->a;
  EXPECT_EQ(t.direction[0], 0);
  EXPECT_EQ(t.direction[1], 0);
  EXPECT_EQ(t.direction[2], 270);
  EXPECT_EQ(t.direction[3], 60);
  EXPECT_EQ(t.relative[0][1], 0);
  EXPECT_EQ(t.relative[1][0], 0);
  EXPECT_EQ(t.relative[0][2], 270);
  EXPECT_EQ(t.relative[2][0], 90);
  EXPECT_EQ(t.relative[2][3], 150);  // 60 - 270 + 360
  EXPECT_EQ(t.relative[3][2], 210);
}

TEST(BuildPairTables, PairListExcludesMinimumAnd1024AndSortsByLengthThenIndices) {
  OwnedMatchWork work;
  TestFeatureSet set(64, 64);
  set.Add({0, 0, 0});     // 0
  set.Add({10, 0, 0});    // 1: 10 from 0, excluded
  set.Add({0, 11, 0});    // 2: 11 from 0
  set.Add({1023, 0, 0});  // 3: 1023 from 0
  set.Add({0, 1024, 0});  // 4: 1024 from 0, excluded
  BuildPairTables(work.get(), MatchSide::kA, *set);
  const PairTables& t = work->a;
  for (int p = 0; p < t.pair_count; ++p) {
    EXPECT_GT(t.pairs[p].distance, 10);
    EXPECT_LT(t.pairs[p].distance, 1024);
    if (p > 0) {
      const MinutiaPair& before = t.pairs[p - 1];
      const MinutiaPair& here = t.pairs[p];
      ASSERT_TRUE(before.distance < here.distance ||
                  (before.distance == here.distance &&
                   (before.Low() < here.Low() ||
                    (before.Low() == here.Low() && before.High() < here.High()))));
    }
    const bool zero_one = t.pairs[p].Low() == 0 && t.pairs[p].High() == 1;
    const bool zero_four = t.pairs[p].Low() == 0 && t.pairs[p].High() == 4;
    EXPECT_FALSE(zero_one || zero_four);
  }
  // (1,2) 14, (0,2) 11 first; (0,3) 1023 and (2,3) floor(sqrt(1023^2+11^2)) = 1023 tie -> j order.
  ASSERT_GE(t.pair_count, 2);
  EXPECT_EQ(t.pairs[0].distance, 11);
  EXPECT_EQ(t.pairs[0].packed, (2u << 16) | 0u);
  EXPECT_EQ(t.pairs[t.pair_count].distance, kPairSentinel);
  int last = t.pair_count - 1;
  EXPECT_EQ(t.pairs[last].distance, 1023);
  EXPECT_EQ(t.pairs[last - 1].distance, 1023);
  EXPECT_LT(t.pairs[last - 1].Low(), t.pairs[last].Low());
}

TEST(BuildPairTables, NeighboursAreWithinTheRadiusInclusiveAscending) {
  OwnedMatchWork work;
  TestFeatureSet set;
  set.Add({100, 100, 0});
  set.Add({150, 100, 0});  // 50: neighbour
  set.Add({100, 151, 0});  // 51: not
  set.Add({100, 60, 0});   // 40: neighbour
  BuildPairTables(work.get(), MatchSide::kA, *set);
  const PairTables& t = work->a;
  ASSERT_EQ(t.neighbour_count[0], 2);
  EXPECT_EQ(t.neighbours[0][0], 1);
  EXPECT_EQ(t.neighbours[0][1], 3);
}

TEST(BuildPairTables, MapInDegreesWithEmptyBlocksAndMinutiaBlocks) {
  OwnedMatchWork work;
  TestFeatureSet set(4, 4, 119);
  FeatureSet* fs = set.get();
  fs->DirectionMap[0][1] = 127;   // no direction
  fs->DirectionMap[0][2] = 0xFF;  // background
  fs->DirectionMap[0][3] = 0;
  set.Add({20, 5, 0});     // block (0, 1)
  set.Add({50, 10, 0});    // block (0, 3)
  set.Add({-20, 10, 0});   // column -20 / 16 = -1: outside the map
  set.Add({1100, 10, 0});  // column 68: outside the map
  BuildPairTables(work.get(), MatchSide::kB, *set);
  const PairTables& t = work->b;
  EXPECT_EQ(t.map[0][0], 178);
  EXPECT_EQ(t.map[0][1], kEmptyBlock);
  EXPECT_EQ(t.map[0][2], kEmptyBlock);
  EXPECT_EQ(t.map[0][3], 0);
  EXPECT_EQ(t.block_direction[0], kEmptyBlock);
  EXPECT_EQ(t.block_direction[1], 0);
  EXPECT_EQ(t.block_direction[2], kEmptyBlock);
  EXPECT_EQ(t.block_direction[3], kEmptyBlock);
}

}  // namespace
}  // namespace ridgeline
