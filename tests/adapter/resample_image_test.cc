#include "extract/resample_image.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/images.h"
#include "tests/support/vector_targets.h"

namespace ridgeline {
namespace {

using testing::TestImage;

constexpr int kSensorDpi = 500;
constexpr int kEngineDpi = 550;

std::vector<uint8_t> Source(int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels[y * width + x] = static_cast<uint8_t>(x * 7 + y * 13);
  return pixels;
}

TEST(ResampleImage, TablesStartAsExpectedAndFollowTheirFormula) {
  constexpr int kCount = 1100;
  std::vector<int16_t> index(kCount), weight(kCount);
  BuildResampleTables(kCount, kSensorDpi, kEngineDpi, index.data(), weight.data());
  const int16_t want_index[] = {0, 0, 1, 2, 3, 4};
  const int16_t want_weight[] = {1024, 94, 187, 280, 373, 466};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(index[i], want_index[i]) << i;
    EXPECT_EQ(weight[i], want_weight[i]) << i;
  }
  for (int i = 0; i < kCount; ++i) {
    const int64_t position = int64_t{i} * kSensorDpi * 1024 / kEngineDpi;  // 10-bit fixed point
    ASSERT_EQ(index[i], position >> 10) << i;
    ASSERT_EQ(weight[i], 1024 - (position & 1023)) << i;
  }
  EXPECT_EQ(weight[11], 1024);  // 11 x 500 / 550 = 10 exactly: a whole position
}

TEST(ResampleImage, WholePositionsCopyAndOthersBlendWithRounding) {
  const uint8_t one = 77;  // a one-pixel source copies its only sample
  TestImage single(1, 1);
  ASSERT_TRUE(ResampleImage(&one, 1, 1, kSensorDpi, single.get(), 1, 1, kEngineDpi));
  EXPECT_EQ(single.at(0, 0), 77);
  // One row 0, 100, 200, ...: destination column 1 sits at 0.909 of the way from 0 to 100.
  const std::vector<uint8_t> row = {0, 100, 200, 250, 30};
  TestImage out(5, 1);
  ASSERT_TRUE(ResampleImage(row.data(), 5, 1, kSensorDpi, out.get(), 5, 1, kEngineDpi));
  EXPECT_EQ(out.at(0, 0), 0);
  EXPECT_EQ(out.at(1, 0), (94 * 0 + 930 * 100 + 512) >> 10);
  EXPECT_EQ(out.at(2, 0), (187 * 100 + 837 * 200 + 512) >> 10);
}

TEST(ResampleImage, LastColumnAndRowCopyTheEdgeSample) {
  const int w = 20, h = 10;
  const std::vector<uint8_t> src = Source(w, h);
  const int dw = w * kEngineDpi / kSensorDpi, dh = h * kEngineDpi / kSensorDpi;  // 22 x 11
  TestImage out(dw, dh);
  ASSERT_TRUE(ResampleImage(src.data(), w, h, kSensorDpi, out.get(), dw, dh, kEngineDpi));
  // Column 21 maps to 19.09 (past the last source column pair): it copies column 19, and
  // row 10 maps to 9.09: it copies the intermediate of row 9.
  EXPECT_EQ(out.at(dw - 1, dh - 1), src[(h - 1) * w + (w - 1)]);
  // The last row equals the horizontal pass of the last source row alone.
  const std::vector<uint8_t> last(src.end() - w, src.end());
  TestImage row(dw, 1);
  ASSERT_TRUE(ResampleImage(last.data(), w, 1, kSensorDpi, row.get(), dw, 1, kEngineDpi));
  for (int x = 0; x < dw; ++x) ASSERT_EQ(out.at(x, dh - 1), row.at(x, 0)) << x;
  // The last column of every row copies the last source column's vertical blend.
  for (int y = 0; y < dh; ++y) {
    const int k = y * kSensorDpi / kEngineDpi;
    if (k + 1 >= h) continue;
    const int wt = 1024 - ((y * kSensorDpi * 1024 / kEngineDpi) & 1023);
    const int want = (wt * src[k * w + w - 1] + (1024 - wt) * src[(k + 1) * w + w - 1] + 512) >> 10;
    ASSERT_EQ(out.at(dw - 1, y), want) << y;
  }
}

TEST(ResampleImage, RefusesSizesWhoseFixedPointPositionsOverflow) {
  // (side - 1) x 500 x 1024 must fit a signed 32-bit value.
  const int max_side = MaxResampleSide(kSensorDpi, kEngineDpi);
  EXPECT_LE(int64_t{max_side - 1} * kSensorDpi * 1024, INT32_MAX);
  EXPECT_GT(int64_t{max_side} * kSensorDpi * 1024, INT32_MAX);
  const std::vector<uint8_t> src(4000, 5);
  TestImage wide(max_side + 1, 1);
  EXPECT_FALSE(
      ResampleImage(src.data(), 4000, 1, kSensorDpi, wide.get(), max_side + 1, 1, kEngineDpi));
  TestImage fits(max_side, 1);
  EXPECT_TRUE(ResampleImage(src.data(), 4000, 1, kSensorDpi, fits.get(), max_side, 1, kEngineDpi));
  EXPECT_EQ(fits.at(max_side - 1, 0), 5);
  EXPECT_FALSE(ResampleImage(src.data(), 0, 1, kSensorDpi, fits.get(), 1, 1, kEngineDpi));
  EXPECT_EQ(MaxResampleSide(0, kEngineDpi), 0);
}

TEST(ResampleImage, RefusesADestinationReachingPastTheSource) {
  // 20 x 10 at 500 dpi is 22 x 11 at 550; one more column or row would sample past the edge.
  const std::vector<uint8_t> src = Source(20, 10);
  TestImage out(23, 12, uint8_t{9});
  EXPECT_TRUE(ResampleImage(src.data(), 20, 10, kSensorDpi, out.get(), 22, 11, kEngineDpi));
  TestImage untouched(23, 12, uint8_t{9});
  EXPECT_FALSE(ResampleImage(src.data(), 20, 10, kSensorDpi, untouched.get(), 23, 11, kEngineDpi));
  EXPECT_FALSE(ResampleImage(src.data(), 20, 10, kSensorDpi, untouched.get(), 22, 12, kEngineDpi));
  EXPECT_EQ(untouched.at(0, 0), 9);
  EXPECT_EQ(untouched.at(22, 11), 9);
}

// The resampling as first written: each column tests whether it has a right-hand sample.
void ReferenceResample(const std::vector<uint8_t>& src, int w, int h, TestImage& out, int dw,
                       int dh, int sourceDpi = kSensorDpi, int destinationDpi = kEngineDpi) {
  const int n = std::max(dw, dh);
  std::vector<int16_t> index(static_cast<size_t>(n)), weight(static_cast<size_t>(n));
  BuildResampleTables(n, sourceDpi, destinationDpi, index.data(), weight.data());
  auto blend = [](int wt, int a, int b) { return (wt * a + (1024 - wt) * b + 512) >> 10; };
  std::vector<uint8_t> mid(static_cast<size_t>(dw) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < dw; ++x) {
      const int k = index[x];
      const uint8_t* p = &src[static_cast<size_t>(y) * w];
      mid[static_cast<size_t>(y) * dw + x] =
          static_cast<uint8_t>(k < w - 1 ? blend(weight[x], p[k], p[k + 1]) : p[k]);
    }
  }
  for (int y = 0; y < dh; ++y) {
    const int k = index[y];
    for (int x = 0; x < dw; ++x) {
      const uint8_t upper = mid[static_cast<size_t>(k) * dw + x];
      out.at(x, y) =
          k < h - 1 ? static_cast<uint8_t>(blend(weight[y], upper, mid[(k + 1) * dw + x])) : upper;
    }
  }
}

