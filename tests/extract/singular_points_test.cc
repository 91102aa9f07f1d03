#include "extract/singular_points.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/folded_angle.h"
#include "core/int_math.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

// DirectionCode of half the polar angle of (dx, dy) round a centre, times sign: a loop for +1,
// a delta for -1 (rows grow downwards).
uint8_t HalfAngleCode(double dx, double dy, int sign) {
  const double degrees = std::atan2(dy, dx) * 180.0 / M_PI * sign / 2.0;
  int code = static_cast<int>(std::lround(degrees / 1.5)) % 120;
  if (code < 0) code += 120;
  return static_cast<uint8_t>(code);
}

SingularPointList EmptyList() {
  SingularPointList list;
  std::memset(&list, 0, sizeof(list));
  return list;
}

TEST(PoincareIndex, HalfAndFullTurns) {
  const uint8_t loop[8] = {0, 15, 30, 45, 60, 75, 90, 105};
  EXPECT_EQ(PoincareIndex(8, loop), 1);
  const uint8_t delta[8] = {105, 90, 75, 60, 45, 30, 15, 0};
  EXPECT_EQ(PoincareIndex(8, delta), -1);
  uint8_t whorl[12];
  for (int i = 0; i < 12; ++i) whorl[i] = static_cast<uint8_t>((i * 20) % 120);
  EXPECT_EQ(PoincareIndex(12, whorl), 2);
  const uint8_t flat[12] = {37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37};
  EXPECT_EQ(PoincareIndex(12, flat), 0);
}

TEST(PoincareIndex, StepOfExactlySixtyIsAmbiguous) {
  // The same turning ring as the loop, with one step widened to 60 codes.
  const uint8_t ring[8] = {0, 15, 30, 90, 100, 105, 110, 115};
  EXPECT_EQ(PoincareIndex(8, ring), 0);
  const uint8_t wrapped[8] = {60, 15, 30, 45, 50, 55, 58, 0};  // last -> first is 60 apart
  EXPECT_EQ(PoincareIndex(8, wrapped), 0);
}

TEST(PoincareIndex, UndefinedCodeTakesPartWithItsValue) {
  // Skipping the 127 would leave a clean loop; walked as the code 127 it turns the ring back
  // (steps 15, 15, 15, 15, -38, -52, 15, 15: sum 0).
  const uint8_t loop_with_hole[8] = {0, 15, 30, 45, 127, 75, 90, 105};
  EXPECT_EQ(PoincareIndex(8, loop_with_hole), 0);
}

// A block map with a loop (sign +1) or delta (-1) centred on block (cx, cy).
TestImage SingularMap(int cols, int rows, int cx, int cy, int sign) {
  return TestImage(cols, rows,
                   [&](int x, int y) { return HalfAngleCode(x - cx + 0.01, y - cy + 0.01, sign); });
}

TEST(FindSingularCandidates, UniformFieldHasNone) {
  TestImage map(12, 12, uint8_t{40});
  SingularPointList candidates = EmptyList();
  candidates.Count = 7;
  FindSingularCandidates(12, 12, map.get(), &candidates);
  EXPECT_EQ(candidates.Count, 0);
}

TEST(FindSingularCandidates, FindsLoopAndDeltaWithTheirClass) {
  for (int sign : {1, -1}) {
    TestImage map = SingularMap(11, 11, 5, 5, sign);
    SingularPointList candidates = EmptyList();
    FindSingularCandidates(11, 11, map.get(), &candidates);
    ASSERT_GE(candidates.Count, 1) << sign;
    bool centre = false;
    for (int i = 0; i < candidates.Count; ++i) {
      EXPECT_EQ(candidates.Type[i], sign > 0 ? 1 : 255);
      EXPECT_EQ(candidates.Direction[i], -1);
      EXPECT_GE(candidates.X[i], 2);
      EXPECT_LE(candidates.X[i], 8);
      centre |= candidates.X[i] == 5 && candidates.Y[i] == 5;
    }
    EXPECT_TRUE(centre) << sign;
  }
}

