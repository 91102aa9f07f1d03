#include "extract/ridge_trace.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "extract/step_line.h"
#include "tests/support/skeletons.h"

namespace ridgeline {
namespace {

using testing::Skeleton;

std::vector<std::pair<int, int>> Walk(int x1, int y1, int x2, int y2) {
  std::vector<std::pair<int, int>> points;
  StepLine(x1, y1, x2, y2, [&](int x, int y) { points.emplace_back(x, y); });
  return points;
}

TEST(StepLine, ErrorOfFiftyStepsUpAndBackAtOnce) {
  EXPECT_EQ(Walk(0, 0, 4, 2), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
}

TEST(StepLine, TieWalksAlongYAndZeroStepVisitsNothing) {
  EXPECT_EQ(Walk(0, 0, 3, 3), (std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {2, 2}}));
  EXPECT_EQ(Walk(0, 0, -2, 2), (std::vector<std::pair<int, int>>{{0, 0}, {-1, 1}}));
  EXPECT_TRUE(Walk(5, 5, 5, 5).empty());
}

// Every drawing and path test relies on the walk staying between its end points.
TEST(StepLine, StaysInsideTheBoundingBoxWithOnePixelPerMajorStep) {
  for (int dx = -16; dx <= 16; ++dx) {
    for (int dy = -16; dy <= 16; ++dy) {
      const auto points = Walk(0, 0, dx, dy);
      ASSERT_EQ(static_cast<int>(points.size()), std::max(std::abs(dx), std::abs(dy)));
      for (auto [x, y] : points) {
        EXPECT_TRUE(x >= std::min(0, dx) && x <= std::max(0, dx)) << dx << "," << dy;
        EXPECT_TRUE(y >= std::min(0, dy) && y <= std::max(0, dy)) << dx << "," << dy;
      }
    }
  }
}

TEST(CrossingNumber, TellsEndingsLinesJunctionsAndCrossings) {
  Skeleton sk(9, 9);
  sk.Line(1, 4, 7, 4);  // horizontal line
  const ImageView v = sk.view();
  EXPECT_EQ(CrossingNumber(v, 1, 4), 1);  // its end
  EXPECT_EQ(CrossingNumber(v, 4, 4), 2);  // its middle
  sk.Line(4, 1, 4, 3);
  EXPECT_EQ(CrossingNumber(v, 4, 4), 3);  // T junction
  sk.Line(4, 5, 4, 7);
  EXPECT_EQ(CrossingNumber(v, 4, 4), 4);  // crossing
  EXPECT_EQ(CrossingNumber(v, 2, 2), 0);  // nothing around
  // Adjacent neighbours form one run, not two.
  Skeleton corner(5, 5);
  corner.at(2, 1) = testing::kRidge;
  corner.at(3, 1) = testing::kRidge;
  EXPECT_EQ(CrossingNumber(corner.view(), 2, 2), 1);
}

TEST(TraceRidge, FullTraceStopsOnThePixelBeyondTheLastWhitened) {
  Skeleton sk(40, 5);
  sk.Line(2, 2, 35, 2);
  const auto before = sk.Pixels();
  const RidgeTrace t = TraceRidge(sk.view(), 2, 2, 20);
  EXPECT_EQ(t.steps, 20);
  EXPECT_EQ(t.x, 22);
  EXPECT_EQ(t.y, 2);
  EXPECT_EQ(sk.at(21, 2), testing::kPaper);  // traced pixels stay white
  EXPECT_EQ(sk.at(22, 2), testing::kRidge);
  RestoreRidge(sk.view(), t);
  EXPECT_EQ(sk.Pixels(), before);
}

TEST(TraceRidge, StopsAtTheRidgeEndAndAtJunctions) {
  Skeleton sk(20, 9);
  sk.Line(2, 4, 8, 4);
  RidgeTrace t = TraceRidge(sk.view(), 2, 4, 20);
  // The last pixel has no black neighbour once its predecessor is white: crossing number 0.
  EXPECT_EQ(t.steps, 6);
  EXPECT_EQ(t.stop_crossing, 0);
  EXPECT_EQ(t.x, 8);
  RestoreRidge(sk.view(), t);
  sk.Line(8, 1, 8, 7);  // the ridge now runs into a junction at (8, 4)
  t = TraceRidge(sk.view(), 2, 4, 20);
  // Seen from a whitened arm, a junction of three has crossing number 2.
  EXPECT_EQ(t.steps, 6);
  EXPECT_EQ(t.stop_crossing, 2);
  EXPECT_EQ(t.x, 8);
}

// A ridge that runs into the frame stops there without reading a pixel outside the image (the
// sanitizer build checks the reads).
TEST(TraceRidge, StopsAtTheFrame) {
  Skeleton sk(12, 5);
  sk.Line(5, 2, 11, 2);  // reaches the last column
  RidgeTrace t = TraceRidge(sk.view(), 5, 2, 20);
  EXPECT_EQ(t.stop_crossing, kStoppedAtFrame);
  EXPECT_EQ(t.steps, 6);
  EXPECT_EQ(t.x, 11);
  RestoreRidge(sk.view(), t);
  sk.Line(0, 0, 0, 4);
  t = TraceRidge(sk.view(), 0, 2, 20);
  EXPECT_EQ(t.steps, 0);
  EXPECT_EQ(t.stop_crossing, kStoppedAtFrame);
}

}  // namespace
}  // namespace ridgeline
