#include "extract/features_extraction.h"

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "core/engine_params.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

class Features {
 public:
  Features() { AllocFeatureRecords(&set, &summary); }
  ~Features() { FreeFeatureRecords(set, summary); }
  FeatureSet* set = nullptr;
  FeatureSummary* summary = nullptr;
};

// A result whose 10 x 10 block grid is all defined (code 30) and whose candidates are given.
std::unique_ptr<ExtractionResult> ResultWith(std::initializer_list<std::pair<int, int>> points) {
  auto r = std::make_unique<ExtractionResult>();
  std::memset(r->DirectionMap, kBackground, sizeof(r->DirectionMap));
  r->BlockCols = 10;
  r->BlockRows = 10;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) r->DirectionMap[y][x] = 30;
  for (auto [x, y] : points) {
    const int i = r->CandidateCount++;
    r->CandX[i] = static_cast<int16_t>(x);
    r->CandY[i] = static_cast<int16_t>(y);
    r->CandAngle[i] = static_cast<int16_t>(i);
  }
  return r;
}

int Finish(const ExtractionResult& r, Features& f) {
  EngineParams params = DefaultEngineParams();
  return FinishFeatureExtraction(&params, 160, 160, r, 0, f.set, f.summary, 0);
}

TEST(FeaturesExtraction, QualityMappingAndRamp) {
  EXPECT_EQ(MapQuality(50), 80);
  EXPECT_EQ(MapQuality(51), 81);
  EXPECT_EQ(MapQuality(49), 78);
  EXPECT_EQ(MapQuality(99), 100);
  EXPECT_EQ(MapQuality(100), 100);
  EXPECT_EQ(MapQuality(0), 0);
  EXPECT_EQ(MapQuality(-30), 0);
  EXPECT_EQ(Ramp20(40, 40, 80), 0);
  EXPECT_EQ(Ramp20(80, 40, 80), 20);
  EXPECT_EQ(Ramp20(59, 40, 80), 9);
  EXPECT_EQ(MinimumMinutiae(0), 10);
  EXPECT_EQ(MinimumMinutiae(1), 12);
  EXPECT_EQ(MinimumMinutiae(7), 15);
}

TEST(FeaturesExtraction, RejectedSizesLeaveRecordsUntouched) {
  EngineParams params = DefaultEngineParams();
  for (auto [w, h] : {std::pair{33, 34}, {34, 33}, {1025, 500}, {500, 1025}}) {
    Features f;
    f.set->Count = 4242;
    f.summary->Quality = 77;
    testing::TestImage img(w, h, 128);
    EXPECT_EQ(FeaturesExtractionEx(&params, w, h, img.get(), 100, f.set, f.summary, 1024, 3), 0);
    EXPECT_EQ(f.set->Count, 4242);
    EXPECT_EQ(f.summary->Quality, 77);
  }
}

TEST(FeaturesExtraction, CrowdedCandidatesAreDropped) {
  Features f;
  // Two candidates 6 apart keep each other; 7 apart are no neighbours.
  Finish(*ResultWith({{50, 50}, {56, 50}, {100, 100}, {107, 100}}), f);
  EXPECT_EQ(f.set->Count, 4);
  // A third candidate close to both gives each two neighbours: all three go.
  Finish(*ResultWith({{50, 50}, {56, 50}, {53, 53}, {120, 120}}), f);
  ASSERT_EQ(f.set->Count, 1);
  EXPECT_EQ(f.set->X[0], 120);
  EXPECT_EQ(f.set->Angle[0], 3);  // candidate order kept
}

TEST(FeaturesExtraction, CandidatesOnUnusableBlocksAreDropped) {
  auto r = ResultWith({{20, 20}, {40, 40}, {60, 60}, {170, 20}, {-1, 5}});
  r->DirectionMap[2][2] = kNoDirection;  // (40, 40)
  r->DirectionMap[3][3] = kBackground;   // (60, 60)
  Features f;
  Finish(*r, f);
  ASSERT_EQ(f.set->Count, 1);
  EXPECT_EQ(f.set->X[0], 20);
}

TEST(FeaturesExtraction, FewMinutiaeGiveQualityZeroAndResultZero) {
  Features f;
  auto seven =
      ResultWith({{20, 20}, {40, 20}, {60, 20}, {80, 20}, {100, 20}, {120, 20}, {140, 20}});
  EXPECT_EQ(Finish(*seven, f), 0);
  EXPECT_EQ(f.set->Count, 7);
  EXPECT_EQ(f.summary->Quality, 0);
  auto twelve = ResultWith({{20, 20},
                            {40, 20},
                            {60, 20},
                            {80, 20},
                            {100, 20},
                            {120, 20},
                            {140, 20},
                            {20, 60},
                            {40, 60},
                            {60, 60},
                            {80, 60},
                            {100, 60}});
  EXPECT_EQ(Finish(*twelve, f), 1);
}

TEST(FeaturesExtraction, UndefinedBlocksCountAsForegroundButNotInterior) {
  Features f;
  auto r = ResultWith({});
  Finish(*r, f);
  const QualityScore all = ScoreQuality(*f.set, *f.summary, 0);
  EXPECT_EQ(all.F, 100);
  EXPECT_EQ(all.N, 64);  // the 8 x 8 interior of a 10 x 10 grid
  f.set->DirectionMap[5][5] = kNoDirection;
  EXPECT_EQ(ScoreQuality(*f.set, *f.summary, 0).F, 100);
  f.set->DirectionMap[5][5] = kBackground;
  const QualityScore holed = ScoreQuality(*f.set, *f.summary, 0);
  EXPECT_EQ(holed.F, 99);
  EXPECT_EQ(holed.N, 64 - 5);  // the hole and its four neighbours
  // A singular point removes the blocks within squared distance 4 of its block.
  f.set->DirectionMap[5][5] = 30;
  f.summary->Count = 1;
  f.summary->X[0] = 5 * 16 + 3;
  f.summary->Y[0] = 5 * 16 + 9;
  EXPECT_EQ(ScoreQuality(*f.set, *f.summary, 0).N, 64 - 13);
}

}  // namespace
}  // namespace ridgeline
