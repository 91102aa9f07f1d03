#include "extract/block_mask.h"

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/engine_params.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

TEST(ErodeBlockMask, CornerBlocksAlwaysBecomeBackground) {
  TestImage direction(5, 4, 30);
  TestImage isotropy(5, 4, 0);  // every block well oriented
  ErodeBlockMask(DefaultEngineParams(), 5, 4, direction.get(), isotropy.get());
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 5; ++c) {
      const bool corner = (c == 0 || c == 4) && (r == 0 || r == 3);
      EXPECT_EQ(direction.at(c, r), corner ? kBackground : 30) << c << "," << r;
    }
  }
}

TEST(ErodeBlockMask, FiveUsableNeighboursKeepABlockFourDoNot) {
  // Isotropy equal to the limit is not usable.
  const EngineParams params = DefaultEngineParams();
  for (int usable : {4, 5}) {
    TestImage direction(3, 3, 45);
    TestImage isotropy(3, 3, params.MaskIsotropyLimit);
    for (int i = 0; i < usable; ++i) isotropy.at(i % 3, i / 3) = params.MaskIsotropyLimit - 1;
    ErodeBlockMask(params, 3, 3, direction.get(), isotropy.get());
    EXPECT_EQ(direction.at(1, 1), usable == 5 ? 45 : kBackground);
  }
}

}  // namespace
}  // namespace ridgeline