TEST(ResampleImage, SameAsThePerColumnTestOnOddSizes) {
  std::mt19937 rng(8);
  for (int trial = 0; trial < 30; ++trial) {
    const int w = 1 + static_cast<int>(rng() % 70), h = 1 + static_cast<int>(rng() % 40);
    std::vector<uint8_t> src(static_cast<size_t>(w) * h);
    for (uint8_t& p : src) p = static_cast<uint8_t>(trial % 3 == 0 ? (rng() % 2) * 255 : rng());
    const int dw = w * kEngineDpi / kSensorDpi, dh = h * kEngineDpi / kSensorDpi;
    if (dw < 1 || dh < 1) continue;
    TestImage got(dw, dh), want(dw, dh);
    ASSERT_TRUE(ResampleImage(src.data(), w, h, kSensorDpi, got.get(), dw, dh, kEngineDpi));
    ReferenceResample(src, w, h, want, dw, dh);
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x) ASSERT_EQ(got.at(x, y), want.at(x, y)) << w << "x" << h;
  }
}

// The horizontal pass runs in 16-column chunks with byte shuffles where the source bytes of a
// chunk fit one vector, the rest column by column; every instruction set the dispatch can pick,
// on widths across several chunks and their tails, with extreme neighbours (0 beside 255) and
// resolution pairs that upsample a little, a lot, or downsample (no chunk qualifies).
TEST(ResampleImage, VectorChunksSameAsThePerColumnTest) {
  const int ratios[][2] = {{500, 550}, {500, 1000}, {333, 500}, {550, 500}, {500, 501}};
  const int sides[][2] = {{16, 3}, {17, 2}, {31, 5}, {100, 7}, {388, 9}, {545, 4}};
  std::mt19937 rng(55);
  const int targets = testing::ForEachVectorTarget([&](const std::string&) {
    for (const auto& ratio : ratios) {
      for (const auto& side : sides) {
        const int w = side[0], h = side[1];
        const int dw = w * ratio[1] / ratio[0], dh = h * ratio[1] / ratio[0];
        if (dw < 1 || dh < 1) continue;
        for (int kind = 0; kind < 3; ++kind) {
          std::vector<uint8_t> src(static_cast<size_t>(w) * h);
          for (size_t i = 0; i < src.size(); ++i) {
            src[i] = kind == 0   ? static_cast<uint8_t>(rng())
                     : kind == 1 ? static_cast<uint8_t>((i % 2) * 255)
                                 : static_cast<uint8_t>((rng() % 2) * 255);
          }
          TestImage got(dw, dh), want(dw, dh);
          ASSERT_TRUE(ResampleImage(src.data(), w, h, ratio[0], got.get(), dw, dh, ratio[1]));
          ReferenceResample(src, w, h, want, dw, dh, ratio[0], ratio[1]);
          for (int y = 0; y < dh; ++y) {
            for (int x = 0; x < dw; ++x) {
              ASSERT_EQ(got.at(x, y), want.at(x, y)) << ratio[0] << "->" << ratio[1] << " " << w
                                                     << "x" << h << " at " << x << "," << y;
            }
          }
        }
      }
    }
  });
  EXPECT_GE(targets, 1);
}

}  // namespace
}  // namespace ridgeline