TEST(FindSingularCandidates, BackgroundInRingsExcludesButBlockItselfDoesNot) {
  TestImage map = SingularMap(11, 11, 5, 5, 1);
  map.at(5, 5) = 255;
  SingularPointList candidates = EmptyList();
  FindSingularCandidates(11, 11, map.get(), &candidates);
  bool centre = false;
  for (int i = 0; i < candidates.Count; ++i) {
    centre |= candidates.X[i] == 5 && candidates.Y[i] == 5;
  }
  EXPECT_TRUE(centre);

  TestImage holed = SingularMap(11, 11, 5, 5, 1);
  holed.at(7, 4) = 255;  // on the outer ring of (5, 5)
  FindSingularCandidates(11, 11, holed.get(), &candidates);
  for (int i = 0; i < candidates.Count; ++i) {
    EXPECT_FALSE(candidates.X[i] == 5 && candidates.Y[i] == 5);
  }
}

TEST(FindSingularCandidates, KeepsTheFirstHundredInRowOrder) {
  // 12 x 12 loops, one per 5 x 5 cell, give well over 100 candidates.
  constexpr int kCell = 5;
  TestImage map(60, 60, [](int x, int y) {
    return HalfAngleCode(x % kCell - 2 + 0.01, y % kCell - 2 + 0.01, 1);
  });
  SingularPointList candidates = EmptyList();
  FindSingularCandidates(60, 60, map.get(), &candidates);
  ASSERT_EQ(candidates.Count, kSingularCapacity);
  EXPECT_EQ(candidates.Y[0], 2);  // untouched by a write past X
  for (int i = 1; i < kSingularCapacity; ++i) {
    EXPECT_TRUE(candidates.Y[i] > candidates.Y[i - 1] ||
                (candidates.Y[i] == candidates.Y[i - 1] && candidates.X[i] > candidates.X[i - 1]));
  }
}

TEST(DirectionDisagreement, FoldsDifferencesAndSkipsUndefined) {
  TestImage image(9, 9, uint8_t{0});
  EXPECT_EQ(DirectionDisagreement(image.get(), 4, 4), 0);
  image.at(3, 3) = 119;  // one code away across the wrap
  image.at(5, 5) = 60;
  image.at(6, 6) = 127;
  image.at(7, 7) = 90;  // outside the 5 x 5 square
  EXPECT_EQ(DirectionDisagreement(image.get(), 4, 4), 1 + 60);
  image.at(4, 4) = 127;
  EXPECT_EQ(DirectionDisagreement(image.get(), 4, 4), 0);
}

// Candidate list of (block column, block row, type) entries.
SingularPointList Candidates(std::vector<std::vector<int>> entries) {
  SingularPointList list = EmptyList();
  for (const auto& e : entries) {
    list.X[list.Count] = static_cast<int16_t>(e[0]);
    list.Y[list.Count] = static_cast<int16_t>(e[1]);
    list.Direction[list.Count] = -1;
    list.Type[list.Count] = static_cast<uint8_t>(e[2]);
    ++list.Count;
  }
  return list;
}

TEST(RefineSingularPoints, DiagonalNeighboursFormOneGroupTwoApartFormTwo) {
  TestImage image(160, 160, uint8_t{0});
  SingularPointList points = EmptyList();
  SingularPointList diagonal = Candidates({{3, 3, 1}, {4, 4, 1}});
  RefineSingularPoints(160, 160, 16, image.get(), &diagonal, &points);
  EXPECT_EQ(points.Count, 1);
  EXPECT_EQ(diagonal.Type[0], 0);
  EXPECT_EQ(diagonal.Type[1], 0);

  SingularPointList apart = Candidates({{3, 3, 1}, {5, 3, 1}});
  RefineSingularPoints(160, 160, 16, image.get(), &apart, &points);
  EXPECT_EQ(points.Count, 2);

  // A chain joins through its middle member even when listed last.
  SingularPointList chain = Candidates({{3, 3, 1}, {5, 3, 1}, {4, 3, 1}});
  RefineSingularPoints(160, 160, 16, image.get(), &chain, &points);
  EXPECT_EQ(points.Count, 1);
}

TEST(RefineSingularPoints, MixedTypeGroupYieldsNoPointButIsConsumed) {
  TestImage image(160, 160, uint8_t{0});
  SingularPointList points = EmptyList();
  SingularPointList mixed = Candidates({{3, 3, 1}, {4, 3, 255}, {7, 7, 2}});
  RefineSingularPoints(160, 160, 16, image.get(), &mixed, &points);
  ASSERT_EQ(points.Count, 1);
  EXPECT_EQ(points.Type[0], 2);
  for (int i = 0; i < mixed.Count; ++i) EXPECT_EQ(mixed.Type[i], 0);
}

