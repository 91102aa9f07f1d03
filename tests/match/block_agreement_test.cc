#include "match/block_agreement.h"

#include <gtest/gtest.h>

#include "match/pair_tables.h"
#include "tests/support/features.h"
#include "tests/support/match_work.h"

namespace ridgeline {
namespace {

using testing::OwnedMatchWork;
using testing::TestFeatureSet;

MatchResult Alignment(int rotation, int tx, int ty) {
  MatchResult r{};
  r.Rotation = rotation;
  r.TX = tx;
  r.TY = ty;
  return r;
}

class BlockAgreementTest : public ::testing::Test {
 protected:
  // A: cols x rows blocks of code_a; B: 4 x 4 blocks of code_b. Codes are 1.5-degree steps.
  int Weigh(int cols_a, int rows_a, uint8_t code_a, uint8_t code_b, const MatchResult& alignment,
            int score = 1000) {
    TestFeatureSet a(cols_a, rows_a, code_a);
    TestFeatureSet b(4, 4, code_b);
    BuildPairTables(work_.get(), MatchSide::kA, *a);
    BuildPairTables(work_.get(), MatchSide::kB, *b);
    return BlockAgreement(work_->a, work_->b, alignment, score);
  }

  OwnedMatchWork work_;
};

TEST_F(BlockAgreementTest, OverlapOfHalfTheLargerAreaLeavesTheScore) {
  // Identity: A blocks land on themselves; B's row 0 and column 0 do not count: 9 of 16.
  EXPECT_EQ(Weigh(4, 4, 0, 0, Alignment(0, 0, 0)), 1000);
}

TEST_F(BlockAgreementTest, QuarterOverlapHalvesTheScore) {
  // Shifted two blocks right and down: A blocks 0..1 x 0..1 land on B 2..3 x 2..3: 4 of 16.
  EXPECT_EQ(Weigh(4, 4, 0, 0, Alignment(0, 32, 32)), 500);
}

TEST_F(BlockAgreementTest, FirstRowAndColumnOfBNeverCount) {
  EXPECT_EQ(Weigh(1, 1, 0, 0, Alignment(0, 0, 0)), 0);
  EXPECT_EQ(Weigh(1, 1, 0, 0, Alignment(0, 16, 0)), 0);
  EXPECT_EQ(Weigh(1, 1, 0, 0, Alignment(0, 0, 16)), 0);
  // Landing on B (1, 1): overlap 1 of max(16, 1) blocks = 6 %, so x 12 / 100.
  EXPECT_EQ(Weigh(1, 1, 0, 0, Alignment(0, 16, 16)), 120);
}

TEST_F(BlockAgreementTest, DirectionsAgreeUpTo30Degrees) {
  EXPECT_EQ(Weigh(4, 4, 0, 20, Alignment(0, 0, 0)), 1000);   // 30 degrees
  EXPECT_EQ(Weigh(4, 4, 0, 21, Alignment(0, 0, 0)), 0);      // 31 degrees
  EXPECT_EQ(Weigh(4, 4, 0, 100, Alignment(0, 0, 0)), 1000);  // 150: folded to 30
}

TEST_F(BlockAgreementTest, RotationTurnsPositionsAndDirections) {
  // 90 degrees: centre (x, y) -> (-y, x); shifted by 64 the 4 x 4 grid lands on itself
  // mirrored, 9 blocks off B's first row and column. Directions 0 turn to 90 (code 60).
  EXPECT_EQ(Weigh(4, 4, 0, 60, Alignment(90, 64, 0)), 1000);
  EXPECT_EQ(Weigh(4, 4, 0, 0, Alignment(90, 64, 0)), 0);
  // 270 is reduced to 90 for directions; 360 reads the tables at 0.
  EXPECT_EQ(Weigh(4, 4, 0, 60, Alignment(270, 0, 64)), 1000);
  EXPECT_EQ(Weigh(4, 4, 0, 0, Alignment(360, 0, 0)), 1000);
}

}  // namespace
}  // namespace ridgeline
