#include "extract/thinning.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "extract/neighbour_codes.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

bool Bit(int code, int bit) { return ((code >> bit) & 1) != 0; }

// White-to-black changes going once round N, NE, E, SE, S, SW, W, NW.
int Transitions(int code) {
  int changes = 0;
  for (int i = 0; i < 8; ++i) changes += !Bit(code, i) && Bit(code, (i + 1) % 8);
  return changes;
}

TEST(ThinTables, FollowTheTwoSubIterationRulePlusExtraCodes) {
  const std::vector<int> extra_a = {5, 13, 20, 22, 52, 54, 133, 141, 239, 251};
  const std::vector<int> extra_b = {65, 67, 80, 88, 97, 99, 191, 208, 216, 254};
  for (int code = 0; code < 256; ++code) {
    const int black = std::popcount(static_cast<unsigned>(code));
    const bool n = Bit(code, kNorthBit), e = Bit(code, kEastBit), s = Bit(code, kSouthBit),
               w = Bit(code, kWestBit);
    const bool base = black >= 2 && black <= 6 && Transitions(code) == 1;
    const bool a = (base && !(n && e && s) && !(e && s && w)) ||
                   std::find(extra_a.begin(), extra_a.end(), code) != extra_a.end();
    const bool b = (base && !(n && e && w) && !(n && s && w)) ||
                   std::find(extra_b.begin(), extra_b.end(), code) != extra_b.end();
    EXPECT_EQ(kThinTableA[code], a ? 255 : 0) << "code " << code;
    EXPECT_EQ(kThinTableB[code], b ? 255 : 0) << "code " << code;
  }
}

TEST(NeighbourCodes, BitsGoClockwiseFromNorth) {
  for (int bit = 0; bit < 8; ++bit) {
    TestImage image(3, 3, 255);
    image.at(1 + kNeighbourDx[bit], 1 + kNeighbourDy[bit]) = 0;
    image.at(1, 1) = 0;  // the pixel itself does not count
    EXPECT_EQ(NeighbourCode(image.get(), 1, 1), 1 << bit);
  }
  // Bridge codes are pairs of opposite or near-opposite neighbours across a white pixel;
  // junction codes are three of the four direct neighbours.
  for (uint8_t code : kBridgeCodes) EXPECT_EQ(std::popcount(code), 2) << int{code};
  for (uint8_t code : kJunctionCodes) {
    EXPECT_EQ(std::popcount(code), 3);
    EXPECT_EQ(code & 0xAA, 0) << int{code};
  }
}

// Draws rows of text ('#' black, '.' white) into a fresh image.
struct Drawn {
  explicit Drawn(const std::vector<std::string>& rows)
      : image(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), [&](int x, int y) {
          return static_cast<uint8_t>(
              rows[static_cast<size_t>(y)][static_cast<size_t>(x)] == '#' ? 0 : 255);
        }) {}
  std::vector<std::string> Text() const {
    std::vector<std::string> rows;
    for (int y = 0; y < image.height(); ++y) {
      std::string row;
      for (int x = 0; x < image.width(); ++x) row += image.get()[y][x] == 0 ? '#' : '.';
      rows.push_back(row);
    }
    return rows;
  }
  int Thin() { return ThinRidges(image.width(), image.height(), image.get()); }
  TestImage image;
};

TEST(ThinRidges, BarThinsToItsMiddleRow) {
  Drawn bar({"................", "..############..", "..############..", "..############..",
             "................"});
  bar.Thin();
  EXPECT_EQ(bar.Text(),
            (std::vector<std::string>{"................", "................", "...#########....",
                                      "................", "................"}));
}

TEST(ThinRidges, SmallBlockVanishes) {
  Drawn block({"......", "......", "..##..", "..##..", "......", "......"});
  block.Thin();
  for (const std::string& row : block.Text()) EXPECT_EQ(row, "......");
}

TEST(ThinRidges, PostPassBridgesGapsAndClearsJunctionCentres) {
  // A vertical line broken by one white pixel (code 17 there).
  Drawn gap({".......", "...#...", "...#...", "...#...", ".......", "...#...", "...#...", "...#...",
             "......."});
  gap.Thin();
  EXPECT_EQ(gap.Text()[4], "...#...");
  // A T whose centre's only black neighbours are north, east and south (code 21): the arms
  // survive thinning, the centre is cleared.
  Drawn tee({"..........", "...#......", "...#......", "...#......", "...#####..", "...#......",
             "...#......", "...#......", ".........."});
  ASSERT_EQ(NeighbourCode(tee.image.get(), 3, 4), 21);
  tee.Thin();
  EXPECT_EQ(tee.Text(), (std::vector<std::string>{"..........", "...#......", "...#......",
                                                  "...#......", "....####..", "...#......",
                                                  "...#......", "...#......", ".........."}));
}

