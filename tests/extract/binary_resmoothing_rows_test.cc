// The re-smoothing, direction refresh and level smoothing against their earlier scalar forms,
// kept here as the reference: one running sum along the row per gradient and the pixel form of
// the direction estimate. Both must give the same bytes on random images of awkward sizes and
// on the recorded images of the golden prints.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/engine_params.h"
#include "extract/binary_resmoothing.h"
#include "extract/gradient_window_rows.h"
#include "extract/oriented_smoothing.h"
#include "extract/window_sums.h"
#include "tests/support/images.h"
#include "tests/support/shared_data.h"
#include "tests/support/vector_targets.h"
#include "tools/golden/lib/golden.h"

#if RIDGELINE_HIGHWAY
#include "extract/direction_estimate_vector.h"
#endif

namespace ridgeline {
namespace {

using testing::TestImage;

namespace reference {

// The four gradient window sums of one row, each gradient in its own ring and running sums.
class GradientWindows {
 public:
  void Init(int width, int height, int radius) {
    width_ = width;
    height_ = height;
    radius_ = radius;
    for (int g = 0; g < 4; ++g) {
      ASSERT_TRUE(rings_[g].Init(width, 2 * radius + 2));
      ASSERT_TRUE(sums_[g].Init(width, height, radius));
    }
  }
  template <typename RowSource>
  void Slide(int y, RowSource&& rows) {
    for (; made_ < height_ && made_ <= y + radius_; ++made_) {
      std::array<uint16_t*, 4> out;
      for (int g = 0; g < 4; ++g) {
        out[g] = rings_[g].Row(made_);
        std::fill(out[g], out[g] + width_, uint16_t{0});
      }
      if (made_ < 1 || made_ > height_ - 2) continue;
      const uint8_t* a = rows(made_ - 1);
      const uint8_t* c = rows(made_);
      const uint8_t* b = rows(made_ + 1);
      for (int x = 1; x < width_ - 1; ++x) {
        auto d = [&](const uint8_t* p, int dp, const uint8_t* q, int dq) {
          return static_cast<uint16_t>(std::abs(c[x] - p[x + dp]) + std::abs(c[x] - q[x + dq]));
        };
        out[0][x] = d(c, -1, c, 1);
        out[1][x] = d(a, -1, b, 1);
        out[2][x] = d(a, 0, b, 0);
        out[3][x] = d(b, -1, a, 1);
      }
    }
    for (int g = 0; g < 4; ++g) sums_[g].Slide(y, [&](int r) { return rings_[g].Row(r); });
  }
  const int32_t* Sums(int g) const { return sums_[g].Sums(); }
  DirectionEstimate At(int x) const {
    return EstimateDirection(sums_[0].Sum(x), sums_[1].Sum(x), sums_[2].Sum(x), sums_[3].Sum(x));
  }

