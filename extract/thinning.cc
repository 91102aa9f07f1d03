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

// One sub-step: every black pixel off the frame whose code in `from` is in `table` becomes
// white in `to`; all other pixels off the frame are copied. Rows with active[y] == 0 are left
// alone (the caller knows `to` already holds their result); changed[y] is set for the rows
// where a pixel was deleted. Returns the number deleted.
int ThinSubStep(int width, int height, const uint8_t* const* from, GrayImage to,
                const std::array<uint8_t, 256>& table, const uint8_t* active, uint8_t* changed) {
  int deleted = 0;
  const size_t inner = static_cast<size_t>(width - 2);
  for (int y = 1; y < height - 1; ++y) {
    changed[y] = 0;
    if (active[y] == 0) continue;
    const uint8_t* source = from[y];
    uint8_t* out = to[y];
    std::memcpy(out + 1, source + 1, inner);
    int row_deleted = 0;
    for (int x = 1; x < width - 1; ++x) {
      if (source[x] == kBlack && table[static_cast<size_t>(NeighbourCode(from, x, y))] == kDelete) {
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
    history.assign(3 * static_cast<size_t>(height), 1);
  } catch (const std::bad_alloc&) {
    FreeGrayImage(working);
    return -1;
  }
  uint8_t* changed[2] = {history.data(), history.data() + height};
  uint8_t* active = history.data() + 2 * static_cast<size_t>(height);
  changed[0][0] = changed[0][height - 1] = changed[1][0] = changed[1][height - 1] = 0;

  // Hole filling, sequential: a pixel filled earlier in the sweep counts for later ones.
  for (int y = 1; y < height - 1; ++y) {
    for (int x = 1; x < width - 1; ++x) {
      if (image[y][x] == kWhite &&
          std::popcount(static_cast<unsigned>(NeighbourCode(image, x, y))) >= kHoleNeighbours) {
        image[y][x] = kBlack;
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
    deleted = ThinSubStep(width, height, image, working, kThinTableA, active, changed[0]);
    MarkActiveRows(height, changed[0], changed[1], active);
    deleted += ThinSubStep(width, height, working, image, kThinTableB, active, changed[1]);
    ++iterations;
  } while (deleted > 0);

  // Post-pass, sequential: each pixel sees the changes made before it in the sweep.
  for (int y = 1; y < height - 1; ++y) {
    for (int x = 1; x < width - 1; ++x) {
      const size_t code = static_cast<size_t>(NeighbourCode(image, x, y));
      if (image[y][x] == kWhite) {
        if (kIsBridgeCode[code] != 0) image[y][x] = kBlack;
      } else if (kIsJunctionCode[code] != 0) {
        image[y][x] = kWhite;
      }
    }
  }

  FreeGrayImage(working);
  return iterations;
}

}  // namespace ridgeline
