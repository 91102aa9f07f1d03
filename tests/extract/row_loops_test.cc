// The dispatched row loops of the pixel directions and the binarisation against their plain
// per-pixel forms, in every vector instruction set the processor supports: random sums of
// lengths that are no multiple of any vector, the largest sums the loops accept, ties between
// the variations, and the whole stages on the golden prints' recorded inputs.
#include "extract/row_loops.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/engine_params.h"
#include "core/exact_divider.h"
#include "core/int_math.h"
#include "extract/binarise.h"
#include "extract/contrast_stretch.h"
#include "extract/direction_from_variations.h"
#include "extract/local_mean.h"
#include "extract/pixel_direction.h"
#include "extract/window_sums.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"
#include "tests/support/vector_targets.h"

namespace ridgeline {
namespace {

using testing::ForEachVectorTarget;
using testing::TestImage;

// The largest unscaled diagonal sum: its 71 / 100 share must stay within kMaxVariation32.
constexpr int32_t kMaxDiagonalSum = static_cast<int32_t>(int64_t{kMaxVariation32} * 100 / 71);

// Sums of one kind: 0 full range, 1 small (ties and equal quadruples), 2 near the maximum,
// 3 all four equal (no direction).
std::vector<int32_t> RandomSums(std::mt19937& rng, int n, int kind, int32_t most) {
  std::vector<int32_t> sums(static_cast<size_t>(n));
  for (int32_t& s : sums) {
    const uint32_t r = rng();
    s = kind == 0   ? static_cast<int32_t>(r % (static_cast<uint32_t>(most) + 1))
        : kind == 1 ? static_cast<int32_t>(r % 6)
        : kind == 2 ? most - static_cast<int32_t>(r % 3)
                    : 7;
  }
  return sums;
}

TEST(RowLoops, WholeWindowEstimatesMatchTheScalarEstimate) {
  std::mt19937 rng(41);
  const int lengths[] = {1, 3, 7, 15, 17, 31, 33, 63, 65, 129};
  ForEachVectorTarget([&](const std::string& target) {
    for (int n : lengths) {
      for (int kind = 0; kind < 4; ++kind) {
        const auto w0 = RandomSums(rng, n, kind, kMaxVariation32);
        const auto w30 = RandomSums(rng, n, kind, kMaxDiagonalSum);
        const auto w60 = RandomSums(rng, n, kind == 3 ? 0 : kind, kMaxVariation32);
        const auto w90 = RandomSums(rng, n, kind, kMaxDiagonalSum);
        for (int32_t threshold : {0, 5, kMaxVariation32 / 2, INT32_MAX}) {
          // Begin past 0 so that the loop starts off a vector boundary.
          const int begin = n > 2 ? 1 : 0;
          std::vector<uint8_t> dir(static_cast<size_t>(n), 200), iso(static_cast<size_t>(n), 200);
          EstimateWholeWindows(w0.data(), w30.data(), w60.data(), w90.data(), begin, n, threshold,
                               dir.data(), iso.data());
          for (int x = 0; x < n; ++x) {
            const auto i = static_cast<size_t>(x);
            if (x < begin) {
              ASSERT_EQ(dir[i], 200) << "written before begin";
              continue;
            }
            const DirectionEstimate want = DirectionFromVariations32(
                w0[i], static_cast<int32_t>(w30[i] * int64_t{71} / 100), w60[i],
                static_cast<int32_t>(w90[i] * int64_t{71} / 100), threshold);
            ASSERT_EQ(dir[i], want.code) << target << " n " << n << " kind " << kind << " x " << x;
            ASSERT_EQ(iso[i], want.isotropy)
                << target << " n " << n << " kind " << kind << " x " << x;
          }
        }
      }
    }
  });
}

// Windows clipped by the border on any side: counts from empty to whole (whole ones must come
// out unscaled), sums up to 510 per counted pixel, ties, and stretches shorter than a block, a
// block, and longer (the overlapping last block).
TEST(RowLoops, ClippedWindowEstimatesMatchTheScaledScalarEstimate) {
  std::mt19937 rng(43);
  ForEachVectorTarget([&](const std::string& target) {
    for (int half : {0, 1, 12, 22}) {
      const int side = 2 * half + 1;
      const int32_t area = side * side;
      for (int n : {1, 5, 31, 32, 33, 64, 65, 97, 130}) {
        for (int kind = 0; kind < 3; ++kind) {
          const auto sz = static_cast<size_t>(n);
          std::vector<int32_t> columns(sz), w0(sz), w30(sz), w60(sz), w90(sz);
          const int32_t rows_in = static_cast<int32_t>(rng() % static_cast<uint32_t>(side + 1));
          for (size_t i = 0; i < sz; ++i) {
            columns[i] = static_cast<int32_t>(rng() % static_cast<uint32_t>(side + 1));
            const int32_t most = rows_in * columns[i] * 510;
            for (auto* w : {&w0, &w30, &w60, &w90}) {
              // Kind 1: at or next to the largest sum (ties), kind 2: small sums.
              const auto r = static_cast<int32_t>(rng() % static_cast<uint32_t>(most + 1));
              (*w)[i] = kind == 0   ? r
                        : kind == 1 ? std::max(most - r % 2, 0)
                                    : std::min(most, r % 8);
            }
          }
          for (int32_t threshold : {0, 23 * 2 * area}) {
            const int begin = n > 2 ? 1 : 0;
            std::vector<uint8_t> dir(sz, 200), iso(sz, 200);
            EstimateClippedWindows(w0.data(), w30.data(), w60.data(), w90.data(), columns.data(),
                                   rows_in, area, begin, n, threshold, dir.data(), iso.data());
            for (int x = 0; x < n; ++x) {
              const auto i = static_cast<size_t>(x);
              if (x < begin) {
                ASSERT_EQ(dir[i], 200) << "written before begin";
                continue;
              }
              const int32_t count = rows_in * columns[i];
              int32_t v[4] = {w0[i], w30[i] * 71 / 100, w60[i], w90[i] * 71 / 100};
              if (count != area && count != 0) {
                for (int32_t& value : v) value = area * value / count;
              }
              const DirectionEstimate want =
                  DirectionFromVariations32(v[0], v[1], v[2], v[3], threshold);
              ASSERT_EQ(dir[i], want.code)
                  << target << " half " << half << " n " << n << " x " << x;
              ASSERT_EQ(iso[i], want.isotropy)
                  << target << " half " << half << " n " << n << " x " << x;
            }
          }
        }
      }
    }
  });
}

TEST(RowLoops, BinarisationMatchesTheTruncatedMean) {
  std::mt19937 rng(43);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {1, 5, 16, 33, 67, 130}) {
      // Counts up to the largest the loops take (256 C < 2^31), sums on and beside the multiples
      // of the count where the truncated mean changes.
      std::vector<int32_t> columns[3], sums[3];
      const int32_t rows[3] = {1, 257, 2047};
      for (int i = 0; i < 3; ++i) {
        for (int x = 0; x < width; ++x) {
          const int32_t c = 1 + static_cast<int32_t>(rng() % 4095);
          const int32_t count = c * rows[i];
          const int32_t mean = static_cast<int32_t>(rng() % 256);
          const int32_t slack = static_cast<int32_t>(rng() % 3) - 1;
          columns[i].push_back(c);
          sums[i].push_back(std::clamp(mean * count + slack, 0, 255 * count));
        }
      }
      std::vector<uint8_t> source(static_cast<size_t>(width));
      for (uint8_t& s : source) {
        s = static_cast<uint8_t>(rng() % 4 == 0 ? 255 * (rng() % 2) : rng() % 256);
      }
      const int32_t* sum_rows[3] = {sums[0].data(), sums[1].data(), sums[2].data()};
      const int32_t* column_rows[3] = {columns[0].data(), columns[1].data(), columns[2].data()};
      // Pixel x against the truncated mean of window w.
      auto expected = [&](int w, size_t i) {
        const int32_t mean = sums[w][i] / (columns[w][i] * rows[w]);
        return source[i] >= mean ? 255 : 0;
      };
      std::vector<uint8_t> one(source.size());
      BinarizeOneWindow(source.data(), sums[2].data(), columns[2].data(), rows[2], width,
                        one.data());
      for (size_t i = 0; i < source.size(); ++i) {
        ASSERT_EQ(one[i], expected(2, i)) << target << " " << width << " " << i;
      }
      // The window chosen from a clarity row in the same pass, thresholds on both sides of
      // each other and at the ends of the byte range.
      std::vector<uint8_t> clarity(source.size());
      for (uint8_t& c : clarity)
        c = static_cast<uint8_t>(rng() % 4 == 0 ? 255 * (rng() % 2) : rng());
      for (auto [high, low] : {std::pair{130, 115}, {115, 130}, {0, 0}, {256, 255}, {-1, 300}}) {
        std::vector<uint8_t> by_clarity(source.size());
        BinarizeByClarity(source.data(), clarity.data(), high, low, sum_rows, column_rows, rows,
                          width, by_clarity.data());
        for (size_t i = 0; i < source.size(); ++i) {
          const int w = clarity[i] >= high ? 0 : clarity[i] >= low ? 1 : 2;
          ASSERT_EQ(by_clarity[i], expected(w, i))
              << target << " " << width << " high " << high << " low " << low << " x " << i;
        }
      }
    }
  });
}