 private:
  int width_ = 0, height_ = 0, radius_ = 0, made_ = 0;
  std::array<RowRing<uint16_t>, 4> rings_;
  std::array<WindowSums<uint16_t>, 4> sums_;
};

void ReSmoothBinary(const EngineParams& params, int w, int h, GrayImage image, int radius) {
  std::vector<uint8_t> codes(static_cast<size_t>(w));
  for (int pass = 0; pass < params.BinarySmoothPasses; ++pass) {
    SmoothingWindow window;
    ASSERT_TRUE(window.Init(w, h, std::max(kKernelReach, radius + 1)));
    GradientWindows gradients;
    gradients.Init(w, h, radius);
    for (int y = 0; y < h; ++y) {
      window.Advance(image, y);
      gradients.Slide(y, [&](int r) { return window.Row(r); });
      EstimateDirectionCodes(gradients.Sums(0), gradients.Sums(1), gradients.Sums(2),
                             gradients.Sums(3), w, codes.data());
      window.SmoothRow(codes.data(), image[y]);
    }
  }
}

void RefreshDirections(const EngineParams& params, int w, int h, const uint8_t* const* image,
                       GrayImage direction, GrayImage level, const SingularPointList& points,
                       int radius) {
  GradientWindows gradients;
  gradients.Init(w, h, radius);
  for (int y = 0; y < h; ++y) {
    gradients.Slide(y, [&](int r) { return image[r]; });
    for (int x = 0; x < w; ++x) {
      const DirectionEstimate e = gradients.At(x);
      const uint8_t background = direction[y][x] & kBackgroundBit;
      direction[y][x] = static_cast<uint8_t>(e.code | background);
      level[y][x] &= static_cast<uint8_t>(~7);
      bool near = false;
      for (int i = 0; i < std::clamp(points.Count, 0, kSingularCapacity); ++i) {
        const int dx = points.X[i] - x, dy = points.Y[i] - y;
        near = near || dx * dx + dy * dy < 9;
      }
      if (background == 0 && !near)
        level[y][x] |= static_cast<uint8_t>(SmoothLevel(params, e.anisotropy));
    }
  }
}

// Every row of every pass, each pixel with a round due by the pixel rule.
void LevelSmooth(int w, int h, GrayImage image, const uint8_t* const* direction, GrayImage level) {
  for (bool due = true; due;) {
    SmoothingWindow window;
    ASSERT_TRUE(window.Init(w, h));
    due = false;
    for (int y = 0; y < h; ++y) {
      window.Advance(image, y);
      for (int x = 0; x < w; ++x) {
        if ((level[y][x] & 7) == 0) continue;
        image[y][x] = window.Smooth(x, direction[y][x] & kCodeMask);
        --level[y][x];
        due = due || (level[y][x] & 7) != 0;
      }
    }
  }
}

}  // namespace reference

EngineParams Defaults() {
  EngineParams params{};
  InitEngineParams(&params);
  return params;
}

TestImage Copy(const TestImage& image) {
  return TestImage(image.width(), image.height(), [&](int x, int y) { return image.get()[y][x]; });
}

void ExpectSame(const TestImage& got, const TestImage& want, const std::string& what) {
  for (int y = 0; y < want.height(); ++y)
    for (int x = 0; x < want.width(); ++x)
      ASSERT_EQ(got.get()[y][x], want.get()[y][x]) << what << " at " << x << "," << y;
}

// Runs all three stages both ways from the same inputs and compares every output byte.
void ExpectStagesAgree(const TestImage& image, const TestImage& direction, const TestImage& level,
                       const SingularPointList& points, int radius, const std::string& what) {
  const int w = image.width(), h = image.height();
  const EngineParams params = Defaults();
  TestImage resmoothed = Copy(image), want_resmoothed = Copy(image);
  ASSERT_TRUE(ReSmoothBinary(&params, w, h, resmoothed.get(), radius));
  reference::ReSmoothBinary(params, w, h, want_resmoothed.get(), radius);
  ExpectSame(resmoothed, want_resmoothed, what + " resmoothed");

  TestImage dir = Copy(direction), want_dir = Copy(direction);
  TestImage lev = Copy(level), want_lev = Copy(level);
  ASSERT_TRUE(
      RefreshDirections(&params, w, h, resmoothed.get(), dir.get(), lev.get(), &points, radius));
  reference::RefreshDirections(params, w, h, resmoothed.get(), want_dir.get(), want_lev.get(),
                               points, radius);
  ExpectSame(dir, want_dir, what + " directions");
  ExpectSame(lev, want_lev, what + " levels");

  TestImage smoothed = Copy(resmoothed);
  ASSERT_TRUE(LevelSmooth(w, h, smoothed.get(), dir.get(), lev.get()));
  reference::LevelSmooth(w, h, resmoothed.get(), want_dir.get(), want_lev.get());
  ExpectSame(smoothed, resmoothed, what + " level-smoothed");
  ExpectSame(lev, want_lev, what + " levels after");
}

TEST(ResmoothingRows, AgreeWithTheScalarFormsOnRandomImagesOfOddSizes) {
  std::mt19937 rng(20);
  // Widths and heights of one pixel, below and above the 25-pixel window, not a multiple of
  // any vector width; radii of 0, small, the pipeline's 12, beyond the image, and 70, whose
  // window sums are too large for the row estimate and take the pixel estimate; 63, the widest
  // window whose row sums are kept in 16 bits (the alternating fills reach 127 x 510), and 64,
  // the first kept in 32.
  const struct {
    int w, h, radius;
  } cases[] = {{1, 1, 12},    {1, 9, 2},    {7, 1, 3},    {2, 5, 0},     {37, 29, 12},
               {61, 40, 12},  {13, 17, 1},  {23, 45, 5},  {30, 8, 40},   {9, 70, 12},
               {150, 30, 70}, {140, 9, 63}, {140, 9, 64}, {333, 90, 12}, {200, 61, 3}};
  for (const auto& c : cases) {
    for (int fill = 0; fill < 5; ++fill) {
      // Binary blobs (the first binarisation), noise, the extremes alternating by pixel and by
      // column, and blobs on a flat background with a flat hole (rows and blocks of windows
      // without any change, which are skipped).
      TestImage image(c.w, c.h, [&](int x, int y) -> uint8_t {
        if (fill == 4) {
          const bool island = x > c.w / 5 && x < c.w * 4 / 5 && y > c.h / 3 && y < c.h - 3;
          const bool hole = std::abs(x - c.w / 2) < 4 && std::abs(y - c.h * 2 / 3) < 4;
          if (!island || hole) return 255;
        }
        if (fill == 0 || fill == 4)
          return ((x / 3 + y / 4 + static_cast<int>(rng() % 3)) % 2) != 0 ? 255 : 0;
        if (fill == 1) return static_cast<uint8_t>(rng());
        if (fill == 2) return ((x + y) % 2) != 0 ? 255 : 0;
        return (x % 2) != 0 ? 255 : 0;
      });
      TestImage direction(
          c.w, c.h, [&](int, int) { return static_cast<uint8_t>(rng() % 5 == 0 ? 0x80 : 0); });
      TestImage level(c.w, c.h, [&](int, int) { return static_cast<uint8_t>(rng()); });
      // Points inside, on the edges and outside the image.
      SingularPointList points{};
      points.Count = 4;
      const int xs[] = {c.w / 2, 0, c.w + 1, -2}, ys[] = {c.h / 2, c.h - 1, 1, c.h};
      for (int i = 0; i < 4; ++i) {
        points.X[i] = xs[i];
        points.Y[i] = ys[i];
      }
      // The gradient rows, column steps, estimates and smoothing of every instruction set.
      testing::ForEachVectorTarget([&](const std::string& target) {
        ExpectStagesAgree(image, direction, level, points, c.radius,
                          target + " " + std::to_string(c.w) + "x" + std::to_string(c.h) + " r" +
                              std::to_string(c.radius) + " fill " + std::to_string(fill));
      });
    }
  }
}

// The level smoothing where few pixels have rounds due, as in its late passes: bands of rows
// with nothing due (longer than the kernel's reach, so the window skips copying rows, and
// shorter), lone due pixels, runs of due pixels starting at every offset of a granule, and due
// pixels at the row ends only, with levels up to 7 so that the due rows thin out pass by pass;
// the bytes and levels must be the pixel rule's in every instruction set.
TEST(ResmoothingRows, SparseLevelSmoothingAgreesWithThePixelRule) {
  std::mt19937 rng(33);
  const std::pair<int, int> sizes[] = {{61, 57}, {100, 40}, {29, 33}, {17, 70}, {1, 30}, {40, 1}};
  for (const auto& size : sizes) {
    // Plain names rather than a structured binding: the lambdas below capture them.
    const int w = size.first, h = size.second;
    for (int pattern = 0; pattern < 5; ++pattern) {
      TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(rng()); });
      TestImage direction(w, h, [&](int x, int y) {
        // A slowly turning field with pixels without direction and the background bit.
        const int code = (x + 2 * y) % 130;
        return static_cast<uint8_t>((code >= 120 ? kNoDirection : code) |
                                    (rng() % 4 == 0 ? 0x80 : 0));
      });
      TestImage level(w, h, [&](int x, int y) -> uint8_t {
        const auto other = static_cast<uint8_t>(rng() & 0xF8);  // the clarity bits stay put
        const auto rounds = static_cast<uint8_t>(1 + rng() % 7);
        bool due = false;
        if (pattern == 0) due = rng() % 40 == 0;                         // lone pixels
        if (pattern == 1) due = (y / 15) % 2 == 1 && rng() % 3 == 0;     // long bands of rows
        if (pattern == 2) due = y % 9 < 2 && (x + 3 * y) % 23 < y % 17;  // runs at every offset
        if (pattern == 3) due = y == h / 2 || x == w / 3;                // one row, one column
        if (pattern == 4) due = (x == 0 || x == w - 1) && y % 3 != 0;    // the row ends only
        return static_cast<uint8_t>(other | (due ? rounds : 0));
      });
      testing::ForEachVectorTarget([&](const std::string& target) {
        TestImage got = Copy(image), want = Copy(image);
        TestImage got_level = Copy(level), want_level = Copy(level);
        ASSERT_TRUE(LevelSmooth(w, h, got.get(), direction.get(), got_level.get()));
        reference::LevelSmooth(w, h, want.get(), direction.get(), want_level.get());
        const std::string what = target + " " + std::to_string(w) + "x" + std::to_string(h) +
                                 " pattern " + std::to_string(pattern);
        ExpectSame(got, want, what);
        ExpectSame(got_level, want_level, what + " levels");
      });
    }
  }
}

