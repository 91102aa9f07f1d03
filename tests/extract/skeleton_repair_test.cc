#include "extract/skeleton_repair.h"

#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/skeletons.h"

namespace ridgeline {
namespace {

using testing::kPaper;
using testing::kRidge;
using testing::Skeleton;
using testing::TestImage;

// Runs the gap bridging over sk with an all-foreground direction image.
int Bridge(Skeleton& sk) {
  TestImage directions(sk.width(), sk.height(), 0);
  return BridgeRidgeGaps(sk.width(), sk.height(), sk.get(), directions.get(), kBridgeSearchRadius);
}

void Clean(Skeleton& sk) {
  TestImage directions(sk.width(), sk.height(), 0);
  CleanBifurcations(sk.width(), sk.height(), sk.get(), directions.get(), kShortBranchLength,
                    kJunctionBridgeLength);
}

TEST(BridgeRidgeGaps, JoinsCollinearPiecesAcrossAFivePixelGap) {
  Skeleton sk(60, 20);
  sk.Line(5, 10, 20, 10).Line(26, 10, 45, 10);
  EXPECT_EQ(Bridge(sk), 1);
  Skeleton want(60, 20);
  want.Line(5, 10, 45, 10);
  EXPECT_EQ(sk.DiffFrom(want), "");
}

TEST(BridgeRidgeGaps, RefusesPiecesOffsetSideways) {
  // The line between the endings runs 34 degrees off both ridges.
  Skeleton sk(60, 24);
  sk.Line(5, 10, 20, 10).Line(26, 14, 45, 14);
  const auto before = sk.Pixels();
  EXPECT_EQ(Bridge(sk), 0);
  EXPECT_EQ(sk.Pixels(), before);
}

TEST(BridgeRidgeGaps, ShortRidgeNeitherSearchesNorIsAccepted) {
  // The left piece traces in 3 steps: it starts no search, and the long piece's search refuses
  // it as a partner.
  Skeleton sk(60, 20);
  sk.Line(17, 10, 20, 10).Line(26, 10, 45, 10);
  const auto before = sk.Pixels();
  EXPECT_EQ(Bridge(sk), 0);
  EXPECT_EQ(sk.Pixels(), before);
}

TEST(BridgeRidgeGaps, RefusesAGapCrossedByAnotherRidge) {
  Skeleton sk(60, 22);
  sk.Line(5, 10, 20, 10).Line(26, 10, 45, 10).Line(23, 2, 23, 19);
  const auto before = sk.Pixels();
  EXPECT_EQ(Bridge(sk), 0);
  EXPECT_EQ(sk.Pixels(), before);
}

TEST(BridgeRidgeGaps, IgnoresBackgroundEndings) {
  Skeleton sk(60, 20);
  sk.Line(5, 10, 20, 10).Line(26, 10, 45, 10);
  TestImage directions(60, 20, 0x80);
  EXPECT_EQ(BridgeRidgeGaps(60, 20, sk.get(), directions.get(), kBridgeSearchRadius), 0);
}

// Ridges that run into the frame and endings on it stay inside the image (checked under the
// sanitizer) and are left alone.
TEST(BridgeRidgeGaps, RidgesAtTheFrame) {
  Skeleton sk(30, 30);
  sk.Line(0, 5, 20, 5).Line(29, 10, 29, 29).Line(1, 12, 1, 28).Line(10, 29, 20, 29);
  const auto before = sk.Pixels();
  Bridge(sk);
  EXPECT_EQ(sk.Pixels(), before);
}

TEST(PathClearAndDrawLine, EqualPointsAreNeitherClearNorDrawn) {
  Skeleton sk(10, 10);
  EXPECT_FALSE(PathClear(3, 3, 3, 3, sk.view()));
  DrawLine(3, 3, 3, 3, sk.view());
  EXPECT_EQ(sk.CountRidge(), 0);
  DrawLine(1, 1, 5, 3, sk.view());  // the walk (4 pixels) and the end point
  EXPECT_EQ(sk.CountRidge(), 5);
  EXPECT_EQ(sk.at(5, 3), kRidge);
  EXPECT_FALSE(PathClear(1, 5, 5, 1, sk.view()));  // crosses the drawn line
  EXPECT_TRUE(PathClear(1, 1, 1, 8, sk.view()));   // only the start is black
}

BranchSet Trace(Skeleton& sk, int x, int y) {
  BranchSet set;
  TraceBranches(sk.view(), x, y, &set, 1);
  return set;
}

TEST(TraceBranches, RestoresTheSkeletonAndReportsEachBranch) {
  // Free Y: up, down-left, down-right, each longer than 30 points.
  Skeleton sk(80, 80);
  sk.Line(40, 40, 40, 5).Line(39, 41, 5, 75).Line(41, 41, 75, 75);
  const auto before = sk.Pixels();
  const BranchSet set = Trace(sk, 40, 40);
  EXPECT_EQ(sk.Pixels(), before);
  for (const Branch& b : set.Branches) {
    EXPECT_EQ(b.Count, kBranchSteps);
    EXPECT_EQ(b.Status, kBranchFull);
    EXPECT_EQ(b.X[0], 40);
    EXPECT_EQ(b.Y[0], 40);
  }
  EXPECT_EQ(set.Branches[0].Angle, 270);  // north first
  EXPECT_EQ(set.Branches[1].Angle, 135);  // then south-east
  EXPECT_EQ(set.Branches[2].Angle, 45);   // then south-west
  EXPECT_EQ(set.D01, 135);
  EXPECT_EQ(set.D12, 90);
  EXPECT_EQ(set.D02, 135);
}

TEST(TraceBranches, BranchStoppedAtTheFrameIsNeverAJunctionLink) {
  Skeleton sk(40, 40);
  sk.Line(20, 0, 20, 30).Line(5, 6, 35, 6);  // junction at (20, 6); north runs into the frame
  const BranchSet set = Trace(sk, 20, 6);
  const Branch& north = set.Branches[0];
  EXPECT_EQ(north.Count, 5);  // rows 6 .. 2; row 1 is the frame
  EXPECT_EQ(north.Status, kBranchEnded);
  // On the frame itself nothing is traced: no points, no last point, angle of a zero step.
  const BranchSet at_frame = Trace(sk, 20, 1);
  for (const Branch& b : at_frame.Branches) {
    EXPECT_EQ(b.Count, 0);
    EXPECT_EQ(b.Status, kBranchEnded);
    EXPECT_EQ(b.Angle, 270);
  }
}

TEST(JunctionShape, TellsTFromYFromNeither) {
  BranchSet set{};
  auto shape = [&](int d01, int d12, int d02) {
    set.D01 = d01;
    set.D12 = d12;
    set.D02 = d02;
    return JunctionShape(set);
  };
  EXPECT_EQ(shape(180, 90, 90), 1);
  EXPECT_EQ(shape(76, 166, 104), 1);
  EXPECT_EQ(shape(165, 90, 90), 2);   // not straight enough for a T
  EXPECT_EQ(shape(180, 75, 105), 2);  // a leg outside 76..104
  EXPECT_EQ(shape(141, 46, 139), 2);
  EXPECT_EQ(shape(140, 90, 90), -1);  // largest at most 140
  EXPECT_EQ(shape(180, 45, 135), -1);
  EXPECT_EQ(shape(150, 140, 70), -1);
}

TEST(CleanBifurcations, FreeBifurcationIsLeftUnchanged) {
  Skeleton sk(80, 80);
  sk.Line(40, 40, 40, 5).Line(39, 41, 5, 75).Line(41, 41, 75, 75);
  const auto before = sk.Pixels();
  Clean(sk);
  EXPECT_EQ(sk.Pixels(), before);
}

TEST(CleanBifurcations, JunctionOnTheFrameIsLeftUnchanged) {
  Skeleton sk(30, 30);
  sk.Line(3, 1, 17, 1).Line(10, 2, 10, 20);  // junction at (10, 1)
  const auto before = sk.Pixels();
  Clean(sk);
  EXPECT_EQ(sk.Pixels(), before);
}

// A junction A with a tail to the left and a loop to a second junction B: a diagonal up to row
// 17, a straight run to column top_end and a diagonal back down, mirrored below. Each side of
// the loop is traced as top_end - 16 points.
void DrawSmallLoop(Skeleton& sk, int top_end) {
  const int bx = top_end + 3;
  sk.Line(5, 20, 20, 20)
      .Line(21, 19, 23, 17)
      .Line(24, 17, top_end, 17)
      .Line(top_end + 1, 18, top_end + 2, 19)
      .Line(21, 21, 23, 23)
      .Line(24, 23, top_end, 23)
      .Line(top_end + 1, 22, top_end + 2, 21)
      .Line(bx, 20, bx + 16, 20);
}

TEST(CleanBifurcations, SmallLoopLosesItsFirstSideBelowCount20) {
  Skeleton sk(80, 40);
  DrawSmallLoop(sk, 35);  // sides of 19 points
  Clean(sk);
  Skeleton want(80, 40);
  DrawSmallLoop(want, 35);
  for (int x = 21; x <= 37; ++x) {
    for (int y = 17; y <= 19; ++y) want.at(x, y) = kPaper;
  }
  EXPECT_EQ(sk.DiffFrom(want), "");
}

TEST(CleanBifurcations, SmallLoopStaysAtCount20) {
  Skeleton sk(80, 40);
  DrawSmallLoop(sk, 36);  // sides of 20 points
  const auto before = sk.Pixels();
  Clean(sk);
  EXPECT_EQ(sk.Pixels(), before);
}

// Two Y junctions A (30, 30) and B (40, 30) joined by a straight link of 11 points: each has a
// straight arm outwards and an arm that leaves straight down and bends away diagonally, 53
// degrees off the straight arm.
void DrawYBridge(Skeleton& sk, bool with_link) {
  sk.Line(5, 30, 30, 30)
      .Line(30, 31, 30, 33)
      .Line(29, 34, 21, 42)
      .Line(40, 30, 65, 30)
      .Line(40, 31, 40, 33)
      .Line(41, 34, 49, 42);
  if (with_link) sk.Line(31, 30, 39, 30);
}

TEST(CleanBifurcations, ShortBridgeBetweenTwoYJunctionsIsRemoved) {
  Skeleton sk(75, 60);
  DrawYBridge(sk, true);
  Clean(sk);
  Skeleton want(75, 60);
  DrawYBridge(want, false);
  EXPECT_EQ(sk.DiffFrom(want), "");
}

// Two junctions A (30, 40) and B (30, 30 + 10 + link) joined by a vertical link; from each an
// arm runs straight right and another leaves vertically for 3 pixels and then turns diagonal,
// about 48 degrees off the first: the two ridges on each side run side by side.
void DrawLadder(Skeleton& sk, int link_pixels, bool with_link) {
  const int by = 41 + link_pixels;
  sk.Line(30, 37, 30, 40)
      .Line(31, 36, 60, 7)
      .Line(31, 40, 70, 40)
      .Line(30, by, 70, by)
      .Line(30, by + 1, 30, by + 3)
      .Line(31, by + 4, 60, by + 33);
  if (with_link) sk.Line(30, 41, 30, by - 1);
}

TEST(CleanBifurcations, ShortLinkBetweenParallelRidgesIsCut) {
  Skeleton sk(80, 90);
  DrawLadder(sk, 3, true);  // link of 5 points, both junctions included
  Clean(sk);
  Skeleton want(80, 90);
  DrawLadder(want, 3, false);
  EXPECT_EQ(sk.DiffFrom(want), "");
}

TEST(CleanBifurcations, LinkOfSixPointsIsKept) {
  Skeleton sk(80, 90);
  DrawLadder(sk, 4, true);
  const auto before = sk.Pixels();
  Clean(sk);
  EXPECT_EQ(sk.Pixels(), before);
}

// Three junctions A (30, 30), B (38, 30) and C (34, 36) joined in a triangle, each with an arm
// outwards: the triangle becomes three lines meeting at its centroid (34, 32).
TEST(CleanBifurcations, TriangleOfJunctionsMeetsAtItsCentroid) {
  Skeleton sk(80, 80);
  sk.Line(5, 30, 70, 30)  // A's arm, the edge A-B and B's arm
      .Line(30, 31, 30, 32)
      .Line(31, 33, 33, 35)  // A-C
      .Line(38, 31, 38, 32)
      .Line(37, 33, 35, 35)   // B-C
      .Line(34, 36, 34, 70);  // C and its arm
  Clean(sk);
  Skeleton want(80, 80);
  want.Line(5, 30, 31, 30).Line(37, 30, 70, 30).Line(34, 32, 34, 70);
  for (auto [x, y] : {std::pair{32, 31}, {33, 31}, {35, 31}, {36, 31}}) want.at(x, y) = kRidge;
  EXPECT_EQ(sk.DiffFrom(want), "");
}

}  // namespace
}  // namespace ridgeline
