#include "template/template_crop.h"

#include <gtest/gtest.h>

#include "core/engine_params.h"
#include "tests/support/feature_set_fixture.h"

namespace ridgeline {
namespace {

using testing::FeatureRecordsFixture;

void ExpectCellsOutsideGridEmpty(const FeatureRecordsFixture& set) {
  for (int r = 0; r < 64; ++r) {
    for (int c = 0; c < 64; ++c) {
      if (r < set->BlockRows && c < set->BlockCols) continue;
      ASSERT_EQ(set->DirectionMap[r][c], 0xFF) << "row " << r << " col " << c;
    }
  }
}

TEST(CropToBudget, SetThatFitsMovesToTheCornerOfItsNonEmptyBlocks) {
  FeatureRecordsFixture set(10, 10, 0xFF);
  for (int r = 3; r <= 7; ++r)
    for (int c = 2; c <= 5; ++c) set.cell(c, r) = static_cast<uint8_t>(10 * r + c);
  set.Add({40, 60, 90, 3, 1});
  set.Add({90, 120});
  set.AddSingularPoint(50, 70, 1);
  EngineParams params = DefaultEngineParams();
  params.CropX = 5;
  params.CropY = 7;
  CropToBudget(&params, set.get(), set.summary(), 1024);
  EXPECT_EQ(params.CropX, 5 + 32);
  EXPECT_EQ(params.CropY, 7 + 48);
  EXPECT_EQ(set->BlockCols, 4);
  EXPECT_EQ(set->BlockRows, 5);
  EXPECT_EQ(params.TemplateSetting, 5);
  EXPECT_EQ(params.TemplateFlag, 0);
  ASSERT_EQ(set->Count, 2);
  EXPECT_EQ(set.at(0).x, 8);
  EXPECT_EQ(set.at(0).y, 12);
  EXPECT_EQ(set.at(0).angle, 90);
  EXPECT_EQ(set.at(0).type, 1);
  EXPECT_EQ(set.summary()->X[0], 18);
  EXPECT_EQ(set.summary()->Y[0], 22);
  EXPECT_EQ(set->DirectionMap[0][0], 32);
  EXPECT_EQ(set->DirectionMap[4][3], 75);
  ExpectCellsOutsideGridEmpty(set);
}

TEST(CropToBudget, CutsTheLeftFirstWhenAllMarginsAreEqual) {
  // A 4 x 4 box with the minutiae centred on pixel (32, 32): every margin is 32.
  FeatureRecordsFixture set(4, 4);
  set.Add({8, 32});
  set.Add({56, 32});
  set.Add({32, 8});
  set.Add({32, 56});
  EngineParams params = DefaultEngineParams();
  // 4-byte entries need 8 + 16 + 8 = 32 bytes; after one cut 8 + 12 + 6 = 26.
  CropToBudget(&params, set.get(), nullptr, 31);
  EXPECT_EQ(params.TemplateSetting, 4);
  EXPECT_EQ(params.CropX, 16);
  EXPECT_EQ(params.CropY, 0);
  EXPECT_EQ(set->BlockCols, 3);
  EXPECT_EQ(set->BlockRows, 4);
  ASSERT_EQ(set->Count, 3);
  EXPECT_EQ(set.at(0).x, 40);
  ExpectCellsOutsideGridEmpty(set);
}

TEST(CropToBudget, CutsTheTopBeforeTheBottomOnATie) {
  // A 2 x 4 box centred on (16, 32): left and right margins 16, top and bottom 32.
  FeatureRecordsFixture set(2, 4);
  set.Add({16, 8});
  set.Add({16, 56});
  set.Add({8, 32});
  set.Add({24, 32});
  EngineParams params = DefaultEngineParams();
  CropToBudget(&params, set.get(), nullptr, 27);
  EXPECT_EQ(params.CropX, 0);
  EXPECT_EQ(params.CropY, 16);
  EXPECT_EQ(set->BlockRows, 3);
  ASSERT_EQ(set->Count, 3);
  EXPECT_EQ(set.at(0).y, 40);
  ExpectCellsOutsideGridEmpty(set);
}

TEST(CropToBudget, ShrinksTowardTheType1SingularPoint) {
  FeatureRecordsFixture set(8, 1);
  for (int i = 0; i < 8; ++i) set.Add({8 + 16 * i, 8});
  set.AddSingularPoint(120, 8, 1);
  set.AddSingularPoint(8, 8, 2);  // only type 1 counts
  EngineParams params = DefaultEngineParams();
  // 3 blocks and 3 minutiae: 8 + 12 + 2 = 22 bytes.
  CropToBudget(&params, set.get(), set.summary(), 22);
  EXPECT_EQ(params.CropX, 80);
  ASSERT_EQ(set->Count, 3);
  EXPECT_EQ(set.at(0).x, 8);
  EXPECT_EQ(set.summary()->X[0], 40);
}

TEST(CropToBudget, GridWithoutNonEmptyBlockStaysInsideTheMap) {
  // With no non-empty block the box would start beyond the grid (column and row 64 here).
  FeatureRecordsFixture set(64, 64, 0xFF);
  for (int i = 0; i < 200; ++i) set.Add({(i * 97) % 1024, (i * 61) % 1024});
  EngineParams params = DefaultEngineParams();
  CropToBudget(&params, set.get(), nullptr, 1024);
  DropOutsideMinutiae(set.get());
  EXPECT_LE(set->BlockCols, 64);
  EXPECT_LE(set->BlockRows, 64);
  EXPECT_GT(set->Count, 0);
  EXPECT_LE(8 + 5 * set->Count + (set->BlockCols * set->BlockRows + 1) / 2, 1024);
  ExpectCellsOutsideGridEmpty(set);

  FeatureRecordsFixture no_grid(0, 0);
  no_grid.Add({5, 5});
  CropToBudget(&params, no_grid.get(), nullptr, 4);
  DropOutsideMinutiae(no_grid.get());
  EXPECT_EQ(no_grid->Count, 0);
  EXPECT_EQ(no_grid->BlockCols, 0);
}

TEST(CropToBudget, CentreOutsideTheBoxStillEndsWithAnUprightBox) {
  // Every minutia lies above the non-empty rows, so the top margin is negative.
  FeatureRecordsFixture set(10, 40, 0xFF);
  for (int r = 30; r < 40; ++r)
    for (int c = 0; c < 10; ++c) set.cell(c, r) = 20;
  for (int i = 0; i < 100; ++i) set.Add({i, i % 16});
  EngineParams params = DefaultEngineParams();
  CropToBudget(&params, set.get(), nullptr, 20);
  DropOutsideMinutiae(set.get());
  EXPECT_LE(set->BlockCols, 10);
  EXPECT_LE(set->BlockRows, 10);
  EXPECT_GE(params.CropY, 480);
  ExpectCellsOutsideGridEmpty(set);
}

TEST(CropBottomToBudget, RemovesWholeRowsFromTheBottomOnly) {
  FeatureRecordsFixture set(4, 8);
  for (int r = 0; r < 8; ++r) set.Add({8, 8 + 16 * r});
  EngineParams params = DefaultEngineParams();
  // 3 rows of 4 blocks and 3 minutiae with 4-byte entries: 8 + 12 + 6 = 26 bytes.
  CropBottomToBudget(&params, set.get(), nullptr, 26);
  EXPECT_EQ(params.CropX, 0);
  EXPECT_EQ(params.CropY, 0);
  EXPECT_EQ(set->BlockRows, 3);
  ASSERT_EQ(set->Count, 3);
  EXPECT_EQ(set.at(2).y, 40);
  ExpectCellsOutsideGridEmpty(set);
}

TEST(DropOutsideMinutiae, KeepsOnlyMinutiaeOnTheGridInOrder) {
  FeatureRecordsFixture set(2, 3);
  set.Add({-1, 5});
  set.Add({31, 47, 1});
  set.Add({32, 5});
  set.Add({0, 48});
  set.Add({0, -3});
  set.Add({0, 0, 2});
  DropOutsideMinutiae(set.get());
  ASSERT_EQ(set->Count, 2);
  EXPECT_EQ(set.at(0).angle, 1);
  EXPECT_EQ(set.at(1).angle, 2);
}

}  // namespace
}  // namespace ridgeline