// The sums along a row as shifted loads over run sums, in 16 and 32 bits, against the plain
// sum of each window: spans split into runs with and without single values left over, rows
// narrower than a block, a block wide and just past it, and values that wrap 16 bits.
template <typename T>
void ExpectBoxRowsAreWindowSums(std::mt19937& rng) {
  const int spans[] = {1, 2, 3, 7, 24, 25, 26, 31, 49, 141};
  const int widths[] = {
      1, 5, gradient_rows::kBlock - 1, gradient_rows::kBlock, gradient_rows::kBlock + 1, 97};
  const size_t block = gradient_rows::kBlock;
  for (const int span : spans) {
    const gradient_rows::WindowSplit split = gradient_rows::SplitWindow(span);
    ASSERT_EQ(split.run * split.runs + split.rest, span);
    for (const int width : widths) {
      const size_t stride = static_cast<size_t>(width + span) + block + 3;
      const size_t out_stride = static_cast<size_t>(width) + block + 1;
      std::vector<uint16_t> gradients(4 * stride + block + static_cast<size_t>(span));
      for (auto& v : gradients) {
        const uint32_t pick = rng() % 4;
        v = static_cast<uint16_t>(pick == 0 ? 65535 - rng() % 3 : pick == 1 ? 0 : rng() % 511);
      }
      std::vector<T> runs(4 * stride + block);
      // All blocks of the row, and each block alone: the others must stay as they were.
      const size_t blocks = (static_cast<size_t>(width) + block - 1) / block;
      std::vector<gradient_rows::BlockRange> ranges = {{0, blocks}};
      for (size_t b = 0; b < blocks && blocks > 1; ++b) ranges.push_back({b, b + 1});
      for (const gradient_rows::BlockRange range : ranges) {
        testing::ForEachVectorTarget([&](const std::string& target) {
          std::vector<T> out(4 * out_stride, T{7});
#if RIDGELINE_HIGHWAY
          BoxRowVector(gradients.data(), stride, range, split, runs.data(), out.data(), out_stride);
#else
          gradient_rows::BoxRow(gradients.data(), stride, range, split, runs.data(), out.data(),
                                out_stride);
#endif
          for (size_t g = 0; g < 4; ++g) {
            for (int x = 0; x < width; ++x) {
              const auto b = static_cast<size_t>(x) / block;
              if (b < range.first || b >= range.last) {
                ASSERT_EQ(out[g * out_stride + static_cast<size_t>(x)], T{7}) << target;
                continue;
              }
              T want = 0;
              for (int k = 0; k < span; ++k) {
                want = static_cast<T>(want + gradients[g * stride + static_cast<size_t>(x + k)]);
              }
              ASSERT_EQ(out[g * out_stride + static_cast<size_t>(x)], want)
                  << target << " span " << span << " width " << width << " plane " << g << " x "
                  << x << " blocks " << range.first << ".." << range.last;
            }
          }
        });
      }
    }
  }
}

