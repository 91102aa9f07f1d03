#include "extract/contrast_stretch.h"

#include <cassert>
#include <cstddef>
#include <new>
#include <vector>

namespace ridgeline {
namespace {

constexpr int kWhite = 255;

// The stretched value of s for the band lo .. hi; an empty band leaves s as it is.
uint8_t Stretch(int s, int mean, int deviation) {
  const int lo = mean - deviation < 0 ? 0 : mean - deviation;
  const int hi = mean + deviation > kWhite ? kWhite : mean + deviation;
  if (lo == hi) return static_cast<uint8_t>(s);
  if (s <= lo) return 0;
  if (s >= hi) return kWhite;
  return static_cast<uint8_t>((s - lo) * kWhite / (hi - lo));
}

}  // namespace

bool ContrastStretch(int width, int height, const uint8_t* const* source, GrayImage meanImage,
                     int radius) {
  assert(radius >= 0);
  if (width <= 0 || height <= 0) return true;
  const int ring_rows = 2 * radius + 2;
  const size_t w = static_cast<size_t>(width);
  // The ring keeps |source - mean| of every row still inside some later window: the means of a
  // row are overwritten by its output before the row leaves the column sums.
  std::vector<uint8_t> ring;
  std::vector<int32_t> column_sum;
  try {
    ring.resize(static_cast<size_t>(ring_rows) * w);
    column_sum.assign(w, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto ring_row = [&](int y) { return ring.data() + static_cast<size_t>(y % ring_rows) * w; };
  auto enter = [&](int y) {
    uint8_t* deviation = ring_row(y);
    const uint8_t* src = source[y];
    const uint8_t* mean = meanImage[y];
    for (size_t x = 0; x < w; ++x) {
      const int d = src[x] > mean[x] ? src[x] - mean[x] : mean[x] - src[x];
      deviation[x] = static_cast<uint8_t>(d);
      column_sum[x] += d;
    }
  };

  int next_row = 0;  // the next row to enter the column sums
  for (; next_row < height && next_row < radius; ++next_row) enter(next_row);
  for (int y = 0; y < height; ++y) {
    // Column sums hold the deviations of rows y - radius .. y + radius clipped to the image;
    // row y + radius enters while its means are still unwritten.
    if (next_row < height && next_row <= y + radius) enter(next_row++);
    if (y - radius - 1 >= 0) {
      const uint8_t* old = ring_row(y - radius - 1);
      for (size_t x = 0; x < w; ++x) column_sum[x] -= old[x];
    }
    const int top = y - radius < 0 ? 0 : y - radius;
    const int bottom = y + radius >= height ? height - 1 : y + radius;
    const int rows_in = bottom - top + 1;

    // Running row sum over column sums x - radius .. x + radius clipped to the image.
    int32_t sum = 0;
    int right = 0;
    for (; right < width && right < radius; ++right) sum += column_sum[static_cast<size_t>(right)];
    const uint8_t* src = source[y];
    uint8_t* out = meanImage[y];
    for (int x = 0; x < width; ++x) {
      if (right < width && right <= x + radius) sum += column_sum[static_cast<size_t>(right++)];
      if (x - radius - 1 >= 0) sum -= column_sum[static_cast<size_t>(x - radius - 1)];
      const int left = x - radius < 0 ? 0 : x - radius;
      const int last = x + radius >= width ? width - 1 : x + radius;
      const int deviation = sum / ((last - left + 1) * rows_in);
      out[x] = Stretch(src[x], out[x], deviation);
    }
  }
  return true;
}

}  // namespace ridgeline