TEST(RefineSingularPoints, SecondSearchWindowIsFixedAroundFirstBest) {
  // A flat field: every disagreement in the block is 0, so the first search keeps the block's
  // top-left pixel (48, 48). One odd pixel within 16 pixels of it moves the point there; one
  // beyond does not.
  TestImage near(160, 160, uint8_t{0});
  near.at(38, 40) = 60;
  SingularPointList points = EmptyList();
  SingularPointList one = Candidates({{3, 3, 1}});
  RefineSingularPoints(160, 160, 16, near.get(), &one, &points);
  ASSERT_EQ(points.Count, 1);
  EXPECT_EQ(points.X[0], 38);
  EXPECT_EQ(points.Y[0], 40);

  TestImage far(160, 160, uint8_t{0});
  far.at(48, 29) = 60;  // 19 rows up: its square reaches row 31 only
  one = Candidates({{3, 3, 1}});
  RefineSingularPoints(160, 160, 16, far.get(), &one, &points);
  ASSERT_EQ(points.Count, 1);
  EXPECT_EQ(points.X[0], 48);
  EXPECT_EQ(points.Y[0], 48);
}

TEST(RefineSingularPoints, UndefinedPixelNeverBeatsPositiveDisagreement) {
  TestImage image(160, 160, uint8_t{0});
  image.at(52, 52) = 127;
  image.at(56, 56) = 30;
  SingularPointList points = EmptyList();
  SingularPointList one = Candidates({{3, 3, 1}});
  RefineSingularPoints(160, 160, 16, image.get(), &one, &points);
  ASSERT_EQ(points.Count, 1);
  EXPECT_EQ(points.X[0], 56);
  EXPECT_EQ(points.Y[0], 56);
}

TEST(SingularDirection, FollowsAUniformField) {
  TestImage horizontal(120, 120, uint8_t{0});
  const int h = SingularDirection(120, 120, horizontal.get(), 60, 60);
  EXPECT_TRUE(h % 180 <= 1) << h;
  // Code 30 runs from upper left to lower right: degrees 135 or 315 in LineAngle's measure.
  TestImage diagonal(120, 120, uint8_t{30});
  const int d = SingularDirection(120, 120, diagonal.get(), 60, 60);
  EXPECT_NEAR(d % 180, 135, 1) << d;
  // Bit 7 (background) is ignored.
  TestImage marked(120, 120, uint8_t{30 | 0x80});
  EXPECT_EQ(SingularDirection(120, 120, marked.get(), 60, 60), d);
}

TEST(SingularDirection, ProbesOutsideTheImageAreSafe) {
  TestImage tiny(5, 5, uint8_t{60});
  const int d = SingularDirection(5, 5, tiny.get(), 2, 2);
  EXPECT_NEAR(d % 180, 90, 1) << d;
}

