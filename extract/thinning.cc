// Two-sub-step parallel thinning with hole filling before and gap bridging after.
#include "extract/thinning.h"

#include <bit>
#include <cassert>

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
// white in `to`; all other pixels off the frame are copied. Returns the number deleted.
int ThinSubStep(int width, int height, const uint8_t* const* from, GrayImage to,
                const std::array<uint8_t, 256>& table) {
  int deleted = 0;
  for (int y = 1; y < height - 1; ++y) {
    const uint8_t* source = from[y];
    uint8_t* out = to[y];
    for (int x = 1; x < width - 1; ++x) {
      out[x] = source[x];
      if (source[x] == kBlack && table[static_cast<size_t>(NeighbourCode(from, x, y))] == kDelete) {
        out[x] = kWhite;
        ++deleted;
      }
    }
  }
  return deleted;
}

}  // namespace

const std::array<uint8_t, 256> kThinTableA = CodeTable(kThinCodesA, kDelete);
const std::array<uint8_t, 256> kThinTableB = CodeTable(kThinCodesB, kDelete);

int ThinRidges(int width, int height, GrayImage image) {
  assert(width > 0 && height > 0);
  GrayImage working = AllocGrayImage(width, height);
  if (working == nullptr) return -1;

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
    deleted = ThinSubStep(width, height, image, working, kThinTableA);
    deleted += ThinSubStep(width, height, working, image, kThinTableB);
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
