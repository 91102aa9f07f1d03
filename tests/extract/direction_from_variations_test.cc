#include "extract/direction_from_variations.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/constants.h"

namespace ridgeline {
namespace {

TEST(DirectionFromVariations, EqualVariationsGiveNoDirection) {
  const DirectionEstimate e = DirectionFromVariations(500, 500, 500, 500, 0);
  EXPECT_EQ(e.code, kNoDirection);
  EXPECT_EQ(e.isotropy, 255);
  const DirectionEstimate flat = DirectionFromVariations(0, 0, 0, 0, 0);
  EXPECT_EQ(flat.code, kNoDirection);
  EXPECT_EQ(flat.isotropy, 255);
}

TEST(DirectionFromVariations, SampledDirectionsComeOutExactly) {
  // Least variation along the ridge, most across it; the diagonals between.
  EXPECT_EQ(DirectionFromVariations(0, 400, 900, 400, 0).code, 0);
  EXPECT_EQ(DirectionFromVariations(900, 400, 0, 400, 0).code, 60);
  EXPECT_EQ(DirectionFromVariations(400, 0, 400, 900, 0).code, 30);
  EXPECT_EQ(DirectionFromVariations(400, 900, 400, 0, 0).code, 90);
}

TEST(DirectionFromVariations, VerticalRidgeUsesPair45WithOffset15) {
  const DirectionEstimate e = DirectionFromVariations(1000, 300, 0, 300, 0);
  EXPECT_EQ(e.code, 60);
  EXPECT_EQ(e.isotropy, 0);  // along 0: perfectly oriented
}

TEST(DirectionFromVariations, RidgeBetweenSamplesInterpolates) {
  // Symmetric about code 45: V30 = V60 and V0 = V90 give offset 0.
  EXPECT_EQ(DirectionFromVariations(800, 200, 200, 800, 0).code, 45);
}

TEST(DirectionFromVariations, ComputedCode120IsStoredAsZero) {
  // Pair 105 with offset +15: the ridge lies exactly along code 0 reached from above.
  const DirectionEstimate e = DirectionFromVariations(0, 300, 1000, 300, 0);
  EXPECT_EQ(e.code, 0);
}

TEST(DirectionFromVariations, LowContrastKeepsCodeButIsUnusable) {
  const DirectionEstimate sharp = DirectionFromVariations(1000, 300, 0, 300, 999);
  EXPECT_EQ(sharp.code, 60);
  EXPECT_EQ(sharp.isotropy, 0);
  const DirectionEstimate dull = DirectionFromVariations(1000, 300, 0, 300, 1000);
  EXPECT_EQ(dull.code, 60);  // threshold == Vmax is already too little contrast
  EXPECT_EQ(dull.isotropy, 255);
}

// The 32-bit form inlined into the pixel loops, and its branch-free form with the divisions in
// double, must give the general form's bytes for every input they accept: all small quadruples
// (every tie and every pair choice), random ones up to its limit, and quadruples near the limit
// where a wider intermediate would be needed if the bounds argued in the header were wrong.
TEST(DirectionFromVariations32, AgreesWithTheGeneralForm) {
  auto expect_same = [](int32_t a, int32_t b, int32_t c, int32_t d, int32_t threshold) {
    const DirectionEstimate want = DirectionFromVariations(a, b, c, d, threshold);
    const DirectionEstimate got = DirectionFromVariations32(a, b, c, d, threshold);
    ASSERT_EQ(got.code, want.code) << a << " " << b << " " << c << " " << d << " " << threshold;
    ASSERT_EQ(got.isotropy, want.isotropy)
        << a << " " << b << " " << c << " " << d << " " << threshold;
    const DirectionEstimate select = DirectionFromVariationsSelect(a, b, c, d, threshold);
    ASSERT_EQ(select.code, want.code) << a << " " << b << " " << c << " " << d << " " << threshold;
    ASSERT_EQ(select.isotropy, want.isotropy)
        << a << " " << b << " " << c << " " << d << " " << threshold;
  };
  for (int32_t a = 0; a < 9; ++a)
    for (int32_t b = 0; b < 9; ++b)
      for (int32_t c = 0; c < 9; ++c)
        for (int32_t d = 0; d < 9; ++d)
          for (int32_t threshold : {-1, 0, 4, 8}) expect_same(a, b, c, d, threshold);

  std::mt19937 rng(20);
  const std::array<int32_t, 4> limits = {1000, 320000, 4000000, kMaxVariation32};
  for (int trial = 0; trial < 200000; ++trial) {
    const int32_t limit = limits[static_cast<size_t>(trial) % limits.size()];
    std::uniform_int_distribution<int32_t> value(0, limit);
    std::array<int32_t, 4> v = {value(rng), value(rng), value(rng), value(rng)};
    if (trial % 5 == 0) v[rng() % 4] = v[rng() % 4];  // ties
    if (trial % 7 == 0) v[rng() % 4] = limit;         // the largest value
    if (trial % 11 == 0) v[rng() % 4] = 0;            // a perfectly smooth direction
    expect_same(v[0], v[1], v[2], v[3], value(rng));
  }
  expect_same(kMaxVariation32, 0, kMaxVariation32, 0, 0);
  expect_same(0, kMaxVariation32, 0, kMaxVariation32, 0);
  expect_same(kMaxVariation32, kMaxVariation32, 0, 0, INT32_MAX);
  expect_same(0, 1, kMaxVariation32, kMaxVariation32 - 1, INT32_MIN);
}

// The quotient in double truncates as the integer division does, also where rounding would
// matter most: the largest numerators, quotients just below and above an integer, and divisors
// of both signs near the ends of the 32-bit range.
TEST(TruncatingQuotient, EqualsTheIntegerDivision) {
  const std::vector<int32_t> divisors = {1,     -1,      2,         3,          7,
                                         30,    100,     255,       -255,       65535,
                                         65537, 1 << 20, INT32_MAX, -INT32_MAX, INT32_MIN + 1};
  std::mt19937 rng(31);
  for (int32_t b : divisors) {
    std::vector<int64_t> numerators = {
        0, 1, -1, INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1};
    // Multiples of b and their neighbours: exact quotients and those a hair away from one.
    for (int64_t m : {int64_t{1}, int64_t{2}, int64_t{INT32_MAX} / std::abs(int64_t{b}),
                      -int64_t{INT32_MAX} / std::abs(int64_t{b})}) {
      for (int64_t d = -1; d <= 1; ++d) numerators.push_back(m * b + d);
    }
    for (int i = 0; i < 2000; ++i) numerators.push_back(static_cast<int32_t>(rng()));
    for (int64_t a : numerators) {
      if (a < INT32_MIN || a > INT32_MAX) continue;
      const auto a32 = static_cast<int32_t>(a);
      if (a32 == INT32_MIN && b == -1) continue;  // not a representable quotient
      ASSERT_EQ(TruncatingQuotient(a32, b), a32 / b) << a32 << " / " << b;
    }
  }
}

// The divisions by constants as multiplications: the whole 32-bit range's hardest cases (the
// top of the range and each side of the multiples of the divisor there) and random values, for
// both signs of the quotient by 30.
TEST(DivideByConstant, EqualsTheIntegerDivision) {
  std::mt19937 rng(37);
  std::vector<uint32_t> values = {0, 1, 29, 30, 31, 99, 100, 101, UINT32_MAX, UINT32_MAX - 1};
  for (uint32_t d : {30u, 100u}) {
    for (uint32_t top = UINT32_MAX / d * d, k = 0; k < 1000; ++k, top -= d) {
      values.push_back(top);
      values.push_back(top - 1);
      if (top + d - 1 >= top) values.push_back(top + d - 1);  // unless it wraps
    }
  }
  for (int i = 0; i < 100000; ++i) values.push_back(static_cast<uint32_t>(rng()));
  for (uint32_t x : values) {
    ASSERT_EQ((DivideByConstant<100, 37>(x)), x / 100) << x;
    ASSERT_EQ((DivideByConstant<30, 36>(x)), x / 30) << x;
    const auto a = static_cast<int32_t>(x);  // every 32-bit pattern, INT32_MIN included
    ASSERT_EQ(QuotientBy30(a), a / 30) << a;
  }
}

}  // namespace
}  // namespace ridgeline
