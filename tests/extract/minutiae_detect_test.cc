#include "extract/minutiae_detect.h"

#include <memory>

#include <gtest/gtest.h>

#include "tests/support/skeletons.h"

namespace ridgeline {
namespace {

using testing::Skeleton;
using testing::TestImage;

struct Detected {
  std::unique_ptr<ExtractionResult> result = std::make_unique<ExtractionResult>();
  const ExtractionResult* operator->() const { return result.get(); }
};

Detected Detect(Skeleton& sk, const TestImage& directions) {
  Detected d;
  d.result->CandidateCount = 77;  // overwritten
  DetectMinutiae(sk.width(), sk.height(), sk.get(), directions.get(), d.result.get(),
                 kMinutiaTraceLength, kMinEndingTrace, kMinBranchTrace, kVariationRadius);
  return d;
}

Detected Detect(Skeleton& sk) {
  TestImage directions(sk.width(), sk.height(), 0);
  return Detect(sk, directions);
}

TEST(DetectMinutiae, LineOf30PixelsGivesTwoEndingsPointingInward) {
  Skeleton sk(50, 20);
  sk.Line(10, 10, 39, 10);
  const Detected d = Detect(sk);
  ASSERT_EQ(d->CandidateCount, 2);
  EXPECT_EQ(d->CandX[0], 10);
  EXPECT_EQ(d->CandAngle[0], 180);  // towards increasing x
  EXPECT_EQ(d->CandX[1], 39);
  EXPECT_EQ(d->CandAngle[1], 0);
  EXPECT_EQ(d->CandType[0], 0);
  EXPECT_EQ(d->CandVariation[0], 0);
}

TEST(DetectMinutiae, LineOf12PixelsGivesShortRidgeMarks) {
  Skeleton sk(50, 20);
  sk.Line(10, 10, 21, 10);
  const Detected d = Detect(sk);
  ASSERT_EQ(d->CandidateCount, 2);
  EXPECT_EQ(d->CandAngle[0], kShortRidgeMark);
  EXPECT_EQ(d->CandAngle[1], kShortRidgeMark);
}

TEST(DetectMinutiae, BifurcationTakesTheMeanOfItsTwoClosestBranches) {
  // Branches at 270 (up), 45 (down-left) and 135 (down-right): the closest pair is 45 / 135.
  Skeleton sk(80, 80);
  sk.Line(40, 40, 40, 10).Line(39, 41, 10, 70).Line(41, 41, 70, 70);
  const auto before = sk.Pixels();
  const Detected d = Detect(sk);
  EXPECT_EQ(sk.Pixels(), before);  // tracing restores the skeleton exactly
  ASSERT_EQ(d->CandidateCount, 4);
  EXPECT_EQ(d->CandY[1], 40);
  EXPECT_EQ(d->CandType[1], 1);
  EXPECT_EQ(d->CandAngle[1], 90);
}

TEST(DetectMinutiae, SpurGivesShortBranchAndShortRidgeMarks) {
  Skeleton sk(70, 40);
  sk.Line(8, 30, 60, 30).Line(30, 27, 30, 29);
  const auto before = sk.Pixels();
  const Detected d = Detect(sk);
  EXPECT_EQ(sk.Pixels(), before);
  ASSERT_EQ(d->CandidateCount, 4);
  EXPECT_EQ(d->CandY[0], 27);  // the spur's end comes first in row order
  EXPECT_EQ(d->CandAngle[0], kShortRidgeMark);
  EXPECT_EQ(d->CandX[2], 30);
  EXPECT_EQ(d->CandAngle[2], kShortBranchMark);
  EXPECT_EQ(d->CandAngle[1], 180);
  EXPECT_EQ(d->CandAngle[3], 0);
}

TEST(DetectMinutiae, CrossingIsNoCandidate) {
  Skeleton sk(60, 60);
  sk.Line(5, 30, 55, 30).Line(30, 5, 30, 55);
  const Detected d = Detect(sk);
  EXPECT_EQ(d->CandidateCount, 0);  // four endings within 6 pixels of the edge, no junction
}

TEST(DetectMinutiae, StoresOnlyMoreThanSixPixelsInside) {
  Skeleton apart(60, 60);
  apart.Line(6, 10, 6, 50).Line(20, 6, 50, 6).Line(30, 20, 30, 53).Line(40, 20, 40, 54);
  const Detected d = Detect(apart);
  // Column 6 and row 6 are not stored; (30, 53) is (53 < 60 - 6), (40, 54) is not.
  ASSERT_EQ(d->CandidateCount, 3);
  EXPECT_EQ(d->CandX[0], 30);
  EXPECT_EQ(d->CandX[1], 40);
  EXPECT_EQ(d->CandY[2], 53);
  Skeleton seven(60, 60);
  seven.Line(7, 10, 7, 50);
  EXPECT_EQ(Detect(seven)->CandX[0], 7);
}

TEST(DetectMinutiae, BackgroundPixelsAreSkipped) {
  Skeleton sk(50, 20);
  sk.Line(10, 10, 39, 10);
  TestImage directions(50, 20, 0);
  directions.at(10, 10) = 0x80;
  const Detected d = Detect(sk, directions);
  ASSERT_EQ(d->CandidateCount, 1);
  EXPECT_EQ(d->CandX[0], 39);
}

TEST(DetectMinutiae, The1001stCandidateIsDropped) {
  // Two-pixel segments every second column, five pixels apart in rows: 1104 endings.
  Skeleton sk(200, 60);
  for (int y = 8; y < 50; y += 4) {
    for (int x = 8; x <= 190; x += 2) sk.Line(x, y, x, y + 1);
  }
  const Detected d = Detect(sk);
  ASSERT_EQ(d->CandidateCount, kFeatureCapacity);
  // 92 endings a row: ten full rows, then 80 of the tops of row 28.
  EXPECT_EQ(d->CandX[999], 8 + 79 * 2);
  EXPECT_EQ(d->CandY[999], 28);
}

TEST(DirectionVariation, ScalesFromEqualToPerpendicular) {
  TestImage directions(30, 30, 10);
  EXPECT_EQ(DirectionVariation(30, 30, directions.get(), 15, 15, 10), 0);
  TestImage perpendicular(30, 30, 70);
  perpendicular.at(15, 15) = 10 | 0x80;  // the background bit is not part of the code
  EXPECT_EQ(DirectionVariation(30, 30, perpendicular.get(), 15, 15, 10), 255 * 440 / 441);
  perpendicular.at(15, 15) = 127;
  EXPECT_EQ(DirectionVariation(30, 30, perpendicular.get(), 15, 15, 10), 0);
}

TEST(DirectionVariation, FoldsAcrossZeroAndClipsAtTheCorner) {
  // Codes 118 and 2 are 4 steps apart; pixels without a direction are left out.
  TestImage directions(30, 30, 118);
  directions.at(0, 0) = 2;
  directions.at(1, 0) = 127;
  // Window clipped to 11 x 11 = 121 pixels, 120 with a direction, 119 of them 4 off.
  EXPECT_EQ(DirectionVariation(30, 30, directions.get(), 0, 0, 10), 119 * 4 * 255 / (120 * 60));
}

}  // namespace
}  // namespace ridgeline
