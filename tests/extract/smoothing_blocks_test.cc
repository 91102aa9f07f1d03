// The block path of the oriented smoothing (SmoothingWindow::SmoothRow) against its pixel-by-pixel
// reference (SmoothingWindow::Smooth), on random images of awkward sizes and on the recorded
// images and direction fields of the golden prints, in every vector instruction set the
// processor supports.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "extract/oriented_kernels.h"
#include "extract/oriented_smoothing.h"
#include "extract/smoothing_kernel_block.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"
#include "tests/support/shared_data.h"
#include "tests/support/vector_targets.h"

namespace ridgeline {
namespace {

using testing::ForEachVectorTarget;
using testing::TestImage;

// Filters every row of image along codes both ways and expects the same bytes; kKeep pixels
// must stay as they were.
void ExpectRowsAgreeIn(SmoothingWindow& window, int w, int h, const uint8_t* const* image,
                       const uint8_t* const* codes, const std::string& what) {
  std::vector<uint8_t> expected(static_cast<size_t>(w));
  std::vector<uint8_t> got(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    window.Advance(image, y);
    for (int x = 0; x < w; ++x) {
      const uint8_t code = codes[y][x];
      const uint8_t before = static_cast<uint8_t>(255 - image[y][x]);
      expected[static_cast<size_t>(x)] =
          code == SmoothingWindow::kKeep ? before : window.Smooth(x, code);
      got[static_cast<size_t>(x)] = before;
    }
    window.SmoothRow(codes[y], got.data());
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(got[static_cast<size_t>(x)], expected[static_cast<size_t>(x)])
          << what << " " << w << "x" << h << " at " << x << "," << y << " code "
          << int{codes[y][x]};
    }
  }
}

void ExpectRowsAgree(int w, int h, const uint8_t* const* image, const uint8_t* const* codes,
                     const std::string& what) {
  SmoothingWindow window;
  ASSERT_TRUE(window.Init(w, h));
  ExpectRowsAgreeIn(window, w, h, image, codes, what);
}

// Codes in runs of random length, as a smooth direction field gives them, with the no-direction
// code, the out-of-range codes 120..126 and untouched pixels among them.
void FillRuns(TestImage& codes, std::mt19937& rng, int longest_run) {
  std::uniform_int_distribution<int> run(1, longest_run);
  std::uniform_int_distribution<int> pick(0, 140);
  for (int y = 0; y < codes.height(); ++y) {
    for (int x = 0; x < codes.width();) {
      const int v = pick(rng);
      const uint8_t code = v < 128   ? static_cast<uint8_t>(v)
                           : v < 134 ? kNoDirection
                                     : SmoothingWindow::kKeep;
      for (int n = run(rng); n > 0 && x < codes.width(); --n, ++x) codes.at(x, y) = code;
    }
  }
}

TEST(SmoothingBlocks, AgreeWithThePixelRuleOnRandomImagesOfOddSizes) {
  std::mt19937 rng(20);
  std::uniform_int_distribution<int> byte(0, 255);
  // Widths below, at and past every vector width, 1-2 pixel strips, and runs up to a whole block.
  const std::pair<int, int> sizes[] = {{29, 17},  {45, 31}, {28, 13}, {61, 9}, {23, 23},
                                       {100, 20}, {33, 5},  {12, 40}, {1, 15}, {2, 14},
                                       {15, 1},   {16, 2},  {158, 14}};
  ForEachVectorTarget([&](const std::string& target) {
    for (const auto& [w, h] : sizes) {
      for (int fill = 0; fill < 4; ++fill) {
        // Noise, the extremes and a 0 / 255 checkerboard (the binary image of the re-smoothing).
        TestImage image(w, h, [&](int x, int y) -> uint8_t {
          switch (fill) {
            case 0:
              return static_cast<uint8_t>(byte(rng));
            case 1:
              return 0;
            case 2:
              return 255;
            default:
              return ((x / 2 + y) % 2) != 0 ? 255 : 0;
          }
        });
        for (int longest : {1, 6, 40, 140}) {
          TestImage codes(w, h);
          FillRuns(codes, rng, longest);
          ExpectRowsAgree(
              w, h, image.get(), codes.get(),
              target + " fill " + std::to_string(fill) + " runs " + std::to_string(longest));
        }
        for (uint8_t single : {uint8_t{0}, uint8_t{30}, uint8_t{60}, uint8_t{119}, kNoDirection}) {
          TestImage codes(w, h, single);
          ExpectRowsAgree(w, h, image.get(), codes.get(),
                          target + " code " + std::to_string(single));
        }
      }
    }
  });
}

// Spans of short runs are smoothed in granules whatever their codes. A slowly turning field
// (steps of one code, as the re-smoothing's window sums give) with pixels to keep and pixels
// without direction among them, on widths where the granules only just fit (the narrow granule
// from width 20, the wide one from 28) and where the last granule must move left.
TEST(SmoothingBlocks, MixedSpansAgreeWithThePixelRuleWhereGranulesJustFit) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> step(-1, 1);
  std::uniform_int_distribution<int> odd(0, 15);
  ForEachVectorTarget([&](const std::string& target) {
    for (int w : {19, 20, 21, 27, 28, 29, 35, 44, 53, 77}) {
      const int h = 15;
      TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(byte(rng)); });
      for (int turn = 0; turn < 3; ++turn) {
        int code = byte(rng) % 120;
        TestImage codes(w, h, [&](int, int) -> uint8_t {
          code = (code + 120 + step(rng) * (turn + 1)) % 120;
          const int roll = odd(rng);
          if (roll == 0) return SmoothingWindow::kKeep;
          if (roll == 1) return kNoDirection;
          if (roll == 2) return static_cast<uint8_t>(120 + roll % 7);
          return static_cast<uint8_t>(code);
        });
        ExpectRowsAgree(w, h, image.get(), codes.get(), target + " turn " + std::to_string(turn));
      }
    }
  });
}

