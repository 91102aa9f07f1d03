// Bilinear resampling of a capture between two resolutions, sharing pixel centres.
#include "engine/capture_resolution.h"

#include <algorithm>
#include <cassert>

namespace ridgeline {
namespace {

struct Tap {
  int index;      // lower source sample
  uint32_t frac;  // weight of the upper sample, 0..65535
};

// Positions along one axis; the upper sample is clamped at the last source pixel.
std::vector<Tap> Taps(int destination, int source, int fromPpi, int toPpi) {
  std::vector<Tap> taps(static_cast<size_t>(destination));
  for (int i = 0; i < destination; ++i) {
    // ((2i + 1) x from / to - 1) / 2, in 1/65536 of a source pixel.
    const int64_t twice = (2 * int64_t{i} + 1) * fromPpi * 65536 / toPpi - 65536;
    int64_t position = std::max<int64_t>(0, twice / 2);
    position = std::min<int64_t>(position, int64_t{source - 1} * 65536);
    taps[static_cast<size_t>(i)] = {static_cast<int>(position >> 16),
                                    static_cast<uint32_t>(position & 0xFFFF)};
  }
  return taps;
}

}  // namespace

int ScaledCaptureSide(int side, int fromPpi, int toPpi) {
  return std::max(1, static_cast<int>((int64_t{side} * toPpi * 2 + fromPpi) / (2 * fromPpi)));
}

void ResampleCapture(const uint8_t* pixels, int width, int height, int stride, int fromPpi,
                     int toPpi, std::vector<uint8_t>* out, int* outWidth, int* outHeight) {
  assert(fromPpi > 0 && toPpi > 0 && width > 0 && height > 0 && stride >= width);
  const int out_width = ScaledCaptureSide(width, fromPpi, toPpi);
  const int out_height = ScaledCaptureSide(height, fromPpi, toPpi);
  out->assign(static_cast<size_t>(out_width) * out_height, 0);
  const std::vector<Tap> xs = Taps(out_width, width, fromPpi, toPpi);
  const std::vector<Tap> ys = Taps(out_height, height, fromPpi, toPpi);
  const int last_x = width - 1;
  const int last_y = height - 1;
  auto at = [&](int x, int y) { return uint64_t{pixels[static_cast<size_t>(y) * stride + x]}; };
  for (int y = 0; y < out_height; ++y) {
    const Tap ty = ys[static_cast<size_t>(y)];
    const int y1 = std::min(ty.index + 1, last_y);
    for (int x = 0; x < out_width; ++x) {
      const Tap tx = xs[static_cast<size_t>(x)];
      const int x1 = std::min(tx.index + 1, last_x);
      // Rows first, then columns; each product stays below 2^24 x 2^16.
      const uint64_t top = at(tx.index, ty.index) * (65536 - tx.frac) + at(x1, ty.index) * tx.frac;
      const uint64_t bottom = at(tx.index, y1) * (65536 - tx.frac) + at(x1, y1) * tx.frac;
      const uint64_t value =
          (top * (65536 - ty.frac) + bottom * ty.frac + (uint64_t{1} << 31)) >> 32;
      (*out)[static_cast<size_t>(y) * out_width + x] = static_cast<uint8_t>(value);
    }
  }
  *outWidth = out_width;
  *outHeight = out_height;
}

int SourcePosition(int position, int fromPpi, int toPpi) {
  // (position + 0.5) x from / to - 0.5, rounded half up: ((2p + 1) from - to + to) / (2 to).
  const int64_t twice = (2 * int64_t{position} + 1) * fromPpi - toPpi;
  const int64_t rounded = (twice + toPpi) / (2 * int64_t{toPpi});
  return static_cast<int>(std::max<int64_t>(0, rounded));
}

}  // namespace ridgeline
