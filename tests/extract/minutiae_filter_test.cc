#include "extract/minutiae_filter.h"

#include <cmath>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/golden_images.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

struct Cand {
  int x;
  int y;
  int angle;
  int type;  // 0 ending, 1 bifurcation
};

// Candidates in the given order (callers list them in row order, as detection stores them).
std::unique_ptr<ExtractionResult> Candidates(std::initializer_list<Cand> list) {
  auto r = std::make_unique<ExtractionResult>();
  for (const Cand& c : list) {
    const int i = r->CandidateCount++;
    r->CandX[i] = static_cast<int16_t>(c.x);
    r->CandY[i] = static_cast<int16_t>(c.y);
    r->CandAngle[i] = static_cast<int16_t>(c.angle);
    r->CandType[i] = static_cast<uint8_t>(c.type);
    r->CandVariation[i] = static_cast<uint8_t>(i);
  }
  return r;
}

class FilterMinutiaeTest : public ::testing::Test {
 protected:
  FilterMinutiaeTest() : grey_(100, 100, 128), directions_(100, 100, 0) {
    InitEngineParams(&params_);
    params_.ContrastCheck = 0;  // each test switches on what it looks at
  }
  void Filter(ExtractionResult* r, int mean_isotropy = 0) {
    FilterMinutiae(params_, 100, 100, params_.ContrastCheck != 0 ? grey_.get() : nullptr,
                   directions_.get(), r, static_cast<uint8_t>(mean_isotropy));
  }
  EngineParams params_{};
  TestImage grey_;
  TestImage directions_;
};

TEST_F(FilterMinutiaeTest, SixCloseCandidatesSurviveSevenAreCrowded) {
  auto six = Candidates({{50, 50, 0, 0},
                         {52, 50, 0, 0},
                         {54, 50, 0, 0},
                         {50, 54, 0, 0},
                         {52, 54, 0, 0},
                         {54, 54, 0, 0}});
  Filter(six.get());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(six->CandAngle[i], 0) << i;
  // The seventh already carries a detection mark; it still crowds the others and is marked too.
  auto seven = Candidates({{50, 50, 0, 0},
                           {52, 50, 0, 0},
                           {54, 50, 0, 0},
                           {50, 54, 0, 0},
                           {52, 54, 0, 0},
                           {54, 54, -20, 0},
                           {56, 54, 0, 0}});
  Filter(seven.get());
  for (int i = 0; i < 7; ++i) EXPECT_EQ(seven->CandAngle[i], kCrowdedMark) << i;
}

TEST_F(FilterMinutiaeTest, CrowdingCountsDistanceBelow15Only) {
  // (50, 50) has five neighbours closer than 15 and one at exactly 15.
  auto r = Candidates({{50, 35, 0, 0},
                       {46, 48, 0, 0},
                       {48, 50, 0, 0},
                       {50, 50, 0, 0},
                       {52, 50, 0, 0},
                       {54, 52, 0, 0},
                       {50, 64, 0, 0}});
  Filter(r.get());
  EXPECT_EQ(r->CandAngle[3], 0);
  EXPECT_EQ(r->CandAngle[6], 0);
}

TEST_F(FilterMinutiaeTest, FacingPairs) {
  auto endings = Candidates({{50, 50, 0, 0}, {54, 50, 180, 0}});
  Filter(endings.get());
  EXPECT_EQ(endings->CandAngle[0], 0);  // endings must be closer than 3
  auto forks = Candidates({{50, 50, 0, 1}, {54, 50, 180, 1}});
  Filter(forks.get());
  EXPECT_EQ(forks->CandAngle[0], kFacingPairMark);
  EXPECT_EQ(forks->CandAngle[1], kFacingPairMark);
  auto close_endings = Candidates({{50, 50, 10, 0}, {52, 50, 200, 0}});
  Filter(close_endings.get());
  EXPECT_EQ(close_endings->CandAngle[1], kFacingPairMark);
  // 0 against 150: |210 - 180| = 30 is not below 28. 0 against 153: 27 is.
  auto wide = Candidates({{50, 50, 0, 1}, {54, 50, 150, 1}, {50, 70, 0, 1}, {54, 70, 153, 1}});
  Filter(wide.get());
  EXPECT_EQ(wide->CandAngle[0], 0);
  EXPECT_EQ(wide->CandAngle[1], 150);
  EXPECT_EQ(wide->CandAngle[2], kFacingPairMark);
  params_.RemoveOpposedPairs = 0;
  auto off = Candidates({{50, 50, 0, 1}, {54, 50, 180, 1}});
  Filter(off.get());
  EXPECT_EQ(off->CandAngle[0], 0);
}