// The 16-bit loops of windows up to 15 x 15 against plain sums and the 32-bit loops: integral
// rows that wrap modulo 2^16 many times over (rows of 255), window sums of every radius from
// them, clipped at both ends of the row, counts up to 225, clarity thresholds past the byte
// range, and the pre-binarisation's means by the high half of a product.
TEST(RowLoops, NarrowWindowLoopsMatchTheWideOnes) {
  std::mt19937 rng(61);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {1, 5, 8, 16, 31, 33, 67, 130}) {
      const auto w = static_cast<size_t>(width);
      // Sixteen image rows and their integral rows, each padded by kNarrowWindowReach columns
      // on either side as NarrowIntegralRows keeps them.
      constexpr int kRows = 16;
      constexpr int kPad = kNarrowWindowReach;
      std::vector<std::vector<uint8_t>> image(kRows, std::vector<uint8_t>(w));
      for (auto& row : image) {
        const bool bright = rng() % 2 == 0;
        for (uint8_t& p : row) p = static_cast<uint8_t>(bright ? 255 - rng() % 2 : rng());
      }
      std::vector<std::vector<uint16_t>> integral(kRows + 1,
                                                  std::vector<uint16_t>(w + 1 + 2 * kPad, 0));
      for (int t = 1; t <= kRows; ++t) {
        uint16_t* row = integral[static_cast<size_t>(t)].data() + kPad;
        IntegralRow16(integral[static_cast<size_t>(t - 1)].data() + kPad,
                      image[static_cast<size_t>(t - 1)].data(), width, row);
        uint32_t want = 0;
        for (int x = 0; x <= width; ++x) {
          uint32_t above = 0;
          for (int j = 0; j + 1 < t; ++j) {
            for (int i = 0; i < x; ++i)
              above += image[static_cast<size_t>(j)][static_cast<size_t>(i)];
          }
          ASSERT_EQ(row[x], static_cast<uint16_t>(above + want))
              << target << " row " << t << " x " << x;
          if (x < width) want += image[static_cast<size_t>(t - 1)][static_cast<size_t>(x)];
        }
        std::fill(row + width + 1, row + width + 1 + kPad, row[width]);
      }
      // Windows of every radius between integral rows up to 15 apart.
      for (int radius = 0; radius <= kNarrowWindowReach; ++radius) {
        const int top = static_cast<int>(rng() % 2);
        const int bottom = std::min(top + 2 * radius + 1, kRows);
        std::vector<uint16_t> got(w);
        BoxFromIntegralRows16(integral[static_cast<size_t>(top)].data() + kPad,
                              integral[static_cast<size_t>(bottom)].data() + kPad, width, radius,
                              got.data());
        for (int x = 0; x < width; ++x) {
          int want = 0;
          for (int j = top; j < bottom; ++j) {
            for (int i = std::max(x - radius, 0); i <= std::min(x + radius, width - 1); ++i) {
              want += image[static_cast<size_t>(j)][static_cast<size_t>(i)];
            }
          }
          ASSERT_EQ(got[static_cast<size_t>(x)], want)
              << target << " width " << width << " radius " << radius << " x " << x;
        }
      }

      // The binarisation tests on windows of 1 .. 225 pixels.
      std::vector<uint16_t> columns16[3], sums16[3];
      std::vector<int32_t> columns32[3], sums32[3];
      const uint16_t rows16[3] = {1, 7, 15};
      const int32_t rows32[3] = {1, 7, 15};
      for (int i = 0; i < 3; ++i) {
        for (size_t x = 0; x < w; ++x) {
          const auto c = static_cast<int32_t>(1 + rng() % 15);
          const int32_t count = c * rows32[i];
          const auto mean = static_cast<int32_t>(rng() % 256);
          const int32_t sum =
              std::clamp(mean * count + static_cast<int32_t>(rng() % 3) - 1, 0, 255 * count);
          columns16[i].push_back(static_cast<uint16_t>(c));
          columns32[i].push_back(c);
          sums16[i].push_back(static_cast<uint16_t>(sum));
          sums32[i].push_back(sum);
        }
      }
      std::vector<uint8_t> source(w), clarity(w);
      for (size_t x = 0; x < w; ++x) {
        source[x] = static_cast<uint8_t>(rng() % 4 == 0 ? 255 * (rng() % 2) : rng());
        clarity[x] = static_cast<uint8_t>(rng() % 4 == 0 ? 255 * (rng() % 2) : rng());
      }
      const uint16_t* s16[3] = {sums16[0].data(), sums16[1].data(), sums16[2].data()};
      const uint16_t* c16[3] = {columns16[0].data(), columns16[1].data(), columns16[2].data()};
      const int32_t* s32[3] = {sums32[0].data(), sums32[1].data(), sums32[2].data()};
      const int32_t* c32[3] = {columns32[0].data(), columns32[1].data(), columns32[2].data()};
      std::vector<uint8_t> want(w), got(w);
      BinarizeOneWindow(source.data(), s32[2], c32[2], rows32[2], width, want.data());
      BinarizeOneWindow(source.data(), s16[2], c16[2], rows16[2], width, got.data());
      ASSERT_EQ(got, want) << target << " one window, width " << width;
      for (auto [high, low] : {std::pair{130, 115}, {115, 130}, {0, 0}, {256, 255}, {-1, 300}}) {
        BinarizeByClarity(source.data(), clarity.data(), high, low, s32, c32, rows32, width,
                          want.data());
        BinarizeByClarity(source.data(), clarity.data(), high, low, s16, c16, rows16, width,
                          got.data());
        ASSERT_EQ(got, want) << target << " width " << width << " high " << high << " low " << low;
      }
    }
    // Pre-binarisation: counts of windows up to 15 x 15, sums on and beside the multiples of
    // the counts; columns 0 and width - 1 are not written.
    for (uint32_t small_count = 2; small_count <= 225; small_count += 7) {
      for (uint32_t large_count : {2u, 49u, 121u, 169u, 225u}) {
        const NarrowDivider small_divider(small_count, 255 * small_count);
        const NarrowDivider large_divider(large_count, 255 * large_count);
        if (!small_divider.exact()) continue;
        const int width = 45;
        std::vector<uint16_t> small(static_cast<size_t>(width)), large(small.size());
        std::vector<uint8_t> source(small.size()), out(small.size(), 7);
        for (size_t x = 0; x < small.size(); ++x) {
          small[x] = static_cast<uint16_t>(std::min<uint32_t>(
              255 * small_count, (rng() % 256) * small_count + (rng() % 2) * (small_count - 1)));
          large[x] = static_cast<uint16_t>(std::min<uint32_t>(
              255 * large_count, (rng() % 256) * large_count + (rng() % 2) * (large_count - 1)));
          const auto t = (large[x] / large_count + small[x] / small_count) / 2;
          source[x] = static_cast<uint8_t>(
              std::clamp<int>(static_cast<int>(t) + static_cast<int>(rng() % 3) - 1, 0, 255));
        }
        PreBinarizeRow(small.data(), large.data(), source.data(), 1, width - 1,
                       small_divider.multiplier(), small_divider.shift(),
                       large_divider.multiplier(), large_divider.shift(), out.data());
        ASSERT_EQ(out[0], 7);
        ASSERT_EQ(out[static_cast<size_t>(width - 1)], 7);
        for (size_t x = 1; x + 1 < small.size(); ++x) {
          const auto t = (large[x] / large_count + small[x] / small_count) / 2;
          ASSERT_EQ(out[x], source[x] >= t ? 255 : 0)
              << target << " counts " << small_count << ", " << large_count << " x " << x;
        }
      }
    }
  });
}