TEST(ThinRidges, FillsHolesBeforeThinning) {
  // The white centre has 8 black neighbours: filled, the block thins away to a point instead
  // of staying a ring.
  Drawn ring({".......", ".......", "..###..", "..#.#..", "..###..", ".......", "......."});
  Drawn solid({".......", ".......", "..###..", "..###..", "..###..", ".......", "......."});
  ring.Thin();
  solid.Thin();
  EXPECT_EQ(ring.Text(), solid.Text());
}

TEST(ThinRidges, FrameNeverChangesAndCountsTheIdleIteration) {
  // A thick bar running into the frame on both sides: the inside thins, the frame stays.
  Drawn bar({"........", "########", "########", "########", "........"});
  const std::vector<std::string> before = bar.Text();
  EXPECT_GE(bar.Thin(), 2);
  const std::vector<std::string> after = bar.Text();
  for (size_t y = 0; y < before.size(); ++y) {
    EXPECT_EQ(after[y].front(), before[y].front());
    EXPECT_EQ(after[y].back(), before[y].back());
  }
  EXPECT_NE(after[1], before[1]);

  TestImage white(6, 5, 255);
  EXPECT_EQ(ThinRidges(6, 5, white.get()), 1);
  TestImage tiny(2, 2, 0);
  EXPECT_EQ(ThinRidges(2, 2, tiny.get()), 1);
  EXPECT_EQ(tiny.at(1, 1), 0);
}

// The thinning as plainly written: every sub-step visits every pixel off the frame. ThinRidges
// skips rows that cannot change; it must give the same pixels and iteration count.
int ReferenceThin(TestImage& image) {
  const int w = image.width(), h = image.height();
  GrayImage img = image.get();
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      if (img[y][x] == 255 && std::popcount(static_cast<unsigned>(NeighbourCode(img, x, y))) >= 6) {
        img[y][x] = 0;
      }
    }
  }
  TestImage working(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) working.at(x, y) = img[y][x];
  auto sub_step = [&](GrayImage from, GrayImage to, const std::array<uint8_t, 256>& table) {
    int deleted = 0;
    for (int y = 1; y < h - 1; ++y) {
      for (int x = 1; x < w - 1; ++x) {
        to[y][x] = from[y][x];
        if (from[y][x] == 0 && table[static_cast<size_t>(NeighbourCode(from, x, y))] == 255) {
          to[y][x] = 255;
          ++deleted;
        }
      }
    }
    return deleted;
  };
  int iterations = 0;
  int deleted = 0;
  do {
    deleted = sub_step(img, working.get(), kThinTableA);
    deleted += sub_step(working.get(), img, kThinTableB);
    ++iterations;
  } while (deleted > 0);
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      const size_t code = static_cast<size_t>(NeighbourCode(img, x, y));
      if (img[y][x] == 255) {
        if (kIsBridgeCode[code] != 0) img[y][x] = 0;
      } else if (kIsJunctionCode[code] != 0) {
        img[y][x] = 255;
      }
    }
  }
  return iterations;
}

TEST(ThinRidges, RowSkippingMatchesTheFullSweep) {
  std::mt19937 rng(17);
  // Random blobs of random thickness (many iterations, changes spread over few rows late on),
  // plain noise (values other than 0 and 255 included) and thin frames.
  for (int trial = 0; trial < 60; ++trial) {
    // Images one or two pixels wide have rows but no pixel off the frame.
    const int w = trial < 4 ? 1 + trial % 2 : 3 + static_cast<int>(rng() % 90);
    const int h = 3 + static_cast<int>(rng() % 90);
    TestImage image(w, h, 255);
    if (trial % 3 == 0) {
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          image.at(x, y) = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
    } else {
      for (int blob = 0; blob < 1 + trial % 7; ++blob) {
        const int cx = static_cast<int>(rng() % static_cast<unsigned>(w));
        const int cy = static_cast<int>(rng() % static_cast<unsigned>(h));
        const int rx = 1 + static_cast<int>(rng() % 20), ry = 1 + static_cast<int>(rng() % 20);
        for (int y = std::max(cy - ry, 0); y <= std::min(cy + ry, h - 1); ++y)
          for (int x = std::max(cx - rx, 0); x <= std::min(cx + rx, w - 1); ++x)
            if (rng() % 16 != 0) image.at(x, y) = 0;
      }
    }
    TestImage expected(w, h, [&](int x, int y) { return image.at(x, y); });
    const int expected_iterations = ReferenceThin(expected);
    ASSERT_EQ(ThinRidges(w, h, image.get()), expected_iterations) << "trial " << trial;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(image.at(x, y), expected.at(x, y))
            << "trial " << trial << " at " << x << "," << y;
  }
}

