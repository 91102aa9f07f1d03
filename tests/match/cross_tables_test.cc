#include "match/cross_tables.h"

#include <gtest/gtest.h>

#include "match/pair_tables.h"
#include "tests/support/features.h"
#include "tests/support/match_work.h"

namespace ridgeline {
namespace {

using testing::OwnedMatchWork;
using testing::TestFeatureSet;

// A minutia 0 has Angle 0 (direction 0); B minutia k has direction = rotations[k].
void BuildWithRotations(const int (&rotations)[6], MatchWork* work, int variation_b = 0,
                        int type_b = 0) {
  TestFeatureSet a;
  a.Add({20, 20, 0, 0, 0});
  TestFeatureSet b;
  for (int k = 0; k < 6; ++k) {
    const int angle = rotations[k] == 0 ? 0 : 360 - rotations[k];
    b.Add({20 + 20 * k, 40, angle, variation_b, type_b});
  }
  BuildPairTables(work, MatchSide::kA, *a);
  BuildPairTables(work, MatchSide::kB, *b);
  BuildCrossTables(work);
}

TEST(BuildCrossTables, WeightIsZeroStrictlyInsideTheRotationBand) {
  OwnedMatchWork work;
  const int rotations[6] = {0, 110, 111, 249, 250, 359};
  BuildWithRotations(rotations, work.get());
  const CrossTables& x = work->cross;
  for (int k = 0; k < 6; ++k) EXPECT_EQ(x.rotation[0][k], rotations[k]);
  EXPECT_EQ(x.weight[0][0], 1000);
  EXPECT_EQ(x.weight[0][1], 1000);
  EXPECT_EQ(x.weight[0][2], 0);
  EXPECT_EQ(x.weight[0][3], 0);
  EXPECT_EQ(x.weight[0][4], 1000);
  EXPECT_EQ(x.weight[0][5], 1000);
  // Pair voting reads a pair outside the band as a rotation no test accepts.
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(x.vote_rotation[0][k], x.weight[0][k] != 0 ? rotations[k] : kNoVoteRotation) << k;
  }
}

TEST(BuildCrossTables, WeightFollowsVariationAndType) {
  OwnedMatchWork work;
  const int rotations[6] = {0, 0, 0, 0, 0, 0};
  BuildWithRotations(rotations, work.get(), 29, 1);
  // Variation difference 29 weighs 4; a type mismatch multiplies by 8 instead of 10.
  EXPECT_EQ(work->cross.weight[0][0], 32);
  BuildWithRotations(rotations, work.get(), 30, 0);
  EXPECT_EQ(work->cross.weight[0][0], 0);
  EXPECT_EQ(work->cross.vote_rotation[0][0], kNoVoteRotation);
}

}  // namespace
}  // namespace ridgeline
