#include "tools/synth/portable_math.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tools/synth/random.h"

namespace ridgeline::synth {
namespace {

TEST(PortableMath, SineAndCosineAgreeWithTheLibraryOverSeveralTurns) {
  for (int i = -4000; i <= 4000; ++i) {
    const double x = i * 0.00731;
    EXPECT_NEAR(PortableSin(x), std::sin(x), 1e-13) << x;
    EXPECT_NEAR(PortableCos(x), std::cos(x), 1e-13) << x;
  }
}

TEST(PortableMath, ArctangentCoversEveryQuadrantAndTheAxes) {
  for (int i = 0; i < 720; ++i) {
    const double angle = -kPi + (i + 0.5) * kPi / 360.0;
    const double radius = 0.1 + (i % 7) * 3.0;
    const double y = radius * std::sin(angle);
    const double x = radius * std::cos(angle);
    EXPECT_NEAR(PortableAtan2(y, x), std::atan2(y, x), 1e-13) << angle;
  }
  EXPECT_EQ(PortableAtan2(0.0, 0.0), 0.0);
  EXPECT_EQ(PortableAtan2(0.0, 2.0), 0.0);
  EXPECT_NEAR(PortableAtan2(0.0, -2.0), kPi, 1e-15);
  EXPECT_NEAR(PortableAtan2(3.0, 0.0), kPi / 2, 1e-15);
  EXPECT_NEAR(PortableAtan2(-3.0, 0.0), -kPi / 2, 1e-15);
  // Near the switch points of the argument reduction (tan(pi/8) and 1).
  for (double t : {0.41421356, 0.41421357, 0.99999999, 1.0, 1.00000001}) {
    EXPECT_NEAR(PortableAtan2(t, 1.0), std::atan(t), 1e-15) << t;
  }
}

TEST(PortableMath, ExponentialIsAccurateAndUnderflowsToZero) {
  for (int i = -3000; i <= 600; ++i) {
    const double x = i * 0.0173;
    EXPECT_NEAR(PortableExp(x) / std::exp(x), 1.0, 1e-14) << x;
  }
  EXPECT_EQ(PortableExp(-701.0), 0.0);
  EXPECT_EQ(PortableExp(0.0), 1.0);
}

TEST(PortableMath, RoundingIsHalfAwayFromZero) {
  EXPECT_EQ(RoundToInt(2.5), 3);
  EXPECT_EQ(RoundToInt(-2.5), -3);
  EXPECT_EQ(RoundToInt(2.49), 2);
  EXPECT_EQ(RoundToInt(-0.4), 0);
}

TEST(Random, SplitMixMatchesItsPublishedFirstOutput) {
  uint64_t state = 0;
  EXPECT_EQ(SplitMix64(state), 0xE220A8397B1DCDAFull);
}

TEST(Random, DrawsStayInTheirRanges) {
  Rng rng(42);
  for (int i = 0; i < 10000; ++i) {
    const double u = rng.Uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    ASSERT_LT(rng.Below(7), 7u);
    const double n = rng.Normal();
    ASSERT_LE(std::fabs(n), 2.0 * 1.7320508075688772);
  }
}

TEST(Random, DerivedSeedsDifferForEveryFingerAndImpression) {
  EXPECT_NE(DeriveSeed(7, 1, 0), DeriveSeed(7, 2, 0));
  EXPECT_NE(DeriveSeed(7, 1, 1), DeriveSeed(7, 1, 2));
  EXPECT_NE(DeriveSeed(7, 1, 2), DeriveSeed(7, 2, 1));
  EXPECT_NE(DeriveSeed(7, 1, 0), DeriveSeed(8, 1, 0));
  EXPECT_EQ(DeriveSeed(7, 3, 4), DeriveSeed(7, 3, 4));
}

}  // namespace
}  // namespace ridgeline::synth
