#include "extract/local_mean.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "core/int_math.h"
#include "extract/row_loops.h"
#include "extract/window_sums.h"

namespace ridgeline {

bool LocalMean(int width, int height, GrayImage image, int radius) {
  assert(radius >= 0);
  if (width <= 0 || height <= 0) return true;
  // Window sums reach 255 x count. The multiplication by ceil(2^32 / count) is exact for them
  // while 255 count^2 < 2^32, and the reciprocal fits 32 bits from a count of 2 on; the rows
  // whose windows span every row they can (the bulk of the image) use it.
  const int64_t side = 2 * int64_t{radius} + 1;
  const int64_t most_columns = std::min<int64_t>(side, width);
  const int32_t full_rows = static_cast<int32_t>(std::min<int64_t>(side, height));
  const int64_t least_count = std::min<int64_t>(radius + 1, width) * full_rows;
  const int64_t most_count = most_columns * full_rows;
  if (least_count < 2 || 255 * most_count * most_count >= (int64_t{1} << 32)) {
    return BoxMean(width, height, image, radius);
  }
  RowRing<> ring;  // rows y - radius - 1 .. y + radius, unfiltered
  WindowSums<> window;
  std::vector<uint32_t> reciprocals;
  if (!ring.Init(width, 2 * radius + 2) || !window.Init(width, height, radius)) return false;
  try {
    reciprocals.resize(static_cast<size_t>(width));
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The columns' counts take few values (radius + 2 at most): one division per run of equal
  // counts.
  const int32_t* columns_in = window.ColumnsIn();
  uint32_t count = 0;
  uint32_t reciprocal = 0;
  for (int x = 0; x < width; ++x) {
    const auto c = static_cast<uint32_t>(columns_in[x] * full_rows);
    if (c != count) {
      count = c;
      reciprocal = static_cast<uint32_t>(((uint64_t{1} << 32) + c - 1) / c);
    }
    reciprocals[static_cast<size_t>(x)] = reciprocal;
  }
  auto ring_row = [&ring](int r) { return ring.Row(r); };
  int loaded = 0;
  for (int y = 0; y < height; ++y) {
    for (; loaded < height && loaded <= y + radius; ++loaded) ring.Load(loaded, image[loaded]);
    window.Slide(y, ring_row);
    if (window.RowsIn() == full_rows) {
      MeanRowByReciprocal(window.Sums(), reciprocals.data(), width, image[y]);
    } else {
      MeanRow(window.Sums(), columns_in, window.RowsIn(), width, image[y]);
    }
  }
  return true;
}

bool LocalMean3(int width, int height, GrayImage image) {
  if (width < 3 || height < 3) return BoxMean3(width, height, image);
  const auto w = static_cast<size_t>(width);
  std::vector<uint8_t> rows;
  std::vector<uint16_t> column;
  try {
    rows.assign(3 * w, 0);
    column.resize(w);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The unfiltered rows y - 1 and y (row y + 1 is still unfiltered in the image), and a row of
  // zeros standing for the rows off the image: they add nothing, and the divisor counts only
  // the rows in it.
  uint8_t* above = rows.data();
  uint8_t* current = rows.data() + w;
  const uint8_t* zeros = rows.data() + 2 * w;
  for (int y = 0; y < height; ++y) {
    std::memcpy(current, image[y], w);
    const uint8_t* up = y > 0 ? above : zeros;
    const uint8_t* down = y + 1 < height ? image[y + 1] : zeros;
    const int rows_in = (y > 0 ? 1 : 0) + 1 + (y + 1 < height ? 1 : 0);  // 2 or 3
    uint8_t* out = image[y];
    Mean3Row(up, current, down, width, 3 * rows_in, column.data(), out);
    // The first and the last column: windows of two columns.
    const int edge = 2 * rows_in;
    out[0] = static_cast<uint8_t>((column[0] + column[1]) / edge);
    out[w - 1] = static_cast<uint8_t>((column[w - 2] + column[w - 1]) / edge);
    std::swap(above, current);
  }
  return true;
}

}  // namespace ridgeline
