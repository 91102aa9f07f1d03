#include <gtest/gtest.h>

#include "match/match_coord.h"
#include "tests/support/features.h"

namespace ridgeline {
namespace {

using testing::TestFeatureSet;

TEST(RotateFeatureSet180, TurnsAnglesCoordinatesAndReversesOrder) {
  TestFeatureSet source(10, 8);
  source.Add({10, 20, 0, 5, 1});
  source.Add({150, 100, 180, 6, 0});
  source.Add({40, 7, 181, 7, 1});
  source.Add({1, 127, 359, 8, 0});
  TestFeatureSet turned(1, 1);
  RotateFeatureSet180(turned.get(), *source);
  const FeatureSet& t = *turned;
  ASSERT_EQ(t.Count, 4);
  EXPECT_EQ(t.BlockCols, 10);
  EXPECT_EQ(t.BlockRows, 8);
  // Destination j is source 3 - j.
  EXPECT_EQ(t.X[3], 150);
  EXPECT_EQ(t.Y[3], 108);
  EXPECT_EQ(t.Angle[3], 180);
  EXPECT_EQ(t.Variation[3], 5);
  EXPECT_EQ(t.Type[3], 1);
  EXPECT_EQ(t.Angle[2], 360);
  EXPECT_EQ(t.X[2], 10);
  EXPECT_EQ(t.Y[2], 28);
  EXPECT_EQ(t.Angle[1], 1);
  EXPECT_EQ(t.Angle[0], 179);
  EXPECT_EQ(t.X[0], 159);
  EXPECT_EQ(t.Y[0], 1);
}

TEST(RotateFeatureSet180, MirrorsTheGridCellsAndLeavesTheRestOfTheMap) {
  TestFeatureSet source(3, 2);
  FeatureSet* s = source.get();
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 3; ++c) s->DirectionMap[r][c] = static_cast<uint8_t>(10 * r + c);
  }
  TestFeatureSet turned(1, 1);
  turned.get()->DirectionMap[5][5] = 77;
  RotateFeatureSet180(turned.get(), *source);
  const FeatureSet& t = *turned;
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(t.DirectionMap[r][c], s->DirectionMap[1 - r][2 - c]);
  }
  EXPECT_EQ(t.DirectionMap[5][5], 77);
  EXPECT_EQ(t.DirectionMap[0][3], 0xFF);  // outside the source grid: left as it was
}

TEST(RotateFeatureSet180, InPlaceEqualsCopyAndTwiceIsIdentityWithinTheGrid) {
  TestFeatureSet source(20, 24);
  testing::MakeSyntheticPrint(7, 41, 20, 24, 10, &source);
  source.get()->Angle[0] = 0;
  source.get()->Angle[1] = 180;
  TestFeatureSet copy(1, 1);
  RotateFeatureSet180(copy.get(), *source);
  TestFeatureSet in_place(20, 24);
  testing::MakeSyntheticPrint(7, 41, 20, 24, 10, &in_place);
  in_place.get()->Angle[0] = 0;
  in_place.get()->Angle[1] = 180;
  RotateFeatureSet180(in_place.get(), *in_place);
  for (int j = 0; j < 41; ++j) {
    EXPECT_EQ(copy.get()->X[j], in_place.get()->X[j]);
    EXPECT_EQ(copy.get()->Angle[j], in_place.get()->Angle[j]);
  }
  for (int r = 0; r < 24; ++r) {
    for (int c = 0; c < 20; ++c) {
      EXPECT_EQ(copy.get()->DirectionMap[r][c], in_place.get()->DirectionMap[r][c]);
    }
  }

  RotateFeatureSet180(in_place.get(), *in_place);
  const FeatureSet& back = *in_place;
  const FeatureSet& original = *source;
  for (int j = 0; j < 41; ++j) {
    EXPECT_EQ(back.X[j], original.X[j]);
    EXPECT_EQ(back.Y[j], original.Y[j]);
    EXPECT_EQ(back.Variation[j], original.Variation[j]);
    if (original.Angle[j] != 0) {
      EXPECT_EQ(back.Angle[j], original.Angle[j]) << j;
    }
  }
  EXPECT_EQ(back.Angle[0], 360);  // 0 -> 180 -> 360, the same matcher direction
  EXPECT_EQ(back.Angle[1], 180);
  for (int r = 0; r < 24; ++r) {
    for (int c = 0; c < 20; ++c) EXPECT_EQ(back.DirectionMap[r][c], original.DirectionMap[r][c]);
  }
}

}  // namespace
}  // namespace ridgeline