// The 3 x 3 majority on binary rows and on grey ones (the sums must not wrap), with the
// white sum at a block of exactly that sum; the row ends are left alone.
TEST(RowLoops, MajorityRowMatchesTheBlockRule) {
  std::mt19937 rng(73);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {3, 17, 32, 33, 70}) {
      const auto w = static_cast<size_t>(width);
      for (int kind = 0; kind < 2; ++kind) {
        std::vector<uint8_t> rows[3];
        for (auto& row : rows) {
          row.resize(w);
          for (uint8_t& p : row) {
            p = static_cast<uint8_t>(kind == 0 ? (rng() % 2) * 255 : 200 + rng() % 56);
          }
        }
        std::vector<uint16_t> column(w);
        std::vector<uint8_t> out(w, 7);
        for (uint16_t white_sum : {uint16_t{1152}, uint16_t{9 * 255}}) {
          MajorityRow(rows[0].data(), rows[1].data(), rows[2].data(), width, white_sum,
                      column.data(), out.data());
          ASSERT_EQ(out[0], 7);
          ASSERT_EQ(out[w - 1], 7);
          for (size_t x = 1; x + 1 < w; ++x) {
            int block = 0;
            for (const auto& row : rows) block += row[x - 1] + row[x] + row[x + 1];
            ASSERT_EQ(out[x], block >= white_sum ? 255 : 0) << target << " x " << x;
          }
        }
      }
    }
  });
}