TEST_F(FilterMinutiaeTest, AMarkedCandidateTakesPartInNoLaterPair) {
  // The middle one faces both; it pairs with the first, so the third survives.
  auto r = Candidates({{50, 50, 0, 1}, {53, 50, 180, 1}, {56, 50, 0, 1}});
  Filter(r.get());
  EXPECT_EQ(r->CandAngle[0], kFacingPairMark);
  EXPECT_EQ(r->CandAngle[1], kFacingPairMark);
  EXPECT_EQ(r->CandAngle[2], 0);
}

TEST_F(FilterMinutiaeTest, EdgeMargins) {
  // Size 100: below 5, or with x + 5 (y + 5) above 98, is marked: 5 and 93 survive.
  auto r = Candidates({{50, 4, 0, 0},
                       {20, 5, 0, 0},
                       {4, 40, 0, 0},
                       {93, 40, 0, 0},
                       {94, 60, 0, 0},
                       {50, 93, 0, 0},
                       {30, 94, 0, 0}});
  Filter(r.get());
  const int want[] = {kEdgeMark, 0, kEdgeMark, 0, kEdgeMark, 0, kEdgeMark};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(r->CandAngle[i], want[i]) << i;
}

TEST_F(FilterMinutiaeTest, BackgroundRadiusIsFiveForEndingsThreeForBifurcations) {
  directions_.at(55, 50) |= 0x80;  // 5 to the right of (50, 50) and (50, 70)'s column
  directions_.at(53, 70) |= 0x80;
  auto r = Candidates({{50, 50, 0, 0}, {50, 50, 0, 1}, {50, 70, 0, 1}});
  Filter(r.get());
  EXPECT_EQ(r->CandAngle[0], kEdgeMark);
  EXPECT_EQ(r->CandAngle[1], 0);
  EXPECT_EQ(r->CandAngle[2], kEdgeMark);
}

TEST_F(FilterMinutiaeTest, ContrastTestRunsOnlyBelowIsotropy96) {
  params_.ContrastCheck = 1;  // the grey image is uniform: no contrast anywhere
  auto r = Candidates({{50, 50, 30, 0}});
  Filter(r.get(), 96);
  EXPECT_EQ(r->CandAngle[0], 30);
  Filter(r.get(), 95);
  EXPECT_EQ(r->CandAngle[0], kLowContrastMark);
}

TEST_F(FilterMinutiaeTest, RidgesAcrossThePatchHaveContrast) {
  params_.ContrastCheck = 1;
  // Horizontal ridges of period 6; at direction 0 patch rows run down the image.
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) grey_.at(x, y) = (y / 3) % 2 == 0 ? 0 : 255;
  auto r = Candidates({{50, 50, 0, 0}, {50, 60, 90, 0}});
  Filter(r.get(), 40);
  EXPECT_EQ(r->CandAngle[0], 0);
  EXPECT_EQ(r->CandAngle[1], kLowContrastMark);  // turned along the ridges: nothing across
}

// A patch reaching past the image edge takes white there and reads nothing outside (the
// sanitizer build checks the reads).
TEST_F(FilterMinutiaeTest, PatchReachingPastTheImageReadsNothingOutside) {
  params_.ContrastCheck = 1;
  auto r = Candidates({{5, 50, 90, 0}, {93, 80, 270, 0}});
  Filter(r.get(), 40);
  EXPECT_EQ(r->CandAngle[0], kLowContrastMark);
  EXPECT_EQ(r->CandAngle[1], kLowContrastMark);
}

TEST(PatchLacksContrast, SmoothingCopiesTheBorderFromInside) {
  Patch patch;
  Patch work;
  for (int j = 0; j < kPatchSize; ++j)
    for (int k = 0; k < kPatchSize; ++k) patch[j][k] = static_cast<uint8_t>(j * 8 + k);
  const Patch original = patch;
  SmoothPatch(&patch, &work);
  EXPECT_EQ(work, original);
  EXPECT_EQ(patch[1][1], (0 + 1 + 2 + 8 + 9 + 10 + 16 + 17 + 18) / 9);
  EXPECT_EQ(patch[0][1], patch[1][1]);
  EXPECT_EQ(patch[29][5], patch[28][5]);
  EXPECT_EQ(patch[7][0], patch[7][1]);
  EXPECT_EQ(patch[7][29], patch[7][28]);
  EXPECT_EQ(patch[0][0], patch[1][1]);
}

