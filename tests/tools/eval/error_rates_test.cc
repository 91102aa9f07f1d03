// Error rates on hand-made score lists whose answers are worked out by hand.
#include "tools/eval/error_rates.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace ridgeline::eval {
namespace {

std::vector<int> Range(int first, int count) {
  std::vector<int> scores(static_cast<size_t>(count));
  std::iota(scores.begin(), scores.end(), first);
  return scores;
}

TEST(ErrorRates, AScoreAtTheThresholdMatches) {
  const std::vector<int> genuine = {325}, impostor = {325, 100};
  const ErrorRates rates(genuine, impostor);
  EXPECT_EQ(rates.FalseNonMatchRate(325), 0.0);
  EXPECT_EQ(rates.FalseNonMatchRate(326), 1.0);
  EXPECT_EQ(rates.FalseMatchRate(325), 0.5);
  EXPECT_EQ(rates.FalseMatchRate(326), 0.0);
  EXPECT_EQ(rates.FalseMatchRate(0), 1.0);
}

TEST(ErrorRates, CurveRunsFromAllMatchingToNoneMatching) {
  const std::vector<int> genuine = {9, 2, 9, 9}, impostor = {3, 1};
  const std::vector<ErrorPoint> curve = ErrorRates(genuine, impostor).Curve();
  // Thresholds 1, 2, 3, 9 and one above the highest score.
  ASSERT_EQ(curve.size(), 5u);
  const int thresholds[] = {1, 2, 3, 9, 10};
  const double fmr[] = {1, 0.5, 0.5, 0, 0};
  const double fnmr[] = {0, 0, 0.25, 0.25, 1};
  for (size_t i = 0; i < curve.size(); ++i) {
    EXPECT_EQ(curve[i].threshold, thresholds[i]) << i;
    EXPECT_DOUBLE_EQ(curve[i].fmr, fmr[i]) << i;
    EXPECT_DOUBLE_EQ(curve[i].fnmr, fnmr[i]) << i;
  }
}

TEST(ErrorRates, EqualErrorRateOfSeparatedListsIsZero) {
  const std::vector<int> genuine = {10, 20}, impostor = {1, 2};
  EXPECT_DOUBLE_EQ(*ErrorRates(genuine, impostor).EqualErrorRate(), 0.0);
}

TEST(ErrorRates, EqualErrorRateAtAPointWhereTheRatesMeet) {
  // Threshold 3: FMR 1/2 (only 4 reaches it), FNMR 1/2 (only 1 falls short).
  const std::vector<int> genuine = {1, 3}, impostor = {2, 4};
  EXPECT_DOUBLE_EQ(*ErrorRates(genuine, impostor).EqualErrorRate(), 0.5);
}

TEST(ErrorRates, EqualErrorRateInterpolatesBetweenTwoPoints) {
  // Threshold 3: FMR 0.5, FNMR 0.25; threshold 9: FMR 0, FNMR 0.25. The segment between them
  // crosses FMR = FNMR halfway, at 0.25.
  const std::vector<int> genuine = {2, 9, 9, 9}, impostor = {1, 3};
  EXPECT_DOUBLE_EQ(*ErrorRates(genuine, impostor).EqualErrorRate(), 0.25);
  // Identical single scores: from (FMR 1, FNMR 0) to (0, 1), crossing at 0.5.
  const std::vector<int> same = {5};
  EXPECT_DOUBLE_EQ(*ErrorRates(same, same).EqualErrorRate(), 0.5);
  // Fully inverted lists: every impostor outscores every genuine comparison.
  const std::vector<int> low = {1, 2}, high = {8, 9};
  EXPECT_DOUBLE_EQ(*ErrorRates(low, high).EqualErrorRate(), 1.0);
}

TEST(ErrorRates, OperatingPointsTakeTheLowestThresholdWithinTheFalseMatchTarget) {
  // Impostors 0..99, genuine 50..149. At most one false match (1 %) first holds at 99, where 49
  // genuine scores (50..98) fall short; no false match first holds at 100 (50 short).
  const std::vector<int> impostor = Range(0, 100), genuine = Range(50, 100);
  const ErrorRates rates(genuine, impostor);
  const ErrorPoint fmr100 = *rates.FnmrAtFmr(0.01);
  EXPECT_EQ(fmr100.threshold, 99);
  EXPECT_DOUBLE_EQ(fmr100.fmr, 0.01);
  EXPECT_DOUBLE_EQ(fmr100.fnmr, 0.49);
  EXPECT_EQ(rates.FnmrAtFmr(0.001)->threshold, 100);
  EXPECT_DOUBLE_EQ(rates.FnmrAtFmr(0.001)->fnmr, 0.50);
  EXPECT_EQ(rates.FnmrAtFmr(0.0)->threshold, 100);
}

TEST(ErrorRates, OnePercentOfAThousandImpostorsIsTenFalseMatches) {
  const std::vector<int> impostor = Range(0, 1000), genuine = Range(0, 2000);
  const ErrorRates rates(genuine, impostor);
  EXPECT_EQ(rates.FnmrAtFmr(0.01)->threshold, 990);
  EXPECT_EQ(rates.FnmrAtFmr(0.001)->threshold, 999);
  EXPECT_EQ(rates.FnmrAtFmr(0.0)->threshold, 1000);
}

TEST(ErrorRates, FewImpostorsMakeEveryTargetBelowOneInTheirNumberZeroFmr) {
  // With 45 impostor comparisons one false match is 2.2 %, so FMR100 already needs none.
  const std::vector<int> impostor = Range(0, 45), genuine = Range(40, 10);
  const ErrorRates rates(genuine, impostor);
  EXPECT_EQ(rates.FnmrAtFmr(0.01)->threshold, 45);
  EXPECT_DOUBLE_EQ(rates.FnmrAtFmr(0.01)->fnmr, 0.5);
  EXPECT_EQ(rates.FnmrAtFmr(0.0)->threshold, 45);
}

TEST(ErrorRates, EmptyListsGiveNoFigures) {
  const std::vector<int> some = {1, 2}, none;
  for (const ErrorRates& rates : {ErrorRates(some, none), ErrorRates(none, some)}) {
    EXPECT_FALSE(rates.EqualErrorRate());
    EXPECT_FALSE(rates.FnmrAtFmr(0.01));
  }
  const ErrorRates empty(none, none);
  EXPECT_TRUE(empty.Curve().empty());
  EXPECT_EQ(empty.FalseMatchRate(0), 0.0);
  EXPECT_EQ(empty.FalseNonMatchRate(0), 0.0);
}

}  // namespace
}  // namespace ridgeline::eval
