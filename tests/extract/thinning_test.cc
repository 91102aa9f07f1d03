#include "extract/thinning.h"

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "extract/neighbour_codes.h"
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

}  // namespace
}  // namespace ridgeline