// The blocks of row sums a gradient row can leave nonzero cover every window that reaches a
// set gradient, and the column step over blocks equals the plain step of rows that are 0
// outside their blocks: rows flat but for single gradients at block edges, at both row ends,
// and wholly flat, stepped in and out with every overlap of their blocks.
TEST(ResmoothingRows, FlatBlocksAreSkippedExactly) {
  const size_t block = gradient_rows::kBlock;
  const int radius = 12;
  std::mt19937 rng(3);
  for (const int width : {1, 40, 64, 65, 200, 333}) {
    const size_t stride = static_cast<size_t>(width + 2 * radius + 1) + 2 * block;
    const size_t blocks = (static_cast<size_t>(width) + block - 1) / block;
    std::vector<std::vector<uint16_t>> rows;  // row sums, 0 outside each row's blocks
    std::vector<gradient_rows::BlockRange> ranges;
    for (int set : {-1, 0, 63, 64, 127, 180, width - 1}) {
      if (set >= width) continue;
      for (int plane = 0; plane < 4; plane += 3) {
        std::vector<uint16_t> gradients(4 * stride + block, 0);
        if (set >= 0) gradients[static_cast<size_t>(plane) * stride + static_cast<size_t>(set)] = 9;
        testing::ForEachVectorTarget([&](const std::string& target) {
          const gradient_rows::BlockRange range =
              gradient_rows::RowSumBlocks(gradients.data(), stride, width, radius);
          if (set < 0) {
            EXPECT_EQ(range.first, range.last) << target;
            return;
          }
          // Windows x - radius .. x + radius that hold the set gradient lie in the range.
          const auto low = static_cast<size_t>(std::max(set - radius, 0)) / block;
          const auto high = static_cast<size_t>(std::min(set + radius, width - 1)) / block;
          EXPECT_LE(range.first, low) << target << " width " << width << " set " << set;
          EXPECT_GT(range.last, high) << target << " width " << width << " set " << set;
          EXPECT_LE(range.last, blocks) << target;
        });
      }
    }
    // Random rows with random blocks, stepped in and out against the plain step.
    for (int i = 0; i < 6; ++i) {
      const size_t first = rng() % (blocks + 1);
      const size_t last = first + rng() % (blocks - first + 1);
      std::vector<uint16_t> row(4 * blocks * block, 0);
      for (int g = 0; g < 4; ++g)
        for (size_t x = first * block; x < last * block; ++x)
          row[static_cast<size_t>(g) * blocks * block + x] = static_cast<uint16_t>(rng());
      rows.push_back(row);
      ranges.push_back({first, last});
    }
    const size_t lanes = 4 * blocks * block;
    for (size_t in = 0; in < rows.size(); ++in) {
      for (size_t out = 0; out < rows.size(); ++out) {
        std::vector<uint32_t> start(lanes);
        for (auto& v : start) v = static_cast<uint32_t>(rng());
        std::vector<uint32_t> want = start;
        gradient_rows::StepColumns(want.data(), rows[in].data(), rows[out].data(), lanes);
        testing::ForEachVectorTarget([&](const std::string& target) {
          std::vector<uint32_t> got = start;
#if RIDGELINE_HIGHWAY
          StepColumnsVector(got.data(), rows[in].data(), ranges[in], rows[out].data(), ranges[out],
                            blocks * block);
#else
          gradient_rows::StepColumnRanges(got.data(), rows[in].data(), ranges[in], rows[out].data(),
                                          ranges[out], blocks * block);
#endif
          ASSERT_EQ(got, want) << target << " width " << width << " rows " << in << " " << out;
        });
      }
    }
  }
}