// Late level-smoothing passes: a few scattered pixels with a round due among pixels kept as they
// are, so that granules hold one or two smoothed pixels, or none, and the kept ones must come
// out untouched, next to rows where almost every pixel is smoothed.
TEST(SmoothingBlocks, ScatteredPixelsAmongKeptOnesAgreeWithThePixelRule) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> percent(0, 99);
  ForEachVectorTarget([&](const std::string& target) {
    for (const auto& [w, h] : {std::pair{64, 20}, std::pair{97, 23}, std::pair{30, 15}}) {
      TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(byte(rng)); });
      for (int active : {0, 2, 10, 97}) {
        TestImage codes(w, h, [&](int, int) -> uint8_t {
          if (percent(rng) >= active) return SmoothingWindow::kKeep;
          return percent(rng) < 10 ? kNoDirection : static_cast<uint8_t>(byte(rng) % 127);
        });
        ExpectRowsAgree(w, h, image.get(), codes.get(),
                        target + " active " + std::to_string(active) + "%");
      }
    }
  });
}

// Runs of due pixels among kept ones, of every length up to two granules and starting at every
// offset: each granule starts at its first due pixel, and the last one, moved left to end at
// the kernel's reach, overlaps pixels already smoothed.
TEST(SmoothingBlocks, RunsOfDuePixelsAtEveryOffsetAgreeWithThePixelRule) {
  std::mt19937 rng(41);
  ForEachVectorTarget([&](const std::string& target) {
    for (const int w : {28, 45, 83}) {
      const int h = 13;
      TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(rng()); });
      for (int length = 1; length <= 33; length += 4) {
        TestImage codes(w, h, [&](int x, int y) -> uint8_t {
          // Row y holds runs starting at offset y and every length + 3 pixels after it.
          const bool due = (x + 64 - y) % (length + 3) < length;
          return due ? static_cast<uint8_t>((x / 5 + y) % 121) : SmoothingWindow::kKeep;
        });
        ExpectRowsAgree(w, h, image.get(), codes.get(),
                        target + " runs of " + std::to_string(length));
      }
    }
  });
}

// Rows may be skipped between calls of Advance (rows with nothing to smooth): the rows it then
// copies must be the image's, and rows copied earlier keep the values they had then although
// the rows smoothed since were written back into the image.
TEST(SmoothingBlocks, SkippingRowsKeepsTheWindowRight) {
  std::mt19937 rng(42);
  for (const auto& [w, h] : {std::pair{37, 60}, std::pair{80, 31}, std::pair{5, 25}}) {
    for (const int gap : {1, 2, 6, 7, 13, 14, 40}) {
      TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(rng()); });
      SmoothingWindow every, skipping;
      ASSERT_TRUE(every.Init(w, h));
      ASSERT_TRUE(skipping.Init(w, h));
      for (int y = 0; y < h; ++y) {
        every.Advance(image.get(), y);
        if (y % gap != gap / 2) continue;
        skipping.Advance(image.get(), y);
        for (int x = 0; x < w; ++x) {
          const int code = (x * 7 + y) % 128;
          ASSERT_EQ(skipping.Smooth(x, code), every.Smooth(x, code))
              << w << "x" << h << " gap " << gap << " at " << x << "," << y;
        }
        for (int x = 0; x < w; ++x) image.at(x, y) = static_cast<uint8_t>(~image.at(x, y));
      }
    }
  }
}

