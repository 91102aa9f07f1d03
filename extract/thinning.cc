// Two-sub-step parallel thinning with hole filling before and gap bridging after.
#include "extract/thinning.h"

#include <bit>
#include <cassert>
#include <cstring>
#include <new>
#include <vector>

#include "extract/neighbour_codes.h"

namespace ridgeline {
namespace {

constexpr uint8_t kBlack = 0;
constexpr uint8_t kWhite = 255;
constexpr uint8_t kDelete = 255;
// A white pixel with at least this many black neighbours is a hole inside a ridge.
constexpr int kHoleNeighbours = 6;

constexpr std::array<uint8_t, 44> kThinCodesA = {
    3,   5,   6,   7,   12,  13,  14,  15,  20,  22,  24,  28,  30,  48,  52,
    54,  56,  60,  62,  96,  112, 120, 129, 131, 133, 135, 141, 143, 192, 193,
    195, 199, 207, 224, 225, 227, 231, 239, 240, 241, 243, 248, 249, 251};
constexpr std::array<uint8_t, 44> kThinCodesB = {
    3,   6,   7,   12,  14,  15,  24,  28,  30,  31,  48,  56,  60,  62,  63,
    65,  67,  80,  88,  96,  97,  99,  112, 120, 124, 126, 129, 131, 135, 143,
    159, 191, 192, 193, 195, 208, 216, 224, 225, 227, 240, 248, 252, 254};

// The three pixels of a column (above, on and below the row) as bits 0, 1, 2, set where black
// (0). The 3 x 3 block of a pixel is then nine bits: its left column, its own, its right one,
// and a table over those 512 blocks replaces the eight reads of each NeighbourCode.
constexpr int kColumnBits = 3;
constexpr int kOnRowBit = 1;
constexpr size_t kBlocks = 512;

// The NeighbourCode of the centre of a 3 x 3 block.
constexpr int BlockCode(size_t block) {
  const int left = static_cast<int>(block & 7);
  const int centre = static_cast<int>((block >> kColumnBits) & 7);
  const int right = static_cast<int>((block >> (2 * kColumnBits)) & 7);
  return ((centre & 1) << kNorthBit) | ((right & 1) << kNorthEastBit) |
         (((right >> 1) & 1) << kEastBit) | (((right >> 2) & 1) << kSouthEastBit) |
         (((centre >> 2) & 1) << kSouthBit) | (((left >> 2) & 1) << kSouthWestBit) |
         (((left >> 1) & 1) << kWestBit) | ((left & 1) << kNorthWestBit);
}

// 1 for the blocks whose centre is black and whose code the sub-step's table deletes.
constexpr std::array<uint8_t, kBlocks> DeletionBlocks(const std::array<uint8_t, 256>& table) {
  std::array<uint8_t, kBlocks> blocks{};
  for (size_t b = 0; b < kBlocks; ++b) {
    const bool black = ((b >> (kColumnBits + kOnRowBit)) & 1) != 0;
    blocks[b] = black && table[static_cast<size_t>(BlockCode(b))] == kDelete ? 1 : 0;
  }
  return blocks;
}
constexpr std::array<uint8_t, kBlocks> kDeleteBlocksA =
    DeletionBlocks(CodeTable(kThinCodesA, kDelete));
constexpr std::array<uint8_t, kBlocks> kDeleteBlocksB =
    DeletionBlocks(CodeTable(kThinCodesB, kDelete));

// What the sequential passes do to a pixel, by its neighbours alone (the centre bit is ignored;
// the caller tests the pixel itself): fill a hole, bridge a gap, clear a junction centre.
constexpr uint8_t kFillsHole = 1;
constexpr uint8_t kBridges = 2;
constexpr uint8_t kClearsJunction = 4;
constexpr std::array<uint8_t, kBlocks> kNeighbourBlocks = [] {
  std::array<uint8_t, kBlocks> blocks{};
  for (size_t b = 0; b < kBlocks; ++b) {
    const int code = BlockCode(b);
    blocks[b] = static_cast<uint8_t>(
        (std::popcount(static_cast<unsigned>(code)) >= kHoleNeighbours ? kFillsHole : 0) |
        (kIsBridgeCode[static_cast<size_t>(code)] != 0 ? kBridges : 0) |
        (kIsJunctionCode[static_cast<size_t>(code)] != 0 ? kClearsJunction : 0));
  }
  return blocks;
}();

// Bit 7 of each byte of v set where that byte is 0. (b & 0x7F) + 0x7F reaches bit 7 unless the
// low seven bits are 0, and never carries into the next byte; or-ing b adds its own bit 7.
inline uint64_t ZeroBytes(uint64_t v) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  return ~(((v & kLow7) + kLow7) | v) & kHigh;
}

// columns[x] = the column bits of pixel x of row y (0 < y < height - 1), eight pixels a word.
void ColumnBits(const uint8_t* const* image, int width, int y, uint8_t* columns) {
  const uint8_t* above = image[y - 1];
  const uint8_t* row = image[y];
  const uint8_t* below = image[y + 1];
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    uint64_t a, r, b;
    std::memcpy(&a, above + x, 8);
    std::memcpy(&r, row + x, 8);
    std::memcpy(&b, below + x, 8);
    const uint64_t bits = (ZeroBytes(a) >> 7) | (ZeroBytes(r) >> 6) | (ZeroBytes(b) >> 5);
    std::memcpy(columns + x, &bits, 8);
  }
  for (; x < width; ++x) {
    columns[x] = static_cast<uint8_t>((above[x] == 0 ? 1 : 0) | (row[x] == 0 ? 2 : 0) |
                                      (below[x] == 0 ? 4 : 0));
  }
}