TEST(ResmoothingRows, RowSumsAreThePlainSumsOfEachWindow) {
  std::mt19937 rng(25);
  ExpectBoxRowsAreWindowSums<uint16_t>(rng);
  ExpectBoxRowsAreWindowSums<uint32_t>(rng);
}

// The refreshed levels under level rules other than the defaults: a rule falling with the
// anisotropy (no step form, the table), a one-wide band, an empty band, levels clamped at 7
// and at 0, and the default rule.
TEST(ResmoothingRows, RefreshedLevelsFollowEveryLevelRule) {
  std::mt19937 rng(7);
  const struct {
    int low, high, base, scale;
  } rules[] = {{20, 30, 0, 4},  {20, 30, 6, -3}, {40, 41, 1, 2},  {90, 10, 2, 5},
               {0, 255, 3, 40}, {0, 255, -2, 3}, {128, 200, 0, 0}};
  for (const auto& rule : rules) {
    EngineParams params = Defaults();
    params.AnisotropyLow = static_cast<uint8_t>(rule.low);
    params.AnisotropyHigh = static_cast<uint8_t>(rule.high);
    params.SmoothLevelBase = rule.base;
    params.SmoothLevelScale = rule.scale;
    const int w = 53, h = 31;
    TestImage image(w, h, [&](int x, int y) -> uint8_t {
      return ((x / 4 + y / 5 + static_cast<int>(rng() % 4 == 0)) % 2) != 0 ? 255 : 0;
    });
    TestImage direction(w, h,
                        [&](int, int) { return static_cast<uint8_t>(rng() % 7 == 0 ? 0x80 : 0); });
    TestImage level(w, h, [&](int, int) { return static_cast<uint8_t>(rng()); });
    SingularPointList points{};
    points.Count = 1;
    points.X[0] = 10;
    points.Y[0] = 12;
    TestImage dir = Copy(direction), want_dir = Copy(direction);
    TestImage lev = Copy(level), want_lev = Copy(level);
    ASSERT_TRUE(RefreshDirections(&params, w, h, image.get(), dir.get(), lev.get(), &points, 3));
    reference::RefreshDirections(params, w, h, image.get(), want_dir.get(), want_lev.get(), points,
                                 3);
    const std::string what = "rule " + std::to_string(rule.low) + ".." + std::to_string(rule.high) +
                             " base " + std::to_string(rule.base) + " scale " +
                             std::to_string(rule.scale);
    ExpectSame(dir, want_dir, what);
    ExpectSame(lev, want_lev, what);
  }
}

TEST(ResmoothingRows, AgreeWithTheScalarFormsOnTheGoldenPrints) {
  if (!testing::HaveGolden()) GTEST_SKIP() << "no golden vectors";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(testing::GoldenDir() / "cases")) {
    auto read = [&](const char* name) {
      const golden::Pgm pgm = golden::ReadPgm(entry.path() / name);
      return std::make_unique<TestImage>(pgm.width, pgm.height, [&](int x, int y) {
        return pgm.pixels[static_cast<size_t>(y) * static_cast<size_t>(pgm.width) +
                          static_cast<size_t>(x)];
      });
    };
    // The first binary image with the directions and clarity map it meets in the pipeline.
    const auto image = read("20d_first_binary.pgm");
    const auto direction = read("18_direction_image.pgm");
    const auto level = read("20c_clarity_map.pgm");
    SingularPointList points{};
    points.Count = 1;
    points.X[0] = image->width() / 2;
    points.Y[0] = image->height() / 2;
    testing::ForEachVectorTarget([&](const std::string& target) {
      ExpectStagesAgree(*image, *direction, *level, points, 12,
                        target + " " + entry.path().filename().string());
    });
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace ridgeline