// The refinement as first written: the line of every probe walked anew, each pixel's
// disagreement taken on its own.
namespace reference {

int ProbeScore(int width, int height, const uint8_t* const* image, int row, int column, int dx,
               int dy, int line_code) {
  int x = column + dx;
  int y = row + dy;
  const bool along_x = std::abs(dx) > std::abs(dy);
  const int major = along_x ? std::abs(dx) : std::abs(dy);
  const int major_step = along_x ? (dx > 0 ? -1 : 1) : (dy > 0 ? -1 : 1);
  const int slope = (along_x ? -dy : -dx) * 100 / major;
  int error = 0, sum = 0, count = 0;
  for (int i = 0; i < major; ++i) {
    if (x >= 0 && x < width && y >= 0 && y < height) {
      sum += CodeDistance(image[y][x] & 0x7f, line_code);
      ++count;
    }
    int& minor = along_x ? y : x;
    (along_x ? x : y) += major_step;
    error += slope;
    if (error >= 50) error -= 100, ++minor;
    if (error <= -50) error += 100, --minor;
  }
  return count == 0 ? 60 : sum / count;
}

int SingularDirection(int width, int height, const uint8_t* const* image, int row, int column) {
  int best_score = INT_MAX, best_angle = 0;
  for (int dy = -40; dy <= 40; ++dy) {
    for (int dx = -40; dx <= 40; ++dx) {
      if (std::abs(dx * dx + dy * dy - 1600) >= 40) continue;
      const int angle = LineAngle(column, row, column + dx, row + dy);
      int code = angle * 120 / 180;
      if (code >= 120) code -= 120;
      const int score = ProbeScore(width, height, image, row, column, dx, dy, 120 - code);
      if (score < best_score) best_score = score, best_angle = angle;
    }
  }
  return best_angle;
}

// One group's point: the most disagreeing pixel of its blocks, then of the 33 x 33 window
// round that one, the first strictly greater value winning.
void RefineOne(int width, int height, const uint8_t* const* image, int bx, int by, int* x, int* y,
               int* direction) {
  int best = -1, best_row = 0, best_column = 0;
  auto scan = [&](int y0, int y1, int x0, int x1) {
    for (int r = y0; r < y1; ++r) {
      for (int c = x0; c < x1; ++c) {
        const int d = DirectionDisagreement(image, r, c);
        if (d > best) best = d, best_row = r, best_column = c;
      }
    }
  };
  scan(by * 16, by * 16 + 16, bx * 16, bx * 16 + 16);
  const int cr = best_row, cc = best_column;
  scan(cr - 16, cr + 17, cc - 16, cc + 17);
  *x = best_column;
  *y = best_row;
  *direction = SingularDirection(width, height, image, best_row, best_column);
}

}  // namespace reference

// One isolated candidate block at a time against the reference, and the direction of points
// near every edge (probe lines partly or wholly outside the image).
void ExpectRefinementAsReference(const TestImage& image, std::mt19937& random, int trials) {
  const int w = image.width(), h = image.height();
  for (int t = 0; t < trials; ++t) {
    SingularPointList one = EmptyList();
    one.Count = 1;
    one.X[0] = static_cast<int16_t>(2 + random() % (w / 16 - 4));
    one.Y[0] = static_cast<int16_t>(2 + random() % (h / 16 - 4));
    one.Type[0] = 1;
    const int bx = one.X[0], by = one.Y[0];
    SingularPointList points = EmptyList();
    RefineSingularPoints(w, h, 16, image.get(), &one, &points);
    int x = 0, y = 0, direction = 0;
    reference::RefineOne(w, h, image.get(), bx, by, &x, &y, &direction);
    ASSERT_EQ(points.Count, 1);
    EXPECT_EQ(points.X[0], x) << bx << ", " << by;
    EXPECT_EQ(points.Y[0], y) << bx << ", " << by;
    EXPECT_EQ(points.Direction[0], direction) << bx << ", " << by;
  }
  for (const int row : {0, 1, 39, 40, h / 2, h - 41, h - 40, h - 1}) {
    for (const int column : {0, 2, 39, 40, w / 3, w - 41, w - 40, w - 1}) {
      ASSERT_EQ(SingularDirection(w, h, image.get(), row, column),
                reference::SingularDirection(w, h, image.get(), row, column))
          << column << ", " << row;
    }
  }
}

TEST(RefineSingularPoints, SameAsPixelByPixelOnRandomFields) {
  std::mt19937 random(17);
  // Codes, undefined pixels, and bytes above the codes (bit 7 set, or beyond 119), whose
  // folded differences go negative.
  for (const int side : {96, 133, 200}) {
    const TestImage image(side, side + 7, [&](int, int) {
      const uint32_t r = random() % 16;
      if (r == 0) return kNoDirection;
      if (r == 1) return static_cast<uint8_t>(random() & 0xff);
      return static_cast<uint8_t>(random() % 120);
    });
    ExpectRefinementAsReference(image, random, 20);
  }
}

TEST(RefineSingularPoints, SameAsPixelByPixelOnGoldenDirectionImages) {
  const auto images = testing::GoldenStageImages("14_pixel_direction_image.pgm");
  if (images.empty()) GTEST_SKIP() << "no golden data";
  std::mt19937 random(18);
  for (const auto& image : images) ExpectRefinementAsReference(*image, random, 12);
}

}  // namespace
}  // namespace ridgeline