// A level-smoothing pass: every level 0 .. 7 with the upper bits set or not (they must pass
// through), direction bytes with the background bit, widths around the vector sizes.
TEST(RowLoops, LevelPassKeepsLevelZeroAndLowersTheOthers) {
  std::mt19937 rng(67);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {1, 15, 16, 33, 64, 97}) {
      const auto w = static_cast<size_t>(width);
      std::vector<uint8_t> direction(w), levels(w), codes(w, 3);
      for (size_t x = 0; x < w; ++x) {
        direction[x] = static_cast<uint8_t>(rng());
        levels[x] = static_cast<uint8_t>(rng() % 3 == 0 ? rng() & 0xF8 : rng());
      }
      const std::vector<uint8_t> before = levels;
      uint8_t want_due = 0;
      const uint8_t due = LevelPassRow(direction.data(), width, levels.data(), codes.data());
      for (size_t x = 0; x < w; ++x) {
        const bool active = (before[x] & 7) != 0;
        ASSERT_EQ(codes[x], active ? direction[x] & 0x7F : 0xFF) << target << " x " << x;
        ASSERT_EQ(levels[x], active ? before[x] - 1 : before[x]) << target << " x " << x;
        want_due = static_cast<uint8_t>(want_due | (levels[x] & 7));
      }
      ASSERT_EQ(due, want_due) << target << " width " << width;
    }
  });
}

// Row widths around and past every multiple of the four-lane steps, radii from 0 to wider than
// the row (so every stretch of the running sum is taken, alone or together), small values and
// values whose partial sums within a vector pass 2^31 while every window sum fits.
TEST(RowLoops, WindowSumsAlongARowMatchTheSerialSums) {
  std::mt19937 rng(47);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width = 1; width <= 40; ++width) {
      for (int radius : {0, 1, 2, 3, 4, 7, 19, 45}) {
        for (int kind = 0; kind < 2; ++kind) {
          // Kind 1: columns of about 2^31 / (2 radius + 1), whose differences swing widely.
          const int64_t most = kind == 0 ? 1000 : INT32_MAX / (2 * radius + 1);
          std::vector<int32_t> column(static_cast<size_t>(width));
          for (int32_t& c : column) {
            c = static_cast<int32_t>(rng() % 2 ? most - rng() % 5 : rng() % (most + 1));
          }
          std::vector<int32_t> want(column.size(), -1), got(column.size(), -2);
          SumAlongRowPlain(column.data(), width, radius, want.data());
          SumAlongRow(column.data(), width, radius, got.data());
          ASSERT_EQ(got, want) << target << " width " << width << " radius " << radius;
        }
      }
    }
  });
}

TEST(RowLoops, ColumnSumsTakeTheEnteringAndTheLeavingRow) {
  std::mt19937 rng(53);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {1, 7, 16, 31, 33, 64, 100}) {
      std::vector<uint8_t> in(static_cast<size_t>(width)), out(in.size());
      std::vector<int32_t> sums(in.size());
      for (size_t x = 0; x < in.size(); ++x) {
        in[x] = static_cast<uint8_t>(x % 3 == 0 ? 255 : rng());
        out[x] = static_cast<uint8_t>(x % 5 == 0 ? 255 : rng());
        sums[x] = static_cast<int32_t>(rng() % 100000) + 255;
      }
      auto want = sums;
      for (size_t x = 0; x < in.size(); ++x) want[x] += in[x] - out[x];
      SlideColumnSums(sums.data(), in.data(), out.data(), width);
      ASSERT_EQ(sums, want) << target << " both, width " << width;
      for (size_t x = 0; x < in.size(); ++x) want[x] += in[x];
      SlideColumnSums(sums.data(), in.data(), nullptr, width);
      ASSERT_EQ(sums, want) << target << " entering, width " << width;
      for (size_t x = 0; x < in.size(); ++x) want[x] -= out[x];
      SlideColumnSums(sums.data(), nullptr, out.data(), width);
      ASSERT_EQ(sums, want) << target << " leaving, width " << width;
    }
  });
}

// Empty windows, windows all boundary, counts up to the largest the 32-bit product takes, and
// every direction byte (background bit set, codes 120 .. 127 without a factor).
TEST(RowLoops, BoundaryDensityMatchesTheTruncatedShares) {
  std::mt19937 rng(59);
  std::vector<int32_t> factor(128);
  for (size_t c = 0; c < factor.size(); ++c) factor[c] = c < 120 ? kBoundaryDirectionFactor[c] : 0;
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {1, 9, 31, 64, 257}) {
      std::vector<int32_t> boundary(static_cast<size_t>(width)), counted(boundary.size());
      std::vector<uint8_t> direction(boundary.size()), out(boundary.size());
      for (size_t x = 0; x < boundary.size(); ++x) {
        const uint32_t kind = rng() % 4;
        counted[x] = kind == 0 ? 0 : static_cast<int32_t>(1 + rng() % (INT32_MAX / 255));
        boundary[x] = kind == 1   ? counted[x]
                      : kind == 2 ? counted[x] - static_cast<int32_t>(rng() % 2) * (counted[x] > 0)
                                  : static_cast<int32_t>(rng() % (uint32_t(counted[x]) + 1));
        direction[x] = static_cast<uint8_t>(rng());
      }
      BoundaryDensityRow(boundary.data(), counted.data(), direction.data(), factor.data(), width,
                         out.data());
      for (size_t x = 0; x < boundary.size(); ++x) {
        const int64_t density = counted[x] == 0 ? 0 : int64_t{boundary[x]} * 255 / counted[x];
        ASSERT_EQ(out[x], density * factor[direction[x] & 0x7F] / 100)
            << target << " width " << width << " x " << x;
      }
    }
  });
}