// The packed sub-steps work on 64-pixel words: the pixels at the ends of words, rows of one
// word or a few bits more or less, dense fields of black (every rule's cube in play) and the
// binary images the pipeline thins on the golden prints must all come out as the plain sweep.
void ExpectSameAsReference(TestImage& image, const std::string& what) {
  const int w = image.width(), h = image.height();
  TestImage expected(w, h, [&](int x, int y) { return image.at(x, y); });
  const int expected_iterations = ReferenceThin(expected);
  ASSERT_EQ(ThinRidges(w, h, image.get()), expected_iterations) << what;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(image.at(x, y), expected.at(x, y)) << what << " at " << x << "," << y;
}

TEST(ThinRidges, PackedWordsMatchTheFullSweep) {
  std::mt19937 rng(2024);
  for (int w : {3, 62, 63, 64, 65, 66, 127, 128, 129, 130, 191, 193}) {
    for (int density : {2, 3, 8}) {  // one pixel in `density` white
      const int h = 3 + static_cast<int>(rng() % 40);
      TestImage image(w, h, [&](int, int) {
        return static_cast<uint8_t>(rng() % static_cast<unsigned>(density) == 0 ? 255 : 0);
      });
      ExpectSameAsReference(image,
                            "width " + std::to_string(w) + " density " + std::to_string(density));
    }
    // Vertical stripes five pixels wide, some across word boundaries.
    TestImage stripes(w, 24,
                      [&](int x, int) { return static_cast<uint8_t>((x / 5) % 2 ? 255 : 0); });
    ExpectSameAsReference(stripes, "stripes width " + std::to_string(w));
  }
  // Every 3 x 3 block at once: each code of the neighbourhood round a black centre.
  TestImage codes(3 * 256 + 2, 5, 255);
  for (int code = 0; code < 256; ++code) {
    const int cx = 3 * code + 1;
    codes.at(cx, 2) = 0;
    for (int bit = 0; bit < 8; ++bit)
      if ((code >> bit) & 1) codes.at(cx + kNeighbourDx[bit], 2 + kNeighbourDy[bit]) = 0;
  }
  ExpectSameAsReference(codes, "all codes");

  int golden = 0;
  for (const char* name : {"20i_majority.pgm", "20j_input_image.pgm"}) {
    for (auto& image : testing::GoldenStageImages(name)) {
      ExpectSameAsReference(*image, name);
      ++golden;
    }
  }
  if (golden == 0) GTEST_SKIP() << "no golden vectors";
}

// Wide images of thick discs among grey (neither black nor white) pixels: many iterations whose
// late deletions touch few rows, so the sub-steps skip rows while alternating between their two
// buffers, and the whitening meets words with and without deletions in the same row; the grey
// pixels must keep their values.
TEST(ThinRidges, LongThinningOfWideImagesKeepsGreyPixels) {
  std::mt19937 rng(4242);
  for (int trial = 0; trial < 12; ++trial) {
    const int w = 130 + static_cast<int>(rng() % 140), h = 20 + static_cast<int>(rng() % 60);
    TestImage image(w, h, [&](int, int) {
      return static_cast<uint8_t>(rng() % 5 == 0 ? 1 + rng() % 254 : 255);
    });
    for (int disc = 0; disc < 1 + trial % 4; ++disc) {
      const int cx = static_cast<int>(rng() % static_cast<unsigned>(w));
      const int cy = static_cast<int>(rng() % static_cast<unsigned>(h));
      const int r = 4 + static_cast<int>(rng() % 25);
      for (int y = std::max(cy - r, 0); y <= std::min(cy + r, h - 1); ++y)
        for (int x = std::max(cx - r, 0); x <= std::min(cx + r, w - 1); ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) image.at(x, y) = 0;
    }
    ExpectSameAsReference(image, "discs " + std::to_string(trial));
  }
}

// The sequential passes see, within a row, the change just made to a pixel's west neighbour:
// here the second pixel of a two-pixel hole has five black neighbours until the first is
// filled, and a gap bridged in the post-pass gives its east neighbour a new code.
TEST(ThinRidges, SweepsSeeTheChangeJustMadeToTheWest) {
  Drawn hole({".......", ".####..", ".##..#.", ".####..", "......."});
  TestImage expected(7, 5, [&](int x, int y) { return hole.image.at(x, y); });
  ReferenceThin(expected);
  hole.Thin();
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(hole.image.at(x, y), expected.at(x, y)) << x << "," << y;
  std::mt19937 rng(77);
  for (int trial = 0; trial < 40; ++trial) {  // sparse strokes: many bridges and junctions
    const int w = 5 + static_cast<int>(rng() % 100), h = 5 + static_cast<int>(rng() % 30);
    TestImage image(w, h, [&](int, int) { return static_cast<uint8_t>(rng() % 4 == 0 ? 0 : 255); });
    ExpectSameAsReference(image, "sparse " + std::to_string(trial));
  }
}

}  // namespace
}  // namespace ridgeline
