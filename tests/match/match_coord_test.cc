#include "match/match_coord.h"

#include <cstring>

#include <gtest/gtest.h>

#include "match/work_area.h"
#include "tests/support/features.h"
#include "tests/support/match_work.h"

namespace ridgeline {
namespace {

using testing::MakeMovedCopy;
using testing::MakeSyntheticPrint;
using testing::Motion;
using testing::OwnedMatchWork;
using testing::TestFeatureSet;

constexpr int kCols = 24;
constexpr int kRows = 28;
constexpr int kSpacing = 12;
constexpr int kDefaultThreshold = 325;

MatchResult Garbage() {
  MatchResult r;
  std::memset(&r, 0x55, sizeof(r));
  return r;
}

bool SameResult(const MatchResult& x, const MatchResult& y, int count_a) {
  return x.Score == y.Score && x.Rotation == y.Rotation && x.TX == y.TX && x.TY == y.TY &&
         x.Anchor1 == y.Anchor1 && x.Anchor2 == y.Anchor2 && x.Overlap == y.Overlap &&
         x.Matched == y.Matched && x.CorrespondenceCount == y.CorrespondenceCount &&
         std::memcmp(x.Correspondence, y.Correspondence, sizeof(int32_t) * count_a) == 0;
}

TEST(MatchCoord, ThreeMinutiaeScoreZeroWithoutAnyWork) {
  OwnedMatchWork work;
  TestFeatureSet a(kCols, kRows);
  MakeSyntheticPrint(1, 3, kCols, kRows, kSpacing, &a);
  TestFeatureSet b(kCols, kRows);
  MakeSyntheticPrint(1, 30, kCols, kRows, kSpacing, &b);
  MatchResult result = Garbage();
  const MatchResult before = result;
  EXPECT_EQ(MatchCoord(*a, *b, work.get(), &result), 0);
  EXPECT_EQ(MatchCoord(*b, *a, work.get(), &result), 0);
  EXPECT_EQ(std::memcmp(&result, &before, sizeof(result)), 0);
  EXPECT_EQ(work->a.count, 0);  // no tables were built
  EXPECT_EQ(work->b.count, 0);
  EXPECT_EQ(RefinedResult(work.get()), nullptr);
}

TEST(MatchCoord, FourMinutiaeAreComparedAndResetTheResult) {
  OwnedMatchWork work;
  TestFeatureSet a(kCols, kRows);
  MakeSyntheticPrint(1, 4, kCols, kRows, kSpacing, &a);
  MatchResult result = Garbage();
  // Two anchors leave two minutiae for the common area, fewer than the least support of 4.
  EXPECT_EQ(MatchCoord(*a, *a, work.get(), &result), 0);
  EXPECT_EQ(work->a.count, 4);
  EXPECT_EQ(result.Score, 0);
  EXPECT_EQ(result.Anchor1, -1);
  EXPECT_EQ(result.Anchor2, -1);
  EXPECT_EQ(result.CorrespondenceCount, 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(result.Correspondence[i], -1);
}

TEST(MatchCoord, SelfMatchIsCappedAt9999) {
  OwnedMatchWork work;
  TestFeatureSet a(kCols, kRows);
  MakeSyntheticPrint(3, 40, kCols, kRows, kSpacing, &a);
  MatchResult result{};
  EXPECT_EQ(MatchCoord(*a, *a, work.get(), &result), 9999);
  EXPECT_GT(result.Score, 9999);
  EXPECT_EQ(result.Rotation, 0);
  EXPECT_EQ(result.TX, 0);
  EXPECT_EQ(result.TY, 0);
  EXPECT_EQ(result.CorrespondenceCount, 40);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(result.Correspondence[i], i);
}

TEST(MatchCoord, TurnedShiftedCopyWithDropsScoresWellAboveThreshold) {
  OwnedMatchWork work;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    for (int degrees : {10, 20, 30, -15}) {
      TestFeatureSet a(kCols, kRows);
      MakeSyntheticPrint(seed, 40, kCols, kRows, kSpacing, &a);
      TestFeatureSet b(kCols, kRows);
      MakeMovedCopy(*a, Motion{degrees, 12, -9, 5, 1, seed}, &b);
      MatchResult result{};
      const int score = MatchCoord(*a, *b, work.get(), &result);
      EXPECT_GT(score, 3 * kDefaultThreshold) << "seed " << seed << ", " << degrees << " degrees";
      const int turn = (degrees + 360) % 360;
      int error = result.Rotation % 360 - turn;
      if (error < 0) error = -error;
      EXPECT_TRUE(error <= 3 || error >= 357) << result.Rotation << " for " << degrees;
    }
  }
}

TEST(MatchCoord, UnrelatedPrintsScoreLow) {
  OwnedMatchWork work;
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    TestFeatureSet a(kCols, kRows);
    MakeSyntheticPrint(seed, 40, kCols, kRows, kSpacing, &a);
    TestFeatureSet b(kCols, kRows);
    MakeSyntheticPrint(seed + 1000, 40, kCols, kRows, kSpacing, &b);
    MatchResult result{};
    EXPECT_LT(MatchCoord(*a, *b, work.get(), &result), kDefaultThreshold) << seed;
  }
}

TEST(MatchCoord, NoVotesLeaveNoAnchors) {
  // Every A direction is 180 degrees from every B direction: no minutia is a candidate.
  OwnedMatchWork work;
  TestFeatureSet a(kCols, kRows);
  MakeSyntheticPrint(5, 30, kCols, kRows, kSpacing, &a);
  TestFeatureSet b(kCols, kRows);
  MakeSyntheticPrint(5, 30, kCols, kRows, kSpacing, &b);
  for (int j = 0; j < 30; ++j) {
    a.get()->Angle[j] = 90;
    b.get()->Angle[j] = 270;
  }
  MatchResult result = Garbage();
  EXPECT_EQ(MatchCoord(*a, *b, work.get(), &result), 0);
  EXPECT_EQ(result.Anchor1, -1);
  EXPECT_EQ(result.Anchor2, -1);
  EXPECT_EQ(result.Matched, 0);
  EXPECT_EQ(result.Overlap, 0);
  EXPECT_EQ(RefinedResult(work.get()), nullptr);
}

// Found by search: with these motions the first score after block agreement lands exactly on
// either side of the refinement bound.
struct BoundaryCase {
  uint32_t seed;
  int count;
  int degrees;
  int first_score;
};

TEST(MatchCoord, Score999IsRefinedAndAveragedAnd1000IsNot) {
  for (const BoundaryCase& c : {BoundaryCase{2169, 39, 9, 999}, BoundaryCase{1557, 27, 27, 1000}}) {
    OwnedMatchWork work;
    TestFeatureSet a(kCols, kRows);
    MakeSyntheticPrint(c.seed, c.count, kCols, kRows, kSpacing, &a);
    TestFeatureSet b(kCols, kRows);
    MakeMovedCopy(*a, Motion{c.degrees, 5, 7, 3, 10, c.seed}, &b);
    MatchResult result{};
    const int score = MatchCoord(*a, *b, work.get(), &result);
    ASSERT_EQ(result.Score, c.first_score) << "the fixture no longer reaches the bound";
    const MatchResult* second = RefinedResult(work.get());
    if (c.first_score == 1000) {
      EXPECT_EQ(second, nullptr);
      EXPECT_EQ(score, 1000);
    } else {
      ASSERT_NE(second, nullptr);
      EXPECT_EQ(second->Overlap, result.Overlap);
      EXPECT_EQ(score, (result.Score + second->Score) / 2);
      EXPECT_LT(score, 999);
    }
  }
}

TEST(MatchCoord, MinutiaeBeyond250DoNotTakePart) {
  TestFeatureSet a(64, 64);
  MakeSyntheticPrint(11, 250, 64, 64, 8, &a);
  TestFeatureSet b(64, 64);
  MakeMovedCopy(*a, Motion{12, 4, 4, 7, 1, 3}, &b);
  TestFeatureSet longer(64, 64);
  MakeSyntheticPrint(11, 250, 64, 64, 8, &longer);
  for (int j = 0; j < 40; ++j) longer.Add({30 + 20 * j, 500, j * 9, j, j % 2});

  OwnedMatchWork work;
  MatchResult first{};
  const int score = MatchCoord(*a, *b, work.get(), &first);
  EXPECT_GT(score, kDefaultThreshold);
  MatchResult second{};
  EXPECT_EQ(MatchCoord(*longer, *b, work.get(), &second), score);
  EXPECT_TRUE(SameResult(first, second, kMatchCapacity));
  // The same holds on side B.
  MatchResult turned{};
  MatchResult turned_longer{};
  const int back = MatchCoord(*b, *a, work.get(), &turned);
  EXPECT_EQ(MatchCoord(*b, *longer, work.get(), &turned_longer), back);
  EXPECT_TRUE(SameResult(turned, turned_longer, b.count()));
}

TEST(MatchCoord, Angle360MatchesLikeAngle0) {
  TestFeatureSet a(kCols, kRows);
  MakeSyntheticPrint(21, 35, kCols, kRows, kSpacing, &a);
  for (int j = 0; j < 35; j += 4) a.get()->Angle[j] = 0;
  TestFeatureSet b(kCols, kRows);
  MakeMovedCopy(*a, Motion{0, 6, 6, 6, 1, 21}, &b);
  TestFeatureSet a360(kCols, kRows);
  MakeSyntheticPrint(21, 35, kCols, kRows, kSpacing, &a360);
  for (int j = 0; j < 35; j += 4) a360.get()->Angle[j] = 360;

  OwnedMatchWork work;
  MatchResult with0{};
  MatchResult with360{};
  const int score = MatchCoord(*a, *b, work.get(), &with0);
  EXPECT_GT(score, kDefaultThreshold);
  EXPECT_EQ(MatchCoord(*a360, *b, work.get(), &with360), score);
  EXPECT_TRUE(SameResult(with0, with360, 35));
}

// A stored template's entry can decode to an Angle up to 511: such angles act as their value
// mod 360 and never drive a rotation outside the tables.
TEST(MatchCoord, AnglesBeyond359ActModulo360) {
  TestFeatureSet a(kCols, kRows);
  MakeSyntheticPrint(21, 35, kCols, kRows, kSpacing, &a);
  TestFeatureSet b(kCols, kRows);
  MakeMovedCopy(*a, Motion{0, 6, 6, 6, 1, 21}, &b);
  TestFeatureSet wide(kCols, kRows);
  MakeSyntheticPrint(21, 35, kCols, kRows, kSpacing, &wide);
  for (int j = 0; j < 35; j += 3)
    wide.get()->Angle[j] = static_cast<int16_t>(a.get()->Angle[j] + 360);
  wide.get()->Angle[1] = 511;
  a.get()->Angle[1] = 151;

  OwnedMatchWork work;
  MatchResult plain{};
  MatchResult widened{};
  const int score = MatchCoord(*a, *b, work.get(), &plain);
  EXPECT_EQ(MatchCoord(*wide, *b, work.get(), &widened), score);
  EXPECT_EQ(MatchCoord(*b, *wide, work.get(), &widened), MatchCoord(*b, *a, work.get(), &plain));
}

TEST(MatchCoord, ReusedProbeTablesGiveTheSameResult) {
  TestFeatureSet a(kCols, kRows);
  MakeSyntheticPrint(8, 40, kCols, kRows, kSpacing, &a);
  TestFeatureSet b(kCols, kRows);
  MakeMovedCopy(*a, Motion{18, -6, 10, 4, 2, 8}, &b);
  TestFeatureSet c(kCols, kRows);
  MakeSyntheticPrint(9, 40, kCols, kRows, kSpacing, &c);

  OwnedMatchWork fresh;
  MatchResult want{};
  const int want_score = MatchCoord(*a, *b, fresh.get(), &want);

  OwnedMatchWork reused;
  MatchResult got{};
  MatchCoord(*a, *c, reused.get(), &got);
  EXPECT_EQ(MatchCoord(*a, *b, reused.get(), &got, /*rebuildA=*/false), want_score);
  EXPECT_TRUE(SameResult(got, want, 40));
}

TEST(MatchCoord, RotatedRetryRecoversATurnedCapture) {
  TestFeatureSet a(kCols, kRows);
  MakeSyntheticPrint(13, 40, kCols, kRows, kSpacing, &a);
  TestFeatureSet upside_down(kCols, kRows);
  RotateFeatureSet180(upside_down.get(), *a);
  OwnedMatchWork work;
  MatchResult result{};
  // A half turn is beyond the largest rotation considered.
  EXPECT_LT(MatchCoord(*a, *upside_down, work.get(), &result), kDefaultThreshold);
  TestFeatureSet retried(kCols, kRows);
  RotateFeatureSet180(retried.get(), *upside_down);
  EXPECT_EQ(MatchCoord(*a, *retried, work.get(), &result), 9999);
}

}  // namespace
}  // namespace ridgeline