// The packed form: both counts in one sum, up to 2^16 - 1 pixels a window (the largest
// quotient single precision must get exactly), with the same shares as the two-sum form; and
// the packed column sums against the two counts slid apart, with entering rows of 255 so that
// a carry between the halves would show.
TEST(RowLoops, PackedBoundaryCountsMatchTheSeparateOnes) {
  std::mt19937 rng(67);
  std::vector<int32_t> factor(128);
  for (size_t c = 0; c < factor.size(); ++c) factor[c] = c < 120 ? kBoundaryDirectionFactor[c] : 0;
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {1, 9, 31, 33, 64, 257}) {
      const auto n = static_cast<size_t>(width);
      std::vector<int32_t> boundary(n), counted(n), packed(n);
      std::vector<uint8_t> direction(n), want(n), out(n);
      for (size_t x = 0; x < n; ++x) {
        const uint32_t kind = rng() % 4;
        counted[x] = kind == 0 ? 0 : static_cast<int32_t>(1 + rng() % 0xFFFF);
        boundary[x] = kind == 1   ? counted[x]
                      : kind == 2 ? counted[x] - static_cast<int32_t>(counted[x] > 0)
                                  : static_cast<int32_t>(rng() % (uint32_t(counted[x]) + 1));
        packed[x] = counted[x] + static_cast<int32_t>(static_cast<uint32_t>(boundary[x]) << 16);
        direction[x] = static_cast<uint8_t>(rng());
      }
      BoundaryDensityRow(boundary.data(), counted.data(), direction.data(), factor.data(), width,
                         want.data());
      BoundaryDensityPackedRow(packed.data(), direction.data(), factor.data(), width, out.data());
      ASSERT_EQ(out, want) << target << " width " << width;

      std::vector<uint8_t> low_in(n), high_in(n), low_out(n), high_out(n);
      for (size_t x = 0; x < n; ++x) {
        low_in[x] = static_cast<uint8_t>(x % 3 == 0 ? 255 : rng());
        high_in[x] = static_cast<uint8_t>(x % 2 == 0 ? 255 : rng());
        low_out[x] = static_cast<uint8_t>(rng() % (low_in[x] + 1u));
        high_out[x] = static_cast<uint8_t>(rng() % (high_in[x] + 1u));
      }
      std::vector<int32_t> sums(n, 0), low(n, 0), high(n, 0);
      auto check = [&](const char* step) {
        for (size_t x = 0; x < n; ++x) {
          ASSERT_EQ(sums[x], low[x] + high[x] * 65536) << target << " " << step << " x " << x;
        }
      };
      for (int i = 0; i < 3; ++i) {
        SlidePairedColumnSums(sums.data(), low_in.data(), high_in.data(), nullptr, nullptr, width);
        for (size_t x = 0; x < n; ++x) low[x] += low_in[x], high[x] += high_in[x];
      }
      check("entering");
      SlidePairedColumnSums(sums.data(), low_in.data(), high_in.data(), low_out.data(),
                            high_out.data(), width);
      for (size_t x = 0; x < n; ++x) {
        low[x] += low_in[x] - low_out[x];
        high[x] += high_in[x] - high_out[x];
      }
      check("both");
      SlidePairedColumnSums(sums.data(), nullptr, nullptr, low_in.data(), high_in.data(), width);
      for (size_t x = 0; x < n; ++x) low[x] -= low_in[x], high[x] -= high_in[x];
      check("leaving");
    }
  });
}

// The variation sums of a row entering, a row leaving and both at once, against the
// differences taken one by one, on widths from 1 to past two vectors of bytes and on rows of
// only 0 and 255 (variations of 510).
TEST(RowLoops, VariationSumsTakeTheEnteringAndTheLeavingRow) {
  std::mt19937 rng(61);
  auto diff = [](int a, int b) { return a > b ? a - b : b - a; };
  ForEachVectorTarget([&](const std::string& target) {
    // Past 64 columns: whole blocks and an overlapping last block that skips columns.
    for (int width = 1; width <= 200; width += (width < 20 ? 1 : width < 70 ? 7 : 61)) {
      for (int extreme = 0; extreme < 2; ++extreme) {
        std::vector<std::vector<uint8_t>> rows(6, std::vector<uint8_t>(static_cast<size_t>(width)));
        for (auto& row : rows) {
          for (uint8_t& p : row) p = static_cast<uint8_t>(extreme ? 255 * (rng() % 2) : rng());
        }
        // Variation sums along codes 0, 30, 60, 90 of row r (its neighbours r - 1, r + 1).
        auto add = [&](std::vector<std::vector<int32_t>>& s, int r, int sign) {
          const auto& u = rows[static_cast<size_t>(r - 1)];
          const auto& m = rows[static_cast<size_t>(r)];
          const auto& d = rows[static_cast<size_t>(r + 1)];
          for (size_t x = 1; x + 1 < m.size(); ++x) {
            s[0][x] += sign * (diff(m[x], m[x - 1]) + diff(m[x], m[x + 1]));
            s[1][x] += sign * (diff(m[x], u[x - 1]) + diff(m[x], d[x + 1]));
            s[2][x] += sign * (diff(m[x], u[x]) + diff(m[x], d[x]));
            s[3][x] += sign * (diff(m[x], d[x - 1]) + diff(m[x], u[x + 1]));
          }
        };
        std::vector<std::vector<int32_t>> want(4, std::vector<int32_t>(rows[0].size(), 5000));
        auto got = want;
        auto slide = [&](int e, int l) {
          auto row = [&](int r) { return r < 0 ? nullptr : rows[static_cast<size_t>(r)].data(); };
          SlideVariationSums(row(e < 0 ? -1 : e - 1), row(e), row(e < 0 ? -1 : e + 1),
                             row(l < 0 ? -1 : l - 1), row(l), row(l < 0 ? -1 : l + 1), width,
                             got[0].data(), got[1].data(), got[2].data(), got[3].data());
          if (e >= 0) add(want, e, 1);
          if (l >= 0) add(want, l, -1);
        };
        slide(1, -1);
        ASSERT_EQ(got, want) << target << " entering, width " << width;
        slide(4, 1);
        ASSERT_EQ(got, want) << target << " both, width " << width;
        slide(-1, 2);
        ASSERT_EQ(got, want) << target << " leaving, width " << width;
      }
    }
  });
}

