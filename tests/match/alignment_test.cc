// The alignment search, its refinement and the scoring they share, checked by what an alignment
// must mean: its rotation and translation carry every paired probe minutia onto its partner.
#include "match/alignment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "match/int_trig.h"
#include "match/match_coord.h"
#include "match/refine_alignment.h"
#include "match/score.h"
#include "tests/support/match_work.h"
#include "tests/support/test_prints.h"

namespace ridgeline {
namespace {

using testing::OwnedMatchWork;
using testing::TestFeatureSet;

// Every correspondence is one-to-one and lands within `tolerance` pixels of its partner under the
// result's own transform; returns how many there are.
int CheckCorrespondence(const MatchResult& r, const FeatureSet& a, const FeatureSet& b,
                        int tolerance) {
  const Rotation trig = RotationOf(r.Rotation);
  std::set<int> partners;
  int pairs = 0;
  for (int i = 0; i < a.Count && i < kMatchCapacity; ++i) {
    const int k = r.Correspondence[i];
    if (k == -1) continue;
    EXPECT_TRUE(k >= 0 && k < b.Count) << "A " << i << " -> " << k;
    if (k < 0 || k >= b.Count) continue;
    EXPECT_TRUE(partners.insert(k).second) << "B " << k << " has two partners";
    EXPECT_LE(std::abs(trig.X(a.X[i], a.Y[i]) + r.TX - b.X[k]), tolerance) << i << " -> " << k;
    EXPECT_LE(std::abs(trig.Y(a.X[i], a.Y[i]) + r.TY - b.Y[k]), tolerance) << i << " -> " << k;
    ++pairs;
  }
  EXPECT_EQ(pairs, r.CorrespondenceCount);
  return pairs;
}

// Degrees between two bearings, 0..180.
int TurnBetween(int a, int b) {
  const int d = ((a - b) % 360 + 360) % 360;
  return d > 180 ? 360 - d : d;
}

TEST(AlignmentSearch, FindsTheMotionOfAGenuineCaptureAndPairsItsMinutiae) {
  OwnedMatchWork work;
  TestFeatureSet print;
  testing::MakePrint(3, &print);
  TestFeatureSet capture;
  testing::MakeGenuineCapture(*print, &capture);  // turned by 8 degrees, shifted, 1 px noise
  MatchResult first{};
  const int score = MatchCoord(*capture, *print, work.get(), &first);
  EXPECT_GT(score, 325);
  // The capture was turned by 8 degrees from the print, so carrying it back turns by -8.
  EXPECT_LE(TurnBetween(first.Rotation, 360 - 8), 2) << first.Rotation;
  const int pairs = CheckCorrespondence(first, *capture, *print, 8);
  EXPECT_GE(pairs, (*capture).Count * 3 / 4);
  EXPECT_GE(first.Overlap, first.Matched);
  EXPECT_NE(first.Anchor1, -1);
  EXPECT_NE(first.Anchor1, first.Anchor2);
  EXPECT_EQ(first.Correspondence[first.Anchor1] != -1, true);
}

TEST(AlignmentSearch, AnImpostorGetsAWeakAlignmentAndAnUnrelatedPrintNoMatch) {
  OwnedMatchWork work;
  TestFeatureSet print;
  testing::MakePrint(3, &print);
  TestFeatureSet other;
  testing::MakePrint(4, &other);
  MatchResult first{};
  const int score = MatchCoord(*other, *print, work.get(), &first);
  EXPECT_LT(score, 325);
  CheckCorrespondence(first, *other, *print, 8);
}

TEST(RefineAlignment, ReanchorsAWeakAlignmentConsistentlyWithItsOwnTransform) {
  OwnedMatchWork work;
  TestFeatureSet print;
  testing::MakeBorderlinePrint(&print);
  TestFeatureSet capture;
  testing::MakeBorderlineCapture(*print, testing::kBelowThreshold, &capture);
  MatchResult first{};
  const int score = MatchCoord(*capture, *print, work.get(), &first);
  ASSERT_EQ(score, 324);  // 1..999: the refinement ran
  const MatchResult* refined = RefinedResult(work.get());
  ASSERT_NE(refined, nullptr);
  EXPECT_GT(refined->Score, 0);
  CheckCorrespondence(*refined, *capture, *print, 8);
  // The refinement re-anchors within the first alignment's pairs: it can only pair minutiae the
  // first alignment paired.
  for (int i = 0; i < (*capture).Count; ++i) {
    if (refined->Correspondence[i] != -1) {
      EXPECT_NE(first.Correspondence[i], -1) << i;
    }
  }
}

TEST(RefineAlignment, DoesNotRunOnAStrongMatch) {
  OwnedMatchWork work;
  TestFeatureSet print;
  testing::MakePrint(3, &print);
  MatchResult first{};
  EXPECT_GE(MatchCoord(*print, *print, work.get(), &first), 1000);
  EXPECT_EQ(RefinedResult(work.get()), nullptr);
}

TEST(Score, AngleToleranceWrapsAroundTheTurn) {
  EXPECT_TRUE(WithinAngle(0, 0));
  EXPECT_TRUE(WithinAngle(-15, 15));
  EXPECT_FALSE(WithinAngle(16, 15));
  EXPECT_TRUE(WithinAngle(345, 15));
  EXPECT_TRUE(WithinAngle(-350, 15));
  EXPECT_FALSE(WithinAngle(344, 15));
  EXPECT_TRUE(WithinAngle(360, 0));
}

TEST(Score, SquareOverOverlapStaysWithin32BitsAndIsExactBelowTheSwitch) {
  EXPECT_EQ(SquaredOverOverlap(100, 10), 1000);
  EXPECT_EQ(SquaredOverOverlap(32767, 1), 32767 * 32767);
  // Above 32767 the square is taken as S x (S / overlap) so it cannot overflow.
  EXPECT_EQ(SquaredOverOverlap(40000, 100), 40000 * 400);
  EXPECT_EQ(SquaredOverOverlap(30, 0), 900);  // no overlap: the plain square
}

}  // namespace
}  // namespace ridgeline
