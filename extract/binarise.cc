// Binarisation against local means, the boundary density measure that chooses the window size,
// and the clean-up of the binary image.
#include "extract/binarise.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <new>
#include <tuple>
#include <type_traits>
#include <vector>

#include "core/constants.h"
#include "core/exact_divider.h"
#include "extract/row_loops.h"
#include "extract/window_sums.h"

namespace ridgeline {
namespace {

constexpr uint8_t kBlack = 0;
constexpr uint8_t kWhite = 255;
// White when at least 5 of the 9 pixels are white: 5 x 255 = 1275 is the least such sum, 4 x
// 255 = 1020 the greatest below it.
constexpr uint16_t kMajorityWhiteSum = 1152;

// Factors of codes 0..60 (0 horizontal, 30 and 90 diagonal, 60 vertical).
constexpr std::array<uint8_t, 61> kFactorHalfTurn = {
    100, 100, 100, 99, 99, 99, 98, 97, 96, 95, 95, 93, 92, 91, 90, 89, 88,  87,  86, 85, 84,
    83,  82,  81,  80, 79, 79, 79, 78, 78, 78, 78, 78, 79, 79, 79, 80, 81,  82,  83, 84, 85,
    86,  87,  88,  89, 90, 91, 92, 93, 95, 95, 96, 97, 98, 99, 99, 99, 100, 100, 100};

constexpr std::array<uint8_t, 128> MakeDirectionFactor() {
  std::array<uint8_t, 128> table{};
  for (int code = 0; code < kDirectionSteps; ++code) {
    table[static_cast<size_t>(code)] = kFactorHalfTurn[static_cast<size_t>(code % 60)];
  }
  return table;  // 120..127 stay 0
}

// kBoundaryDirectionFactor widened to 32 bits, the width of a vector table lookup (gather).
constexpr std::array<int32_t, 128> MakeFactorLanes() {
  std::array<int32_t, 128> lanes{};
  const std::array<uint8_t, 128> bytes = MakeDirectionFactor();
  for (size_t i = 0; i < lanes.size(); ++i) lanes[i] = bytes[i];
  return lanes;
}
constexpr std::array<int32_t, 128> kBoundaryFactorLanes = MakeFactorLanes();

bool IsForeground(uint8_t direction_byte) { return (direction_byte & kBackgroundBit) == 0; }

// The clarity thresholds that choose each pixel's window among three: the small one (0) where
// the clarity map reaches high, else the medium one (1) where it reaches low, else the large
// one (2).
struct WindowChoice {
  const uint8_t* const* map;
  int high;
  int low;
  uint8_t At(int x, int y) const {
    const int clarity = map[y][x];
    return static_cast<uint8_t>(clarity >= high ? 0 : clarity >= low ? 1 : 2);
  }
};

// The rows the windows of Sums read, for filters that write their output over the image: the
// sliding sums keep rows y - reach - 1 (leaving the largest window) .. y + reach (entering it) in
// a ring; the integral rows read the image itself (rows before y are written already, the
// integral rows need only rows y and after) and keep a copy of row y alone.
template <class Sums>
class WindowFeed {
 public:
  static constexpr bool kIntegral = std::is_same_v<Sums, NarrowWindowSums>;

  bool Init(int width, int height, int reach) {
    height_ = height;
    reach_ = reach;
    return ring_.Init(width, kIntegral ? 1 : 2 * reach + 2) &&
           (!kIntegral || integral_.Init(width, reach));
  }

  // Moves every window to row y of image and returns the unfiltered copy of row y.
  template <class... Windows>
  const uint8_t* Advance(int y, const uint8_t* const* image, Windows&... windows) {
    if constexpr (kIntegral) {
      integral_.ComputeThrough(std::min(y + reach_ + 1, height_),
                               [image](int r) { return image[r]; });
      (windows.Take(y, integral_), ...);
      ring_.Load(y, image[y]);
    } else {
      for (; loaded_ < height_ && loaded_ <= y + reach_; ++loaded_) {
        ring_.Load(loaded_, image[loaded_]);
      }
      (windows.Slide(y, [this](int r) { return ring_.Row(r); }), ...);
    }
    return ring_.Row(y);
  }