inline size_t Block(const uint8_t* columns, int x) {
  return static_cast<size_t>(columns[x - 1] | (columns[x] << kColumnBits) |
                             (columns[x + 1] << (2 * kColumnBits)));
}

// One sub-step: every black pixel off the frame whose block in `from` is in `blocks` becomes
// white in `to`; all other pixels off the frame are copied. Rows with active[y] == 0 are left
// alone (the caller knows `to` already holds their result); changed[y] is set for the rows
// where a pixel was deleted. columns holds width bytes of scratch. Returns the number deleted.
int ThinSubStep(int width, int height, const uint8_t* const* from, GrayImage to,
                const std::array<uint8_t, kBlocks>& blocks, const uint8_t* active, uint8_t* changed,
                uint8_t* columns) {
  int deleted = 0;
  const size_t inner = width > 2 ? static_cast<size_t>(width - 2) : 0;  // pixels off the frame
  for (int y = 1; y < height - 1; ++y) {
    changed[y] = 0;
    if (active[y] == 0) continue;
    uint8_t* out = to[y];
    std::memcpy(out + 1, from[y] + 1, inner);
    ColumnBits(from, width, y, columns);
    int row_deleted = 0;
    for (int x = 1; x < width - 1; ++x) {
      if (blocks[Block(columns, x)] != 0) {
        out[x] = kWhite;
        ++row_deleted;
      }
    }
    changed[y] = row_deleted != 0 ? 1 : 0;
    deleted += row_deleted;
  }
  return deleted;
}

// Which rows sub-step s has to visit. It reads what sub-step s - 1 wrote and writes over what
// sub-step s - 2 wrote, with the table sub-step s - 2 used. A row whose three-row neighbourhood
// changed in neither s - 1 nor s - 2 sees the very pixels s - 2 saw and deleted nothing then, so
// it deletes nothing now and the buffer already holds its result. The first two sub-steps have
// no such history and visit every row.
void MarkActiveRows(int height, const uint8_t* last, const uint8_t* before_last, uint8_t* active) {
  for (int y = 1; y < height - 1; ++y) {
    active[y] = (last[y - 1] | last[y] | last[y + 1] | before_last[y - 1] | before_last[y] |
                 before_last[y + 1]) != 0
                    ? 1
                    : 0;
  }
}

}  // namespace

const std::array<uint8_t, 256> kThinTableA = CodeTable(kThinCodesA, kDelete);
const std::array<uint8_t, 256> kThinTableB = CodeTable(kThinCodesB, kDelete);

int ThinRidges(int width, int height, GrayImage image) {
  assert(width > 0 && height > 0);
  GrayImage working = AllocGrayImage(width, height);
  if (working == nullptr) return -1;
  // changed[0 or 1][y]: the last sub-step A or B deleted a pixel of row y (frame rows never
  // change). Before the first sub-step both read as "changed", so the first two visit every row.
  std::vector<uint8_t> history;
  try {
    history.assign(3 * static_cast<size_t>(height) + static_cast<size_t>(width), 1);
  } catch (const std::bad_alloc&) {
    FreeGrayImage(working);
    return -1;
  }
  uint8_t* changed[2] = {history.data(), history.data() + height};
  uint8_t* active = history.data() + 2 * static_cast<size_t>(height);
  uint8_t* columns = history.data() + 3 * static_cast<size_t>(height);
  changed[0][0] = changed[0][height - 1] = changed[1][0] = changed[1][height - 1] = 0;

  // Hole filling, sequential: a pixel filled earlier in the sweep counts for later ones.
  // The column bits of a row are taken before its sweep and follow each pixel it changes.
  for (int y = 1; y < height - 1; ++y) {
    ColumnBits(image, width, y, columns);
    uint8_t* row = image[y];
    for (int x = 1; x < width - 1; ++x) {
      if (row[x] == kWhite && (kNeighbourBlocks[Block(columns, x)] & kFillsHole) != 0) {
        row[x] = kBlack;
        columns[x] |= 1 << kOnRowBit;
      }
    }
  }

  // The sub-steps write only pixels off the frame; the working image needs the frame too.
  for (int y = 0; y < height; ++y) {
    if (y == 0 || y == height - 1) {
      for (int x = 0; x < width; ++x) working[y][x] = image[y][x];
    } else {
      working[y][0] = image[y][0];
      working[y][width - 1] = image[y][width - 1];
    }
  }

  int iterations = 0;
  int deleted = 0;
  do {
    // Sub-step A writes over changed[0] (the previous A), reading what B changed last.
    MarkActiveRows(height, changed[1], changed[0], active);
    deleted =
        ThinSubStep(width, height, image, working, kDeleteBlocksA, active, changed[0], columns);
    MarkActiveRows(height, changed[0], changed[1], active);
    deleted +=
        ThinSubStep(width, height, working, image, kDeleteBlocksB, active, changed[1], columns);
    ++iterations;
  } while (deleted > 0);

  // Post-pass, sequential: each pixel sees the changes made before it in the sweep.
  for (int y = 1; y < height - 1; ++y) {
    ColumnBits(image, width, y, columns);
    uint8_t* row = image[y];
    for (int x = 1; x < width - 1; ++x) {
      const uint8_t neighbours = kNeighbourBlocks[Block(columns, x)];
      if (row[x] == kWhite) {
        if ((neighbours & kBridges) != 0) {
          row[x] = kBlack;
          columns[x] |= 1 << kOnRowBit;
        }
      } else if ((neighbours & kClearsJunction) != 0) {
        row[x] = kWhite;
        columns[x] &= static_cast<uint8_t>(~(1 << kOnRowBit));
      }
    }
  }

  FreeGrayImage(working);
  return iterations;
}

}  // namespace ridgeline
