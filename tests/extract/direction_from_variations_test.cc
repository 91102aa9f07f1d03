#include "extract/direction_from_variations.h"

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

}  // namespace
}  // namespace ridgeline