 private:
  int height_ = 0;
  int reach_ = 0;
  int loaded_ = 0;
  RowRing<> ring_;
  NarrowIntegralRows integral_;
};

// Binarises image in place: each pixel against the mean of one of the windows in radii, the
// one `choice` gives (three windows) or the only one. Sums: WindowSums<> or, for windows of
// at most kNarrowWindowReach, NarrowWindowSums.
template <class Sums, size_t N>
bool BinarizeAgainstMeans(int width, int height, GrayImage image, const std::array<int, N>& radii,
                          const WindowChoice& choice) {
  assert(width > 0 && height > 0);
  const int reach = *std::max_element(radii.begin(), radii.end());
  WindowFeed<Sums> feed;
  std::array<Sums, N> windows;
  if (!feed.Init(width, height, reach)) return false;
  for (size_t i = 0; i < N; ++i) {
    if (!windows[i].Init(width, height, radii[i])) return false;
  }
  // (s + 1) C <= 256 C stays within 32 bits for windows of up to 2^23 pixels in the image.
  const int64_t most_pixels =
      std::min(int64_t{2 * reach + 1} * (2 * reach + 1), int64_t{width} * height);
  const bool narrow = 256 * most_pixels <= INT32_MAX;
  for (int y = 0; y < height; ++y) {
    const uint8_t* __restrict source =
        std::apply([&](auto&... each) { return feed.Advance(y, image, each...); }, windows);
    uint8_t* __restrict out = image[y];
    // s >= floor(S / C) exactly when s + 1 > S / C, i.e. (s + 1) C > S: no division.
    if (!narrow) {
      for (int x = 0; x < width; ++x) {
        const Sums& window = windows[N == 3 ? choice.At(x, y) : 0];
        out[x] = int64_t{source[x] + 1} * window.Count(x) > window.Sum(x) ? kWhite : kBlack;
      }
      continue;
    }
    // The same test in 32 bits (16 with NarrowWindowSums), the window's sum and count picked
    // by masks: one branch-free pass across pixels.
    using Sum = std::remove_cvref_t<decltype(*windows[0].Sums())>;
    std::array<const Sum*, N> sums, columns_in;
    std::array<Sum, N> rows_in;
    for (size_t i = 0; i < N; ++i) {
      sums[i] = windows[i].Sums();
      columns_in[i] = windows[i].ColumnsIn();
      rows_in[i] = windows[i].RowsIn();
    }
    if constexpr (N == 3) {
      BinarizeByClarity(source, choice.map[y], choice.high, choice.low, sums.data(),
                        columns_in.data(), rows_in.data(), width, out);
    } else {
      static_assert(N == 1, "one or three windows");
      BinarizeOneWindow(source, sums[0], columns_in[0], rows_in[0], width, out);
    }
  }
  return true;
}

template <size_t N>
bool BinarizeAgainstMeans(int width, int height, GrayImage image, const std::array<int, N>& radii,
                          const WindowChoice& choice) {
  if (*std::max_element(radii.begin(), radii.end()) <= kNarrowWindowReach) {
    return BinarizeAgainstMeans<NarrowWindowSums>(width, height, image, radii, choice);
  }
  return BinarizeAgainstMeans<WindowSums<>>(width, height, image, radii, choice);
}

}  // namespace

const std::array<uint8_t, 128> kBoundaryDirectionFactor = MakeDirectionFactor();

namespace {

// PreBinarize with the window sums of Sums (as BinarizeAgainstMeans).
template <class Sums>
bool PreBinarizeWith(int small, int large, int width, int height, const uint8_t* const* image,
                     GrayImage out) {
  const int reach = std::max(small, large);
  // Both windows in one sweep; the feed keeps the source readable even when out is image.
  WindowFeed<Sums> feed;
  Sums small_window;
  Sums large_window;
  if (!feed.Init(width, height, reach) || !small_window.Init(width, height, small) ||
      !large_window.Init(width, height, large)) {
    return false;
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* source = feed.Advance(y, image, small_window, large_window);
    uint8_t* row = out[y];
    auto at_border = [&](int x) {
      const int32_t threshold = (large_window.Sum(x) / large_window.Count(x) +
                                 small_window.Sum(x) / small_window.Count(x)) /
                                2;
      row[x] = source[x] >= threshold ? kWhite : kBlack;
    };
    // Between the columns where either window is clipped, each window's count is that of the
    // row, and its mean a multiplication.
    const int inner_begin = std::min(reach, width);
    const int inner_end = std::max(width - reach, inner_begin);
    int x = 0;
    for (; x < inner_begin; ++x) at_border(x);
    if (inner_end > inner_begin) {
      const auto small_count = static_cast<uint32_t>(small_window.Count(inner_begin));
      const auto large_count = static_cast<uint32_t>(large_window.Count(inner_begin));
      if constexpr (WindowFeed<Sums>::kIntegral) {
        const NarrowDivider small_divider(small_count, 255 * small_count);
        const NarrowDivider large_divider(large_count, 255 * large_count);
        if (small_divider.exact() && large_divider.exact()) {
          PreBinarizeRow(small_window.Sums(), large_window.Sums(), source, inner_begin, inner_end,
                         small_divider.multiplier(), small_divider.shift(),
                         large_divider.multiplier(), large_divider.shift(), row);
          x = inner_end;
        }
      } else {
        const ExactDivider small_divider(small_count);
        const ExactDivider large_divider(large_count);
        if (small_divider.exact_below_256_times() && large_divider.exact_below_256_times() &&
            small_count >= 2 && large_count >= 2) {
          // ExactDivider's reciprocals, below 2^32 for counts of 2 or more.
          auto reciprocal = [](uint32_t d) {
            return static_cast<uint32_t>(((uint64_t{1} << 32) + d - 1) / d);
          };
          PreBinarizeRow(small_window.Sums(), large_window.Sums(), source, inner_begin, inner_end,
                         reciprocal(small_count), reciprocal(large_count), row);
          x = inner_end;
        } else if (small_divider.exact_below_256_times() && large_divider.exact_below_256_times()) {
          for (; x < inner_end; ++x) {
            const uint32_t small_mean =
                small_divider.Divide(static_cast<uint32_t>(small_window.Sum(x)));
            const uint32_t large_mean =
                large_divider.Divide(static_cast<uint32_t>(large_window.Sum(x)));
            row[x] = uint32_t{source[x]} >= (large_mean + small_mean) / 2 ? kWhite : kBlack;
          }
        }
      }
    }
    for (; x < width; ++x) at_border(x);
  }
  return true;
}

}  // namespace

bool PreBinarize(const EngineParams* params, int width, int height, const uint8_t* const* image,
                 GrayImage out) {
  assert(params != nullptr && width > 0 && height > 0);
  const int small = params->BinWindowSmall;
  const int large = params->BinWindowLarge;
  assert(small >= 0 && large >= 0);
  if (std::max(small, large) <= kNarrowWindowReach) {
    return PreBinarizeWith<NarrowWindowSums>(small, large, width, height, image, out);
  }
  return PreBinarizeWith<WindowSums<>>(small, large, width, height, image, out);
}

bool MakeBoundaryDensityMap(int width, int height, GrayImage binary,
                            const uint8_t* const* directionImage, int radius) {
  assert(width > 0 && height > 0 && radius >= 0);
  // Binary rows y - radius - 2 .. y + radius + 1: the 3 x 3 blocks of the indicator rows that
  // enter and leave the window. The indicator rows themselves are kept so that a leaving row
  // is subtracted exactly as it was added.
  RowRing<> binary_ring;
  RowRing<> foreground_ring;  // 1 where the pixel is counted
  RowRing<> boundary_ring;    // 1 where a counted pixel's 3 x 3 block holds both values
  WindowSums<> foreground;
  WindowSums<> boundary;
  if (!binary_ring.Init(width, 2 * radius + 4) || !foreground_ring.Init(width, 2 * radius + 2) ||
      !boundary_ring.Init(width, 2 * radius + 2) || !foreground.Init(width, height, radius) ||
      !boundary.Init(width, height, radius)) {
    return false;
  }
  std::vector<uint16_t> column;
  try {
    column.resize(static_cast<size_t>(width));
  } catch (const std::bad_alloc&) {
    return false;
  }

  int binary_loaded = 0;
  auto make_indicator_row = [&](int r) {
    for (; binary_loaded < height && binary_loaded <= r + 1; ++binary_loaded) {
      binary_ring.Load(binary_loaded, binary[binary_loaded]);
    }
    uint8_t* is_foreground = foreground_ring.Row(r);
    uint8_t* is_boundary = boundary_ring.Row(r);
    std::fill(is_foreground, is_foreground + width, 0);
    std::fill(is_boundary, is_boundary + width, 0);
    if (r < 1 || r > height - 2) return;  // the frame rows are never counted
    const uint8_t* above = binary_ring.Row(r - 1);
    const uint8_t* middle = binary_ring.Row(r);
    const uint8_t* below = binary_ring.Row(r + 1);
    const uint8_t* direction = directionImage[r];
    // Three-row sums of each column, then the 3 x 3 blocks from them: both passes branch-free.
    BoundaryIndicatorRow(above, middle, below, direction, width, column.data(), is_foreground,
                         is_boundary);
  };

  int indicator_made = 0;
  // A window of fewer than 2^16 pixels counts either indicator within 16 bits: both counts then
  // slide in the two halves of one column sum and one row sum, half the work of two.
  if (int64_t{2 * radius + 1} * (2 * radius + 1) < (int64_t{1} << 16)) {
    std::vector<int32_t> column_sum;
    std::vector<int32_t> row_sum;
    try {
      column_sum.assign(static_cast<size_t>(width), 0);
      row_sum.assign(static_cast<size_t>(width), 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    int entered = 0;  // the next indicator row to enter the column sums
    for (int y = 0; y < height; ++y) {
      const int last_in = std::min(y + radius, height - 1);
      for (; indicator_made <= last_in; ++indicator_made) make_indicator_row(indicator_made);
      // Rows y - radius .. y + radius clipped; the last to enter and the one leaving (still in
      // the rings, which keep 2 radius + 2 rows) in one pass.
      const int leaving = y - radius - 1;
      bool left = leaving < 0;
      for (; entered <= last_in; ++entered) {
        const bool exchange = !left && entered == last_in;
        SlidePairedColumnSums(column_sum.data(), foreground_ring.Row(entered),
                              boundary_ring.Row(entered),
                              exchange ? foreground_ring.Row(leaving) : nullptr,
                              exchange ? boundary_ring.Row(leaving) : nullptr, width);
        left = left || exchange;
      }
      if (!left) {
        SlidePairedColumnSums(column_sum.data(), nullptr, nullptr, foreground_ring.Row(leaving),
                              boundary_ring.Row(leaving), width);
      }
      SumAlongRow(column_sum.data(), width, radius, row_sum.data());
      BoundaryDensityPackedRow(row_sum.data(), directionImage[y], kBoundaryFactorLanes.data(),
                               width, binary[y]);
    }
    return true;
  }
  for (int y = 0; y < height; ++y) {
    for (; indicator_made < height && indicator_made <= y + radius; ++indicator_made) {
      make_indicator_row(indicator_made);
    }
    foreground.Slide(y, [&](int r) { return foreground_ring.Row(r); });
    boundary.Slide(y, [&](int r) { return boundary_ring.Row(r); });
    // boundary x 255 is formed in 32 bits, exact for windows of up to 2^23 pixels.
    BoundaryDensityRow(boundary.Sums(), foreground.Sums(), directionImage[y],
                       kBoundaryFactorLanes.data(), width, binary[y]);
  }
  return true;
}

bool AdaptiveBinarize(const EngineParams* params, int width, int height, GrayImage image,
                      const uint8_t* const* map) {
  assert(params != nullptr);
  enum Window { kSmall = 0, kMedium = 1, kLarge = 2 };
  const std::array<int, 3> radii = {params->BinWindowSmall, params->BinWindowMedium,
                                    params->BinWindowLarge};
  assert(radii[kSmall] >= 0 && radii[kMedium] >= 0 && radii[kLarge] >= 0);
  static_assert(kSmall == 0 && kMedium == 1 && kLarge == 2, "the order WindowChoice gives");
  return BinarizeAgainstMeans(width, height, image, radii,
                              WindowChoice{map, params->ClarityHigh, params->ClarityLow});
}

bool LocalMeanBinarize(int width, int height, GrayImage image, int radius) {
  assert(radius >= 0);
  return BinarizeAgainstMeans(width, height, image, std::array<int, 1>{radius},
                              WindowChoice{nullptr, 0, 0});  // the one window
}

bool MajorityFilter(int width, int height, GrayImage image) {
  assert(width > 0 && height > 0);
  if (width >= 3 && height >= 3) {
    RowRing<> ring;                // unfiltered rows y - 1 .. y + 1
    std::vector<uint16_t> column;  // the three-row sum of each column
    if (!ring.Init(width, 3)) return false;
    try {
      column.resize(static_cast<size_t>(width));
    } catch (const std::bad_alloc&) {
      return false;
    }
    ring.Load(0, image[0]);
    ring.Load(1, image[1]);
    for (int y = 1; y < height - 1; ++y) {
      ring.Load(y + 1, image[y + 1]);
      MajorityRow(ring.Row(y - 1), ring.Row(y), ring.Row(y + 1), width, kMajorityWhiteSum,
                  column.data(), image[y]);
    }
  }
  std::fill(image[0], image[0] + width, kWhite);
  std::fill(image[height - 1], image[height - 1] + width, kWhite);
  for (int y = 0; y < height; ++y) {
    image[y][0] = kWhite;
    image[y][width - 1] = kWhite;
  }
  return true;
}

void WhitenBackground(int width, int height, GrayImage image,
                      const uint8_t* const* directionImage) {
  for (int y = 0; y < height; ++y) {
    const uint8_t* __restrict direction = directionImage[y];
    uint8_t* __restrict row = image[y];
    // Every pixel is rewritten (foreground ones with their own value): a select, no branch.
    for (int x = 0; x < width; ++x) row[x] = IsForeground(direction[x]) ? row[x] : kWhite;
  }
}

uint8_t MeasureBoundaryDensity(int width, int height, const uint8_t* const* binary,
                               const uint8_t* const* directionImage) {
  if (height < 3 || width < 3) return 0;
  int64_t counted = 0;
  int64_t boundary = 0;
  for (int y = 1; y < height - 1; ++y) {
    // Counts of one row, branch-free (a row holds fewer than 2^31 pixels).
    int32_t row_counted = 0;
    int32_t row_boundary = 0;
    BoundaryCountRow(binary[y - 1], binary[y], binary[y + 1], directionImage[y], width,
                     &row_counted, &row_boundary);
    counted += row_counted;
    boundary += row_boundary;
  }
  if (counted == 0) return 0;
  return static_cast<uint8_t>(boundary * 255 / counted);
}

}  // namespace ridgeline
