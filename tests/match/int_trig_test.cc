#include "match/int_trig.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <gtest/gtest.h>

namespace ridgeline {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(IntTrig, CosineAndSineTablesMatchTheirFormula) {
  for (int i = 0; i < kDegreesPerTurn; ++i) {
    const double radians = i * kPi / 180.0;
    // trunc(1024 cos + 0.5): the cast truncates toward zero, as the tables do.
    EXPECT_EQ(kCosTable[i],
              static_cast<int16_t>(static_cast<int>(1024.0 * std::cos(radians) + 0.5)))
        << i;
    EXPECT_EQ(kSinTable[i],
              static_cast<int16_t>(static_cast<int>(1024.0 * std::sin(radians) + 0.5)))
        << i;
  }
}

TEST(IntTrig, NegativeHalfTurnEntriesAreTruncatedNotRounded) {
  EXPECT_EQ(kCosTable[0], 1024);
  EXPECT_EQ(kCosTable[180], -1023);
  EXPECT_EQ(kSinTable[90], 1024);
  EXPECT_EQ(kSinTable[270], -1023);
  EXPECT_EQ(kCosTable[90], 0);
  EXPECT_EQ(kCosTable[120], -511);  // -512 + 0.5 truncates to -511
}

TEST(IntTrig, BearingArctanTableMatchesItsFormula) {
  for (int r = 0; r < kBearingArctanSize; ++r) {
    EXPECT_EQ(kBearingArctan[r], std::lround(std::atan(r / 1024.0) * 180.0 / kPi)) << r;
  }
  EXPECT_EQ(kBearingArctan[1024], 45);
}

TEST(IntTrig, BearingOfAxesAndDiagonals) {
  EXPECT_EQ(Bearing(0, 0), 0);
  EXPECT_EQ(Bearing(5, 0), 0);
  EXPECT_EQ(Bearing(0, 5), 90);
  EXPECT_EQ(Bearing(-5, 0), 180);
  EXPECT_EQ(Bearing(0, -5), 270);
  EXPECT_EQ(Bearing(7, 7), 45);
  EXPECT_EQ(Bearing(-7, 7), 135);
  EXPECT_EQ(Bearing(-7, -7), 225);
  EXPECT_EQ(Bearing(7, -7), 315);
}

TEST(IntTrig, BearingFollowsAtan2InEveryQuadrant) {
  for (int dx = -60; dx <= 60; ++dx) {
    for (int dy = -60; dy <= 60; ++dy) {
      if (dx == 0 && dy == 0) continue;
      double want = std::atan2(dy, dx) * 180.0 / kPi;
      if (want < 0) want += 360.0;
      const int got = Bearing(dx, dy);
      ASSERT_GE(got, 0);
      ASSERT_LE(got, 360);
      double error = std::fabs(got - want);
      if (error > 180.0) error = 360.0 - error;
      ASSERT_LE(error, 1.0) << dx << ", " << dy;
    }
  }
}

TEST(IntTrig, BearingJustBelowTheXAxisIs360AndReadsTheTablesAsZero) {
  EXPECT_EQ(Bearing(200, -1), 360);
  EXPECT_EQ(Bearing(129, -1), 360);  // 1024 / 129 = 7
  EXPECT_EQ(Bearing(100, -1), 359);  // 1024 / 100 = 10, rounds to one degree
  const Rotation full = RotationOf(360);
  const Rotation none = RotationOf(0);
  EXPECT_EQ(full.cos, none.cos);
  EXPECT_EQ(full.sin, none.sin);
}

TEST(IntTrig, RotationRoundsWithArithmeticShift) {
  const Rotation quarter = RotationOf(90);
  EXPECT_EQ(quarter.X(100, 0), 0);
  EXPECT_EQ(quarter.Y(100, 0), 100);
  const Rotation half = RotationOf(180);
  // -1023 x 100 + 512 = -101788, >> 10 = -100 (floor), not -99.
  EXPECT_EQ(half.X(100, 0), -100);
  EXPECT_EQ(half.Y(0, 3), -3);
}

}  // namespace
}  // namespace ridgeline
