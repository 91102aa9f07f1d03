// Bilinear resampling in 16.16 fixed point: destination pixel x samples the source at
// (x + 0.5) x from / to - 0.5, clamped to the image, so both resolutions share pixel centres.
#include "tools/image/resolution.h"

#include <algorithm>
#include <cassert>
#include <cstdint>

namespace ridgeline::tools {
namespace {

struct Tap {
  int index;      // lower source sample
  uint32_t frac;  // weight of the upper sample, 0..65535
};

// Positions along one axis; the upper sample is clamped at the last source pixel.
std::vector<Tap> Taps(int destination, int source, int from_dpi, int to_dpi) {
  std::vector<Tap> taps(static_cast<size_t>(destination));
  for (int i = 0; i < destination; ++i) {
    // ((2i + 1) x from / to - 1) / 2, in 1/65536 of a source pixel.
    const int64_t twice = (2 * int64_t{i} + 1) * from_dpi * 65536 / to_dpi - 65536;
    int64_t position = std::max<int64_t>(0, twice / 2);
    position = std::min<int64_t>(position, int64_t{source - 1} * 65536);
    taps[static_cast<size_t>(i)] = {static_cast<int>(position >> 16),
                                    static_cast<uint32_t>(position & 0xFFFF)};
  }
  return taps;
}

}  // namespace

int64_t ResampledSide(int side, int from_dpi, int to_dpi) {
  return std::max<int64_t>(1, (int64_t{side} * to_dpi * 2 + from_dpi) / (2 * int64_t{from_dpi}));
}

PrintImage Resample(const PrintImage& image, int from_dpi, int to_dpi) {
  assert(from_dpi > 0 && to_dpi > 0 && image.width > 0 && image.height > 0);
  if (from_dpi == to_dpi) return image;
  PrintImage out;
  out.format = image.format;
  out.declared_dpi = to_dpi;
  out.width = static_cast<int>(ResampledSide(image.width, from_dpi, to_dpi));
  out.height = static_cast<int>(ResampledSide(image.height, from_dpi, to_dpi));
  out.pixels.resize(static_cast<size_t>(out.width) * out.height);
  const std::vector<Tap> xs = Taps(out.width, image.width, from_dpi, to_dpi);
  const std::vector<Tap> ys = Taps(out.height, image.height, from_dpi, to_dpi);
  const int last_x = image.width - 1;
  const int last_y = image.height - 1;
  for (int y = 0; y < out.height; ++y) {
    const Tap ty = ys[static_cast<size_t>(y)];
    const int y1 = std::min(ty.index + 1, last_y);
    for (int x = 0; x < out.width; ++x) {
      const Tap tx = xs[static_cast<size_t>(x)];
      const int x1 = std::min(tx.index + 1, last_x);
      // Rows first, then columns; each product stays below 2^24 x 2^16.
      const uint64_t top = uint64_t{image.at(tx.index, ty.index)} * (65536 - tx.frac) +
                           uint64_t{image.at(x1, ty.index)} * tx.frac;
      const uint64_t bottom = uint64_t{image.at(tx.index, y1)} * (65536 - tx.frac) +
                              uint64_t{image.at(x1, y1)} * tx.frac;
      const uint64_t value =
          (top * (65536 - ty.frac) + bottom * ty.frac + (uint64_t{1} << 31)) >> 32;
      out.pixels[static_cast<size_t>(y) * out.width + x] = static_cast<uint8_t>(value);
    }
  }
  return out;
}

}  // namespace ridgeline::tools