// Pixels within the kernels' reach of the border go by granules over zero-padded rows and a
// store of ones. Windows reading further ahead (the re-smoothing's) keep more rows, whose slots
// rows past the image reuse; a window initialised again for the next pass must not see the
// rows of the last one; images of fewer rows than a kernel spans are clipped at both ends.
TEST(SmoothingBlocks, BorderGranulesAgreeWithThePixelRuleInEveryWindow) {
  std::mt19937 rng(6);
  std::uniform_int_distribution<int> byte(0, 255);
  const std::pair<int, int> sizes[] = {{8, 8},   {9, 12}, {15, 13}, {16, 14}, {17, 3},
                                       {19, 26}, {20, 7}, {33, 40}, {47, 19}};
  ForEachVectorTarget([&](const std::string& target) {
    for (const auto& [w, h] : sizes) {
      for (const int below : {kKernelReach, 13, 30}) {
        SmoothingWindow window;
        ASSERT_TRUE(window.Init(w, h, below, below != kKernelReach));
        for (int pass = 0; pass < 2; ++pass) {
          // The second pass reads 255s where the first read 0s, so stale rows would show.
          TestImage image(w, h, [&](int x, int y) -> uint8_t {
            return pass == 0 ? static_cast<uint8_t>(byte(rng) & ((x + y) % 3 == 0 ? 0 : 0xFF))
                             : static_cast<uint8_t>(255 - (byte(rng) & 7));
          });
          TestImage codes(w, h);
          FillRuns(codes, rng, 5);
          if (pass == 1) {
            ASSERT_TRUE(window.Init(w, h, below, below != kKernelReach));
          }
          ExpectRowsAgreeIn(
              window, w, h, image.get(), codes.get(),
              target + " below " + std::to_string(below) + " pass " + std::to_string(pass));
        }
      }
    }
  });
}

// Row hands the caller the unfiltered image rows from y - 6 to y + below although the rows
// above have been smoothed in place since they were copied.
TEST(SmoothingBlocks, RowsReadAsTheImageWasAcrossTheWindow) {
  std::mt19937 rng(9);
  for (const auto& [w, h, below] : {std::tuple{23, 50, 13}, std::tuple{9, 17, 6}}) {
    TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(rng()); });
    TestImage original(w, h, [&](int x, int y) { return image.at(x, y); });
    SmoothingWindow window;
    ASSERT_TRUE(window.Init(w, h, below));
    TestImage codes(w, h);
    FillRuns(codes, rng, 9);
    for (int y = 0; y < h; ++y) {
      window.Advance(image.get(), y);
      for (int r = std::max(0, y - kKernelReach); r <= std::min(h - 1, y + below); ++r) {
        for (int x = 0; x < w; ++x) {
          ASSERT_EQ(window.Row(r)[x], original.at(x, r)) << "row " << r << " at y " << y;
        }
      }
      window.SmoothRow(codes.get()[y], image.get()[y]);
    }
  }
}

// Granules whose codes turn through a window of nearby codes take the shared offset list with
// per-pixel weights: windows of one code, within one weight table (up to 8 codes), across two
// (up to 16), just past what the list covers (17, 30) and any code at all (127 distinct codes
// among the granules, the fallback), placed anywhere including across code 119 / 0 and with the
// aliases 120..126, pixels without direction and kept pixels mixed in.
TEST(SmoothingBlocks, GranulesOfNearbyCodesAgreeWithThePixelRule) {
  std::mt19937 rng(26);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> roll(0, 23);
  ForEachVectorTarget([&](const std::string& target) {
    for (const auto& [w, h] : {std::pair{61, 19}, std::pair{29, 14}, std::pair{100, 17}}) {
      TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(byte(rng)); });
      for (int window : {1, 2, 8, 9, 16, 17, 31, 127}) {
        std::uniform_int_distribution<int> spread(0, window - 1);
        // A new base every 32 pixels: some granules see one, some two.
        int base = 0;
        TestImage codes(w, h, [&](int x, int) -> uint8_t {
          if (x % 32 == 0) base = byte(rng) % kDirectionSteps;
          const int r = roll(rng);
          if (r == 0) return SmoothingWindow::kKeep;
          if (r == 1) return kNoDirection;
          if (window == 127) return static_cast<uint8_t>(byte(rng) % 127);
          const int code = (base + spread(rng)) % kDirectionSteps;
          // Codes 0..6 may come as their aliases 120..126.
          return static_cast<uint8_t>(r == 2 && code < 7 ? code + kDirectionSteps : code);
        });
        ExpectRowsAgree(w, h, image.get(), codes.get(),
                        target + " window " + std::to_string(window));
      }
      // Every window of 16 codes that crosses from 119 to 0, one per row.
      for (int start = kDirectionSteps - 15; start < kDirectionSteps; start += h) {
        TestImage codes(w, h, [&](int x, int y) -> uint8_t {
          return static_cast<uint8_t>((start + y + x % 16) % kDirectionSteps);
        });
        ExpectRowsAgree(w, h, image.get(), codes.get(),
                        target + " across 0 from " + std::to_string(start));
      }
    }
  });
}