// Every pixel value against every mean with deviations from 0 (empty band) past 255 (band
// clipped at both ends), window counts of 1 and of the largest rows, sums on and beside the
// multiples of the count.
TEST(RowLoops, StretchMatchesTheBandFormula) {
  auto plain = [](int s, int mean, int deviation) {
    const int lo = std::max(mean - deviation, 0);
    const int hi = std::min(mean + deviation, 255);
    if (lo == hi) return s;
    if (s <= lo) return 0;
    if (s >= hi) return 255;
    return (s - lo) * 255 / (hi - lo);
  };
  ForEachVectorTarget([&](const std::string& target) {
    for (int32_t count : {1, 25, 625, 8'000'000}) {
      for (int deviation : {0, 1, 2, 17, 128, 255}) {
        for (int mean = 0; mean < 256; mean += 3) {
          std::vector<int32_t> sums(256);
          std::vector<uint8_t> source(256), out(256);
          for (int s = 0; s < 256; ++s) {
            const auto i = static_cast<size_t>(s);
            // A sum from deviation x count to just below the next multiple.
            sums[i] = deviation * count + (s % 2 == 0 ? 0 : count - 1);
            source[i] = static_cast<uint8_t>(s);
            out[i] = static_cast<uint8_t>(mean);
          }
          if (int64_t{deviation + 1} * count > INT32_MAX) continue;
          // The count as columns x rows: one row of count columns, or count / 25 rows of 25.
          const int32_t rows = count % 25 == 0 ? count / 25 : 1;
          const std::vector<int32_t> columns(256, count / rows);
          StretchRow(sums.data(), source.data(), columns.data(), rows, 1, 255, out.data());
          ASSERT_EQ(out[0], mean) << "written before begin";
          ASSERT_EQ(out[255], mean) << "written past end";
          for (int s = 1; s < 255; ++s) {
            ASSERT_EQ(out[static_cast<size_t>(s)], plain(s, mean, deviation))
                << target << " s " << s << " mean " << mean << " deviation " << deviation
                << " count " << count;
          }
        }
      }
    }
  });
}

// Windows clipped at the border hold fewer pixels, each its own count; rows of odd lengths
// with a mean of their own per pixel, so that a block that read a neighbour block's output in
// place of its means would show.
TEST(RowLoops, StretchTakesEachPixelsCount) {
  std::mt19937 rng(59);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {1, 17, 32, 33, 95, 426}) {
      const auto n = static_cast<size_t>(width);
      std::vector<int32_t> sums(n), columns(n);
      std::vector<uint8_t> source(n), means(n);
      const int32_t rows = static_cast<int32_t>(1 + rng() % 33);
      for (size_t i = 0; i < n; ++i) {
        columns[i] = static_cast<int32_t>(1 + rng() % 33);
        sums[i] = static_cast<int32_t>(rng() % static_cast<uint32_t>(255 * columns[i] * rows + 1));
        source[i] = static_cast<uint8_t>(rng());
        means[i] = static_cast<uint8_t>(rng());
      }
      std::vector<uint8_t> out = means;
      StretchRow(sums.data(), source.data(), columns.data(), rows, 0, width, out.data());
      for (size_t i = 0; i < n; ++i) {
        const int deviation = sums[i] / (columns[i] * rows);
        const int lo = std::max(means[i] - deviation, 0);
        const int hi = std::min(means[i] + deviation, 255);
        const int s = source[i];
        const int want = lo == hi ? s : s <= lo ? 0 : s >= hi ? 255 : (s - lo) * 255 / (hi - lo);
        ASSERT_EQ(out[i], want) << target << " width " << width << " x " << i;
      }
    }
  });
}

// Window counts from 2 to the largest the multiplication is exact for (255 d^2 < 2^32), sums
// on and beside the multiples of the counts, pixels on both sides of the threshold.
TEST(RowLoops, PreBinarisationMatchesTheDividedMeans) {
  std::mt19937 rng(71);
  ForEachVectorTarget([&](const std::string& target) {
    for (uint32_t small_count : {2u, 9u, 49u, 4103u}) {
      for (uint32_t large_count : {3u, 225u, 1089u, 4103u}) {
        const int width = 77;
        std::vector<int32_t> small(static_cast<size_t>(width)), large(small.size());
        std::vector<uint8_t> source(small.size()), out(small.size(), 7);
        for (size_t x = 0; x < small.size(); ++x) {
          const auto slack_s = static_cast<uint32_t>(rng() % 3),
                     slack_l = static_cast<uint32_t>(rng() % 3);
          const auto mean_s = static_cast<uint32_t>(rng() % 256),
                     mean_l = static_cast<uint32_t>(rng() % 256);
          small[x] = static_cast<int32_t>(
              std::min(255 * small_count, mean_s * small_count + slack_s * (small_count - 1) / 2));
          large[x] = static_cast<int32_t>(
              std::min(255 * large_count, mean_l * large_count + slack_l * (large_count - 1) / 2));
          const int32_t t = (large[x] / static_cast<int32_t>(large_count) +
                             small[x] / static_cast<int32_t>(small_count)) /
                            2;
          source[x] = static_cast<uint8_t>(
              std::clamp<int32_t>(t + static_cast<int32_t>(rng() % 3) - 1, 0, 255));
        }
        auto reciprocal = [](uint32_t d) {
          return static_cast<uint32_t>(((uint64_t{1} << 32) + d - 1) / d);
        };
        PreBinarizeRow(small.data(), large.data(), source.data(), 1, width - 1,
                       reciprocal(small_count), reciprocal(large_count), out.data());
        ASSERT_EQ(out[0], 7);
        ASSERT_EQ(out[static_cast<size_t>(width - 1)], 7);
        for (size_t x = 1; x + 1 < small.size(); ++x) {
          const int32_t t = (large[x] / static_cast<int32_t>(large_count) +
                             small[x] / static_cast<int32_t>(small_count)) /
                            2;
          ASSERT_EQ(out[x], source[x] >= t ? 255 : 0)
              << target << " counts " << small_count << ", " << large_count << " x " << x;
        }
      }
    }
  });
}

