#include "extract/window_sums.h"

#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

// Window sums against a direct count, for windows narrower than, as wide as and wider than
// the image, so every stretch of the running row sum (entering only, both, neither, leaving
// only) is taken.
TEST(WindowSums, MatchTheClippedWindowEverywhere) {
  std::mt19937 rng(21);
  const struct {
    int w, h, radius;
  } cases[] = {{23, 17, 3}, {23, 17, 0}, {7, 9, 3}, {7, 9, 6}, {7, 9, 12}, {1, 5, 2}, {30, 2, 1}};
  for (const auto& c : cases) {
    TestImage image(c.w, c.h, [&](int, int) { return static_cast<uint8_t>(rng() & 0xFF); });
    WindowSums<> sums;
    ASSERT_TRUE(sums.Init(c.w, c.h, c.radius));
    for (int y = 0; y < c.h; ++y) {
      sums.Slide(y, [&](int r) { return image.get()[r]; });
      for (int x = 0; x < c.w; ++x) {
        int32_t want = 0;
        int32_t count = 0;
        for (int yy = y - c.radius; yy <= y + c.radius; ++yy) {
          for (int xx = x - c.radius; xx <= x + c.radius; ++xx) {
            if (yy < 0 || yy >= c.h || xx < 0 || xx >= c.w) continue;
            want += image.at(xx, yy);
            ++count;
          }
        }
        ASSERT_EQ(sums.Sum(x), want)
            << c.w << "x" << c.h << " r" << c.radius << " at " << x << "," << y;
        ASSERT_EQ(sums.Count(x), count);
        ASSERT_EQ(sums.Mean(x), want / count);
      }
    }
  }
}

}  // namespace
}  // namespace ridgeline
