#include "extract/oriented_smoothing.h"

#include <cassert>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "extract/constants.h"
#include "extract/oriented_kernels.h"

namespace ridgeline {
namespace {

constexpr int kRingRows = 2 * kKernelReach + 1;  // rows y - 6 .. y + 6

// Kernel of a direction byte's code; codes 120..126 do not occur in a valid direction image
// and are read modulo 120 rather than past the table.
const OrientedKernel& KernelOf(int code) {
  return kOrientedKernelTable[static_cast<size_t>(code >= kDirectionSteps ? code - kDirectionSteps
                                                                          : code)];
}

// 3 x 3 mean of (x, y) over the in-image pixels; rows[j] is row y - 1 + j, null outside.
uint8_t BoxMean3At(const uint8_t* const* rows, int x, int width) {
  int sum = 0;
  int count = 0;
  for (int j = 0; j < 3; ++j) {
    if (rows[j] == nullptr) continue;
    for (int i = x - 1; i <= x + 1; ++i) {
      if (i < 0 || i >= width) continue;
      sum += rows[j][i];
      ++count;
    }
  }
  return static_cast<uint8_t>(sum / count);
}

}  // namespace

bool OrientedSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage) {
  if (width <= 0 || height <= 0) return true;
  const size_t w = static_cast<size_t>(width);
  std::vector<uint8_t> ring;
  try {
    ring.resize(kRingRows * w);
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto ring_row = [&](int y) { return ring.data() + static_cast<size_t>(y % kRingRows) * w; };

  int next_copy = 0;
  // window[j] is the unfiltered copy of row y - 6 + j, or null when that row is outside.
  const uint8_t* window[kRingRows];
  for (int y = 0; y < height; ++y) {
    // Row y + 6 enters the ring over the buffer of row y - 7 before row y is filtered.
    for (; next_copy < height && next_copy <= y + kKernelReach; ++next_copy) {
      std::memcpy(ring_row(next_copy), image[next_copy], w);
    }
    for (int j = 0; j < kRingRows; ++j) {
      const int r = y - kKernelReach + j;
      window[j] = (r >= 0 && r < height) ? ring_row(r) : nullptr;
    }
    const uint8_t* const* centre_row = window + kKernelReach;
    const bool interior_row = y >= kKernelReach && y < height - kKernelReach;
    const uint8_t* dir = directionImage[y];
    uint8_t* out = image[y];
    for (int x = 0; x < width; ++x) {
      const int code = dir[x] & kCodeMask;
      if (code == kNoDirection) {
        out[x] = BoxMean3At(centre_row - 1, x, width);
        continue;
      }
      const OrientedKernel& k = KernelOf(code);
      int32_t acc = int32_t{k.centre} * centre_row[0][x];
      if (interior_row && x >= kKernelReach && x < width - kKernelReach) {
        // Every tap lies inside the image: the weights sum to kKernelSum.
        for (int t = 0; t < k.tap_count; ++t) {
          const KernelTap& tap = k.taps[t];
          acc += tap.weight * (centre_row[-tap.dy][x - tap.dx] + centre_row[tap.dy][x + tap.dx]);
        }
        out[x] = static_cast<uint8_t>(acc / kKernelSum);
        continue;
      }
      // Near the border each pixel of a tap counts only inside the image.
      int32_t total = k.centre;
      for (int t = 0; t < k.tap_count; ++t) {
        const KernelTap& tap = k.taps[t];
        for (int side = -1; side <= 1; side += 2) {
          const int px = x + side * tap.dx;
          const uint8_t* row = centre_row[side * tap.dy];
          if (row == nullptr || px < 0 || px >= width) continue;
          acc += tap.weight * row[px];
          total += tap.weight;
        }
      }
      out[x] = static_cast<uint8_t>(acc / total);
    }
  }
  return true;
}

}  // namespace ridgeline