// The foreground loops against their per-pixel rules: widths around the block and vector
// sizes, limits at 0, inside and past the byte range, singular-point marks on pixels either
// way, and direction bytes whose other bits must survive.
TEST(RowLoops, ForegroundRowsMatchThePixelRule) {
  std::mt19937 rng(53);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {1, 7, 31, 33, 64, 97}) {
      const auto n = static_cast<size_t>(width);
      for (int32_t limit : {0, 1, 128, 255, 256}) {
        std::vector<uint8_t> in(n), out(n), near(n), iso(n), dir(n);
        std::vector<int32_t> counts(n), usable(n);
        for (size_t i = 0; i < n; ++i) {
          in[i] = static_cast<uint8_t>(rng());
          out[i] = static_cast<uint8_t>(rng() % 3 == 0 ? limit - 1 : rng());
          near[i] = static_cast<uint8_t>(rng() % 4 == 0);
          iso[i] = static_cast<uint8_t>(rng());
          dir[i] = static_cast<uint8_t>(rng());
          counts[i] = static_cast<int32_t>(rng() % 100);
          usable[i] = static_cast<int32_t>(rng() % 40);
        }
        for (int mode = 0; mode < 3; ++mode) {
          const uint8_t* entering = mode == 2 ? nullptr : in.data();
          const uint8_t* leaving = mode == 1 ? nullptr : out.data();
          std::vector<int32_t> got = counts, want = counts;
          CountBelowLimit(got.data(), entering, leaving, limit, width);
          for (size_t i = 0; i < n; ++i) {
            if (entering != nullptr && in[i] < limit) ++want[i];
            if (leaving != nullptr && out[i] < limit) --want[i];
          }
          ASSERT_EQ(got, want) << target << " width " << width << " mode " << mode;
        }
        std::vector<uint8_t> got_dir = dir;
        int32_t sum = 5, count = 3;
        ForegroundRow(usable.data(), 20, near.data(), iso.data(), width, got_dir.data(), &sum,
                      &count);
        int32_t want_sum = 5, want_count = 3;
        for (size_t i = 0; i < n; ++i) {
          const bool foreground = usable[i] > 20 || near[i] != 0;
          ASSERT_EQ(got_dir[i], foreground ? dir[i] : dir[i] | kBackgroundBit)
              << target << " width " << width << " x " << i;
          if (foreground) want_sum += iso[i], ++want_count;
        }
        ASSERT_EQ(sum, want_sum) << target << " width " << width;
        ASSERT_EQ(count, want_count) << target << " width " << width;
      }
    }
  });
}

// The boundary indicators and counts against the 3 x 3 rule, on binary rows of widths around
// the vector sizes: sparse and dense black, uniform blocks both ways, background bits either
// way; the edge columns stay unwritten.
TEST(RowLoops, BoundaryIndicatorsAndCountsMatchTheBlockRule) {
  std::mt19937 rng(61);
  ForEachVectorTarget([&](const std::string& target) {
    for (int width : {3, 4, 17, 33, 66, 131}) {
      for (int kind = 0; kind < 3; ++kind) {
        const auto n = static_cast<size_t>(width);
        std::vector<uint8_t> rows[3];
        for (auto& row : rows) {
          row.resize(n);
          for (uint8_t& p : row) {
            // Kind 0: mixed, 1: mostly white (uniform blocks), 2: mostly black.
            const uint32_t r = rng() % 16;
            p = kind == 0 ? (r < 8 ? 255 : 0) : kind == 1 ? (r > 0 ? 255 : 0) : (r > 0 ? 0 : 255);
          }
        }
        std::vector<uint8_t> direction(n);
        for (uint8_t& d : direction)
          d = static_cast<uint8_t>(rng() % 3 == 0 ? 0x80 | rng() : rng() % 120);
        std::vector<uint16_t> column(n);
        std::vector<uint8_t> foreground(n, 7), boundary(n, 7);
        BoundaryIndicatorRow(rows[0].data(), rows[1].data(), rows[2].data(), direction.data(),
                             width, column.data(), foreground.data(), boundary.data());
        int32_t counted = 11, edges = 13;
        BoundaryCountRow(rows[0].data(), rows[1].data(), rows[2].data(), direction.data(), width,
                         &counted, &edges);
        int32_t want_counted = 11, want_edges = 13;
        ASSERT_EQ(foreground[0], 7) << "column 0 written";
        ASSERT_EQ(boundary[n - 1], 7) << "last column written";
        for (size_t x = 1; x + 1 < n; ++x) {
          int block = 0;
          for (const auto& row : rows) block += row[x - 1] + row[x] + row[x + 1];
          const bool is_counted = (direction[x] & kBackgroundBit) == 0;
          const bool is_edge = is_counted && block != 0 && block != 9 * 255;
          ASSERT_EQ(foreground[x], is_counted ? 1 : 0)
              << target << " width " << width << " x " << x;
          ASSERT_EQ(boundary[x], is_edge ? 1 : 0) << target << " width " << width << " x " << x;
          want_counted += is_counted;
          want_edges += is_edge;
        }
        ASSERT_EQ(counted, want_counted) << target << " width " << width;
        ASSERT_EQ(edges, want_edges) << target << " width " << width;
      }
    }
  });
}