TEST(PatchLacksContrast, ThresholdsOnEachHalf) {
  Patch patch{};
  EXPECT_TRUE(PatchLacksContrast(patch));  // uniform
  // Alternating rows of 0 and 10: every q is 10 (the last row 0), a = 10, nothing clipped.
  // Top 1000, bottom 933, left and right 966: all above 130 and 760 in sum.
  for (int j = 0; j < kPatchSize; ++j) patch[j].fill(static_cast<uint8_t>(j % 2 == 0 ? 0 : 10));
  EXPECT_FALSE(PatchLacksContrast(patch));
  // Contrast in the top half only: the bottom mean is below 130.
  for (int j = 15; j < kPatchSize; ++j) patch[j].fill(0);
  EXPECT_TRUE(PatchLacksContrast(patch));
}

TEST(CompactCandidates, KeepsTheOrderOfTheSurvivors) {
  auto r = Candidates({{10, 10, 5, 0}, {11, 10, -15, 1}, {12, 10, 0, 1}, {13, 11, -1, 0}});
  CompactCandidates(r.get());
  ASSERT_EQ(r->CandidateCount, 2);
  EXPECT_EQ(r->CandX[0], 10);
  EXPECT_EQ(r->CandX[1], 12);
  EXPECT_EQ(r->CandAngle[1], 0);
  EXPECT_EQ(r->CandType[1], 1);
  EXPECT_EQ(r->CandVariation[1], 2);
  auto rejected = Candidates({{10, 10, -20, 0}, {11, 10, -666, 1}});
  CompactCandidates(rejected.get());
  EXPECT_EQ(rejected->CandidateCount, 0);
}

TEST(TrigTables100, MatchTheirFormula) {
  for (int t = 0; t < 360; ++t) {
    const double rad = t * 3.14159265358979323846 / 180.0;
    EXPECT_EQ(kSinTable100[t], static_cast<int>(std::floor(100 * std::sin(rad) + 0.5))) << t;
    EXPECT_EQ(kCosTable100[t], static_cast<int>(std::floor(100 * std::cos(rad) + 0.5))) << t;
  }
}

// The sampling as first written: every sample computed in full and tested against the image.
void ReferenceSamplePatch(const TestImage& image, int x, int y, int angle, Patch* patch) {
  const int sn = kSinTable100[angle % 360];
  const int cs = kCosTable100[angle % 360];
  for (int j = 0; j < kPatchSize; ++j) {
    for (int k = 0; k < kPatchSize; ++k) {
      const int px = x + (-15 * cs - 15 * sn + j * sn + k * cs) / 100;
      const int py = y + (15 * sn - 15 * cs + j * cs - k * sn) / 100;
      const bool inside = px >= 0 && px < image.width() && py >= 0 && py < image.height();
      (*patch)[j][k] = inside ? image.get()[py][px] : 255;
    }
  }
}

// Patches wholly inside take the untested 16-bit path; the rest the tested one. Every angle at
// points where the patch just fits, just overhangs each side, and lies far out, on random
// images of odd sizes and on the golden grey images.
void ExpectSamplesMatch(const TestImage& image, int x, int y, int angle, const std::string& what) {
  Patch got, want;
  SamplePatch(image.width(), image.height(), image.get(), x, y, angle, &got);
  ReferenceSamplePatch(image, x, y, angle, &want);
  ASSERT_EQ(got, want) << what << " at " << x << "," << y << " angle " << angle;
}

TEST(SamplePatch, SameAsTheTestedSampling) {
  std::mt19937 rng(21);
  for (int trial = 0; trial < 6; ++trial) {
    const int w = 23 + static_cast<int>(rng() % 60), h = 23 + static_cast<int>(rng() % 50);
    TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(rng()); });
    for (int angle = 0; angle < 400; angle += 1 + trial) {
      for (int x : {-3, 0, 14, 15, 16, 21, w / 2, w - 22, w - 16, w - 15, w - 1, w + 2}) {
        for (int y : {0, 15, 16, h / 2, h - 16, h - 15, h - 1}) {
          ExpectSamplesMatch(image, x, y, angle, "random " + std::to_string(trial));
        }
      }
    }
  }
  int golden = 0;
  for (auto& image : testing::GoldenStageImages("01_resampled.pgm")) {
    for (int n = 0; n < 500; ++n) {
      ExpectSamplesMatch(*image, static_cast<int>(rng() % static_cast<unsigned>(image->width())),
                         static_cast<int>(rng() % static_cast<unsigned>(image->height())),
                         static_cast<int>(rng() % 360), "golden");
    }
    ++golden;
  }
  if (golden == 0) GTEST_SKIP() << "no golden vectors";
}

}  // namespace
}  // namespace ridgeline
