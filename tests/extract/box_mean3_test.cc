// The 3 x 3 box mean's own path against the general running-sum path it replaces for radius 1.
#include <random>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "core/int_math.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

TEST(BoxMean3, EqualsTheGeneralPathOnOddSizesAndExtremeValues) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> byte(0, 255);
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 7},  {7, 1},  {2, 2},   {2, 9},  {9, 2},
                                       {3, 3}, {3, 17}, {17, 3}, {31, 29}, {64, 5}, {101, 33}};
  for (const auto& [w, h] : sizes) {
    for (int fill = 0; fill < 4; ++fill) {
      auto pixel = [&](int x, int y) -> uint8_t {
        switch (fill) {
          case 0:
            return static_cast<uint8_t>(byte(rng));
          case 1:
            return 255;  // the largest sums
          case 2:
            return ((x + y) % 2) != 0 ? 255 : 0;
          default:
            return static_cast<uint8_t>(x * 37 + y * 11);
        }
      };
      TestImage fast(w, h, pixel);
      TestImage general(w, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) general.at(x, y) = fast.at(x, y);
      ASSERT_TRUE(BoxMean3(w, h, fast.get()));
      ASSERT_TRUE(BoxMean(w, h, general.get(), 1));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(fast.at(x, y), general.at(x, y))
              << w << "x" << h << " fill " << fill << " at " << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace ridgeline