// The shared offset list against the kernels it stands for: every code's centre and tap weights
// where its slots say, no other slot weighted, and every window's list holding every tap of
// every code in it, in whole pairs with the centre.
TEST(SmoothingBlocks, SharedOffsetListHoldsEveryKernel) {
  const LaneKernels& lanes = SharedLaneKernels();
  for (int c = 0; c < kLaneCodes; ++c) {
    const OrientedKernel& k = kOrientedKernelTable[static_cast<size_t>(c % kDirectionSteps)];
    ASSERT_EQ(lanes.centre[c], k.centre) << "code " << c;
    int weighted = 0;
    for (int s = 0; s < kLaneOffsetSlots; ++s) weighted += lanes.weights[s][c] != 0 ? 1 : 0;
    EXPECT_EQ(weighted, k.tap_count) << "code " << c;
    for (int t = 0; t < k.tap_count; ++t) {
      int found = -1;
      for (int s = 0; s < kLaneNullOffset; ++s) {
        if (lanes.dy[s] == k.taps[t].dy && lanes.dx[s] == k.taps[t].dx) found = s;
      }
      ASSERT_GE(found, 0) << "code " << c << " tap " << t;
      EXPECT_EQ(lanes.weights[found][c], k.taps[t].weight) << "code " << c << " tap " << t;
    }
  }
  for (int c = 0; c < kLaneCodes; ++c) EXPECT_EQ(lanes.weights[kLaneNullOffset][c], 0);
  EXPECT_EQ(lanes.dy[kLaneNullOffset], 0);
  EXPECT_EQ(lanes.dx[kLaneNullOffset], 0);
  for (int base = 0; base < kDirectionSteps; ++base) {
    for (int span = 0; span < kLaneSpan; ++span) {
      const uint8_t* list = lanes.unions[base][span];
      const int n = list[0];
      ASSERT_TRUE(n % 2 == 1 && n < kLaneUnionSlots) << base << "+" << span << ": " << n;
      std::set<int> in(list + 1, list + 1 + n);
      for (int c = base; c <= base + span; ++c) {
        for (int s = 0; s < kLaneOffsetSlots; ++s) {
          if (lanes.weights[s][c] != 0) {
            EXPECT_TRUE(in.count(s) == 1) << base << "+" << span << " misses slot " << s;
          }
        }
      }
    }
  }
}

TEST(SmoothingBlocks, AgreeWithThePixelRuleOnTheGoldenPrints) {
  if (!testing::HaveGolden()) GTEST_SKIP() << "no golden vectors";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(testing::GoldenDir() / "cases")) {
    // The grey image with the spread block directions, the smoothed input with the pixel
    // directions, and the binary image with the refreshed directions.
    const std::pair<const char*, const char*> pairs[] = {
        {"04_stretched.pgm", "12_spread_direction_image.pgm"},
        {"20d_first_binary.pgm", "18_direction_image.pgm"},
        {"20e_resmoothed.pgm", "20f_direction_image.pgm"}};
    for (const auto& [image_name, direction_name] : pairs) {
      const auto image = testing::ReadGoldenPgm(entry.path() / image_name);
      auto codes = testing::ReadGoldenPgm(entry.path() / direction_name);
      if (!image || !codes) continue;
      ASSERT_EQ(image->width(), codes->width());
      ASSERT_EQ(image->height(), codes->height());
      for (int y = 0; y < codes->height(); ++y)
        for (int x = 0; x < codes->width(); ++x) codes->at(x, y) &= kCodeMask;
      const std::string what = entry.path().filename().string() + " " + image_name;
      ForEachVectorTarget([&](const std::string& target) {
        ExpectRowsAgree(image->width(), image->height(), image->get(), codes->get(),
                        target + " " + what);
      });
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

// The division by the kernel sum without a divide instruction, over every sum 8-bit pixels can
// give; the hardest numerators are the exact multiples and the ones just below them.
TEST(SmoothingBlocks, KernelSumQuotientIsExactForEveryPixelSum) {
  uint32_t wrong = 0;
  uint32_t first_wrong = 0;
  for (uint32_t sum = 0; sum <= static_cast<uint32_t>(kLargestKernelSum); ++sum) {
    if (DivideByKernelSum(sum) != sum / static_cast<uint32_t>(kKernelSum)) {
      if (wrong++ == 0) first_wrong = sum;
    }
  }
  EXPECT_EQ(wrong, 0u) << "first at " << first_wrong;
  EXPECT_EQ(DivideByKernelSum(kLargestKernelSum), 255u);
  EXPECT_EQ(DivideByKernelSum(kLargestKernelSum - 1), 254u);
}

}  // namespace
}  // namespace ridgeline