// The vectorised local means against core's BoxMean and BoxMean3 (radius 1): sizes around the
// block width and the window, 3 x 3 and 2-pixel-high images, radii whose windows span the whole
// image or hit the exactness limit of the reciprocals (radius 31: 63^2 = 3969 pixels), and images
// of all 255 (the largest sums) or patterned saturation; then the recorded local means of the
// prints.
TEST(RowLoops, LocalMeanIsBoxMean) {
  struct Case {
    int width, height, radius;
  };
  const Case cases[] = {{1, 1, 0},   {1, 1, 3},    {2, 1, 0},    {1, 9, 2},     {5, 2, 16},
                        {31, 3, 1},  {33, 34, 16}, {40, 36, 0},  {67, 41, 16},  {131, 9, 2},
                        {97, 70, 7}, {64, 64, 31}, {70, 66, 32}, {129, 45, 12}, {3, 3, 1},
                        {2, 7, 1},   {34, 2, 1},   {35, 5, 1},   {97, 61, 1}};
  std::mt19937 rng(7);
  ForEachVectorTarget([&](const std::string& target) {
    for (const Case& c : cases) {
      for (int fill = 0; fill < 3; ++fill) {
        auto pixel = [&](int x, int y) -> uint8_t {
          if (fill == 0) return 255;
          if (fill == 1) return static_cast<uint8_t>((x / 5 + y / 3) % 2 == 0 ? 255 : rng() % 4);
          return static_cast<uint8_t>(rng());
        };
        TestImage fast(c.width, c.height, pixel);
        TestImage reference(c.width, c.height, [&](int x, int y) { return fast.get()[y][x]; });
        if (c.radius == 1) {  // the 3 x 3 form
          ASSERT_TRUE(LocalMean3(c.width, c.height, fast.get()));
          ASSERT_TRUE(BoxMean3(c.width, c.height, reference.get()));
        } else {
          ASSERT_TRUE(LocalMean(c.width, c.height, fast.get(), c.radius));
          ASSERT_TRUE(BoxMean(c.width, c.height, reference.get(), c.radius));
        }
        for (int y = 0; y < c.height; ++y) {
          for (int x = 0; x < c.width; ++x) {
            ASSERT_EQ(fast.get()[y][x], reference.get()[y][x])
                << target << " " << c.width << "x" << c.height << " r" << c.radius << " fill "
                << fill << " at " << x << "," << y;
          }
        }
      }
    }
    const auto inputs = testing::GoldenStageImages("02_input_boxmean3.pgm");
    const auto means = testing::GoldenStageImages("03_local_mean.pgm");
    ASSERT_EQ(inputs.size(), means.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
      const int w = inputs[i]->width(), h = inputs[i]->height();
      TestImage out(w, h, [&](int x, int y) { return inputs[i]->get()[y][x]; });
      ASSERT_TRUE(LocalMean(w, h, out.get(), 16));
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          ASSERT_EQ(out.get()[y][x], means[i]->get()[y][x]) << target << " case " << i;
        }
      }
    }
  });
}

// The whole stages on the prints' recorded inputs: every instruction set gives the bytes the
// first one gives (which the stage tests check against windows summed directly).
TEST(RowLoops, GoldenStagesAgreeInEveryInstructionSet) {
  const auto smoothed = testing::GoldenStageImages("13_smoothed_stretched.pgm");
  const auto sources = testing::GoldenStageImages("19_smoothed_input.pgm");
  const auto maps = testing::GoldenStageImages("20c_clarity_map.pgm");
  const auto inputs = testing::GoldenStageImages("02_input_boxmean3.pgm");
  const auto means = testing::GoldenStageImages("03_local_mean.pgm");
  const auto recorded = testing::GoldenStageImages("04_stretched.pgm");
  if (smoothed.empty() || sources.empty() || sources.size() != maps.size() ||
      inputs.size() != means.size() || inputs.size() != recorded.size()) {
    GTEST_SKIP() << "no golden vectors";
  }
  const EngineParams params = DefaultEngineParams();
  auto copy = [](const TestImage& image) {
    return std::make_unique<TestImage>(image.width(), image.height(),
                                       [&](int x, int y) { return image.get()[y][x]; });
  };
  auto same = [](const TestImage& a, const TestImage& b) {
    for (int y = 0; y < a.height(); ++y) {
      for (int x = 0; x < a.width(); ++x) {
        if (a.get()[y][x] != b.get()[y][x]) return false;
      }
    }
    return true;
  };
  std::vector<std::unique_ptr<TestImage>> first;
  int run = 0;
  ForEachVectorTarget([&](const std::string& target) {
    size_t k = 0;
    for (const auto& source : smoothed) {
      auto iso = copy(*source);
      TestImage dir(source->width(), source->height());
      ASSERT_TRUE(EstimatePixelDirections(source->width(), source->height(), iso->get(), dir.get(),
                                          12, 23));
      auto both =
          std::make_unique<TestImage>(source->width(), 2 * source->height(), [&](int x, int y) {
            return y < source->height() ? iso->get()[y][x] : dir.get()[y - source->height()][x];
          });
      if (run == 0) {
        first.push_back(std::move(both));
      } else {
        EXPECT_TRUE(same(*both, *first[k])) << target << " pixel directions, case " << k;
      }
      ++k;
    }
    // The contrast stretch against the recorded stretched images themselves.
    for (size_t i = 0; i < inputs.size(); ++i) {
      auto stretched = copy(*means[i]);
      ASSERT_TRUE(ContrastStretch(inputs[i]->width(), inputs[i]->height(), inputs[i]->get(),
                                  stretched->get(), 16));
      EXPECT_TRUE(same(*stretched, *recorded[i])) << target << " contrast stretch, case " << i;
    }
    for (size_t i = 0; i < sources.size(); ++i) {
      auto binary = copy(*sources[i]);
      ASSERT_TRUE(AdaptiveBinarize(&params, binary->width(), binary->height(), binary->get(),
                                   maps[i]->get()));
      if (run == 0) {
        first.push_back(std::move(binary));
      } else {
        EXPECT_TRUE(same(*binary, *first[k])) << target << " binarisation, case " << i;
      }
      ++k;
    }
    ++run;
  });
}

}  // namespace
}  // namespace ridgeline
