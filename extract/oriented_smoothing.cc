#include "extract/oriented_smoothing.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace ridgeline {
namespace {

// Kernel of a direction byte's code; codes 120..126 do not occur in a valid direction image
// and are read modulo 120 rather than past the table.
const OrientedKernel& KernelOf(int code) {
  return kOrientedKernelTable[static_cast<size_t>(code >= kDirectionSteps ? code - kDirectionSteps
                                                                          : code)];
}

#if !RIDGELINE_HIGHWAY
// acc[j] += w1 (a1[j] + b1[j]) + w2 (a2[j] + b2[j]) for j < 8 vectors, on 16-bit operands so
// that each product is one widening multiplication; the trip count is a whole number of
// vectors, so the vectoriser's scalar remainder never runs.
void AddTapPair(const uint16_t* __restrict a1, const uint16_t* __restrict b1, uint16_t w1,
                const uint16_t* __restrict a2, const uint16_t* __restrict b2, uint16_t w2,
                uint32_t* __restrict acc, int vectors) {
  const int n = vectors * 8;
  for (int j = 0; j < n; ++j) {
    const auto pair1 = static_cast<uint16_t>(a1[j] + b1[j]);
    const auto pair2 = static_cast<uint16_t>(a2[j] + b2[j]);
    acc[j] += uint32_t{w1} * uint32_t{pair1} + uint32_t{w2} * uint32_t{pair2};
  }
}

#endif  // !RIDGELINE_HIGHWAY

}  // namespace

bool SmoothingWindow::Init(int width, int height, int below, bool byte_rows) {
  assert(width > 0 && height > 0 && below >= kKernelReach);
  width_ = width;
  height_ = height;
  below_ = below;
  slots_ = kKernelReach + below + 1;
  next_row_ = 0;
  next_zero_ = height;
  first_ = -kKernelReach;
  y_ = 0;
  stride_ = width + 2 * kPad;
  const auto stride = static_cast<size_t>(stride_);
  const int ones_rows = std::min(height, 2 * kKernelReach + 1);
  try {
    data_.assign(byte_rows ? static_cast<size_t>(slots_) * static_cast<size_t>(width) : 0, 0);
    data16_.assign(static_cast<size_t>(kStoreWindows * slots_) * stride, 0);
    ones_.assign(static_cast<size_t>(2 * kKernelReach + ones_rows) * stride, 0);
    flat_kernels_.resize(kNoDirection);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int r = kKernelReach; r < kKernelReach + ones_rows; ++r) {
    std::fill_n(ones_.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(r) * stride + kPad),
                width, uint16_t{1});
  }
  if (kernels_stride_ == stride_) return true;
  kernels_stride_ = stride_;
  for (int code = 0; code < kNoDirection; ++code) {
    const OrientedKernel& k = KernelOf(code);
    FlatKernel& flat = flat_kernels_[static_cast<size_t>(code)];
    assert(k.tap_count <= kFlatTaps);
    flat.centre = k.centre;
    flat.tap_count = k.tap_count;
    flat.reach_x = 0;
    flat.reach_y = 0;
    for (int t = 0; t < kFlatTaps; ++t) {
      flat.taps[t] = t < k.tap_count
                         ? FlatTap{k.taps[t].dy * static_cast<int>(stride_) + k.taps[t].dx,
                                   k.taps[t].weight, k.taps[t].dy, k.taps[t].dx}
                         : FlatTap{0, 0, 0, 0};
      flat.reach_x = std::max(flat.reach_x, std::abs(int32_t{flat.taps[t].dx}));
      flat.reach_y = std::max(flat.reach_y, std::abs(int32_t{flat.taps[t].dy}));
    }
    flat.weight_pairs[0] = WeightPair(flat.centre, flat.taps[0].weight);
    for (int t = 1; t < kFlatTaps; t += 2) {
      flat.weight_pairs[(t + 1) / 2] = WeightPair(flat.taps[t].weight, flat.taps[t + 1].weight);
    }
  }
  const LaneKernels& lanes = SharedLaneKernels();
  for (int s = 0; s < kLaneOffsetSlots; ++s)
    lane_offsets_[s] = lanes.dy[s] * static_cast<int>(stride_) + lanes.dx[s];
  return true;
}

void SmoothingWindow::Advance(const uint8_t* const* image, int y) {
  assert(y >= 0 && y < height_ && (next_row_ == 0 || y > y_));
  const size_t w = static_cast<size_t>(width_);
  const size_t stride = static_cast<size_t>(stride_);
  // Row r of the 16-bit store is image row r + first_.
  auto row16 = [&](int r) { return data16_.data() + static_cast<size_t>(r - first_) * stride; };
  // Rows skipped over above y - 6 are never read, so they are not copied.
  const int top = y - kKernelReach;
  next_row_ = std::max(next_row_, top);
  // Once the rows y - 6 .. y + below would run past the store, the rows of them already in it
  // move back to its start (a store of kStoreWindows windows moves a window's rows once every
  // kStoreWindows - 1 windows' rows). top is then at least the row count of the store minus a
  // window past the first rows, so the rows above the image, which are never copied and read
  // Init's zeros, have left the window for good by the first move.
  if (y + below_ - first_ >= static_cast<int>(data16_.size() / stride)) {
    assert(top >= 0);
    // One past the last row in the store: the rows past the image enter after every image row.
    const int end = next_zero_ > height_ ? next_zero_ : next_row_;
    if (end > top) {
      std::memmove(data16_.data(), row16(top), static_cast<size_t>(end - top) * stride * 2);
    }
    first_ = top;
    next_zero_ = std::max(next_zero_, top);
  }
  // Byte row r lives in slot r mod n.
  auto slot = [&](int r) { return static_cast<size_t>(r % slots_); };
  for (; next_row_ < height_ && next_row_ <= y + below_; ++next_row_) {
    const uint8_t* __restrict source = image[next_row_];
    if (!data_.empty()) std::memcpy(data_.data() + slot(next_row_) * w, source, w);
    uint16_t* __restrict row = row16(next_row_) + kPad;
    for (size_t x = 0; x < w; ++x) row[x] = source[x];
  }
  // The rows past the image that the kernels reach read 0. Every image row is in by then; the
  // store row may hold an older row, whose padding columns were zero as every row's are.
  for (; next_zero_ <= y + kKernelReach; ++next_zero_) {
    std::fill_n(row16(next_zero_), stride, uint16_t{0});
  }
  y_ = y;
  centre16_ = row16(y) + kPad;
  interior_row_ = y >= 1 && y <= height_ - 2;
}

const uint16_t* SmoothingWindow::OnesCentre() const {
  // The rows of ones are kKernelReach .. kKernelReach + min(height, 13) - 1; row y lines up with
  // row kKernelReach + y of the store near the top (and everywhere when the image has at most
  // 13 rows), with the last row of ones near the bottom, and with the middle one in between.
  constexpr int kSpan = 2 * kKernelReach + 1;
  int row = kKernelReach + y_;
  if (height_ > kSpan && y_ >= kKernelReach) {
    row = y_ >= height_ - kKernelReach ? y_ - height_ + kKernelReach + kSpan : 2 * kKernelReach;
  }
  return ones_.data() + static_cast<size_t>(row) * static_cast<size_t>(stride_) + kPad;
}

uint8_t SmoothingWindow::BoxMean3AtBorder(int x) const {
  int sum = 0;
  int count = 0;
  for (int r = std::max(y_ - 1, 0); r <= std::min(y_ + 1, height_ - 1); ++r) {
    const uint16_t* row = centre16_ + (r - y_) * stride_;
    for (int i = std::max(x - 1, 0); i <= std::min(x + 1, width_ - 1); ++i) {
      sum += row[i];
      ++count;
    }
  }
  return static_cast<uint8_t>(sum / count);
}

// Near the border each pixel of a tap counts only inside the image, and the mean divides by
// the weights that counted. The window's rows lie in consecutive slots one stride apart, so an
// inside tap is read at its flat offset; padding taps weigh 0 and add nothing.
uint8_t SmoothingWindow::SmoothAtBorder(int x, int code) const {
  const FlatKernel& k = flat_kernels_[static_cast<size_t>(code)];
  const uint16_t* p = centre16_ + x;
  int32_t acc = k.centre * p[0];
  int32_t total = k.centre;
  const auto width = static_cast<unsigned>(width_);
  const auto height = static_cast<unsigned>(height_);
  // The padding taps past tap_count weigh 0 and add nothing.
  for (int t = 0; t < k.tap_count; ++t) {
    const FlatTap& tap = k.taps[t];
    if (static_cast<unsigned>(y_ - tap.dy) < height && static_cast<unsigned>(x - tap.dx) < width) {
      acc += tap.weight * p[-tap.offset];
      total += tap.weight;
    }
    if (static_cast<unsigned>(y_ + tap.dy) < height && static_cast<unsigned>(x + tap.dx) < width) {
      acc += tap.weight * p[tap.offset];
      total += tap.weight;
    }
  }
  return static_cast<uint8_t>(acc / total);
}

#if !RIDGELINE_HIGHWAY
// The block forms below compute, for every pixel of the block, the same sums as Smooth in the
// same integer types, so they agree with it bit for bit; the loops over the 16 pixels have a
// fixed length and no branch, for the vectoriser.
// The block forms compute, for each of n pixels (a whole number of vectors), the same sums as
// Smooth; loops of that length with no branch are what the vectoriser takes. The final division
// is done in double, which vectorises: the sum and kKernelSum are integers below 2^53, so a
// whole quotient comes out whole and any other stays clear of the next whole number.
void SmoothingWindow::KernelBlock(int x0, int code, int n, uint8_t* __restrict value) const {
  const FlatKernel& k = flat_kernels_[static_cast<size_t>(code)];
  const uint16_t* __restrict p = centre16_ + x0;
  // Every product and the total stay below kKernelSum x 255 < 2^25.
  uint32_t acc[kBlockLanes];
  const auto centre = static_cast<uint16_t>(k.centre);
  for (int j = 0; j < n; ++j) acc[j] = uint32_t{centre} * p[j];
  // Taps past tap_count weigh 0 on the centre pixel, so an odd count rounds up harmlessly.
  for (int t = 0; t < k.tap_count; t += 2) {
    const FlatTap& t1 = k.taps[t];
    const FlatTap& t2 = k.taps[std::min(t + 1, kFlatTaps - 1)];
    const uint16_t w2 = t + 1 < kFlatTaps ? static_cast<uint16_t>(t2.weight) : uint16_t{0};
    AddTapPair(p - t1.offset, p + t1.offset, static_cast<uint16_t>(t1.weight), p - t2.offset,
               p + t2.offset, w2, acc, n / kVectorLanes);
  }
  for (int j = 0; j < n; ++j) {
    value[j] = static_cast<uint8_t>(
        static_cast<int32_t>(static_cast<double>(acc[j]) / static_cast<double>(kKernelSum)));
  }
}
#endif  // !RIDGELINE_HIGHWAY

void SmoothingWindow::Mean3Block(int x0, int n, uint8_t* __restrict value) const {
  const uint16_t* __restrict p = centre16_ + x0;
  const uint16_t* __restrict up = p - stride_;
  const uint16_t* __restrict down = p + stride_;
  for (int j = 0; j < n; ++j) {
    const auto sum = static_cast<uint16_t>(up[j - 1] + up[j] + up[j + 1] + p[j - 1] + p[j] +
                                           p[j + 1] + down[j - 1] + down[j] + down[j + 1]);
    value[j] = static_cast<uint8_t>(sum / 9);
  }
}

void SmoothingWindow::SmoothRun(int x, int end, int code, uint8_t* __restrict out) const {
  // A block of n pixels at x needs columns x - kKernelReach .. x + n - 1 + kKernelReach; the
  // kernel also every tap row, the 3 x 3 mean rows y - 1 .. y + 1.
  const bool rows_inside =
      code == kNoDirection ? interior_row_ : RowsInside(flat_kernels_[static_cast<size_t>(code)]);
  if (rows_inside && end - x >= kMinRunPixels) {
    for (; x < std::min(kKernelReach, end); ++x) out[x] = Smooth(x, code);
    while (end - x >= kMinRunPixels) {
      const int lanes = std::min(end - x, kBlockLanes);
      const int n = (lanes + kVectorLanes - 1) / kVectorLanes * kVectorLanes;
      if (x + n > width_ - kKernelReach) break;
      uint8_t value[kBlockLanes];
      if (code == kNoDirection) {
        Mean3Block(x, n, value);
      } else {
#if RIDGELINE_HIGHWAY
        KernelBlockVector(centre16_ + x, n, flat_kernels_[static_cast<size_t>(code)], value);
#else
        KernelBlock(x, code, n, value);
#endif
      }
      std::memcpy(out + x, value, static_cast<size_t>(lanes));
      x += lanes;
    }
  }
  for (; x < end; ++x) out[x] = Smooth(x, code);
}

#if !RIDGELINE_HIGHWAY
// The portable form of MixedSpanVector, granules of kVectorLanes pixels.
void SmoothingWindow::MixedSpan(int xs, int xe, int limit, const uint8_t* codes,
                                uint8_t* __restrict out) const {
  for (int g = xs; g < xe;) {
    const int x0 = std::min(g, limit - kVectorLanes);
    unsigned pending = 0;
    for (int j = 0; j < kVectorLanes; ++j) {
      pending |= (codes[x0 + j] != kKeep ? 1u : 0u) << j;
    }
    while (pending != 0) {
      const uint8_t code = codes[x0 + std::countr_zero(pending)];
      uint8_t value[kVectorLanes];
      if (code == kNoDirection) {
        Mean3Block(x0, kVectorLanes, value);
      } else {
        KernelBlock(x0, code, kVectorLanes, value);
      }
      for (int j = 0; j < kVectorLanes; ++j) {
        if (codes[x0 + j] == code) {
          out[x0 + j] = value[j];
          pending &= ~(1u << j);
        }
      }
    }
    g = x0 + kVectorLanes;
  }
}
#endif  // !RIDGELINE_HIGHWAY

void SmoothingWindow::SmoothRow(const uint8_t* codes, uint8_t* out) const {
  // Runs of one code, as a smooth direction field gives them, go through the block forms.
  // Runs are found eight codes at a time where they are long.
  auto eight = [&](int at) {
    uint64_t word;
    std::memcpy(&word, codes + at, sizeof word);
    return word;
  };
  auto run_end = [&](int x) {
    const uint64_t repeated = uint64_t{codes[x]} * 0x0101010101010101u;
    int end = x + 1;
    while (end + 8 <= width_ && eight(end) == repeated) end += 8;
    while (end < width_ && codes[end] == codes[x]) ++end;
    return end;
  };
  // Where every kernel's taps lie inside the image (columns kKernelReach .. limit - 1 of the
  // rows kKernelReach .. height - kKernelReach - 1), pixels are smoothed in granules whatever
  // their codes: a direction field turns slowly, so a granule holds few distinct codes (about
  // three in eight pixels in the golden prints), and applying each to the whole granule in
  // vectors costs less than the pixel rule's scalar taps. With Highway the whole inside of such
  // a row goes by granules (a granule of one code costs what a block does, and no runs need
  // finding); the portable form takes only the spans of short runs so and long runs by blocks.
  const int limit = width_ - kKernelReach;
  const bool mixed_rows =
      y_ >= kKernelReach && y_ < height_ - kKernelReach && limit - kVectorLanes >= kKernelReach;
#if RIDGELINE_HIGHWAY
  // Pixels whose taps may leave the image (the first and last kKernelReach rows and columns)
  // take the clipped rule in granules too, over the zero-padded copies.
  if (width_ >= kKernelBlockGranule) {
    const MixedKernels kernels{flat_kernels_.data(), &SharedLaneKernels(), lane_offsets_};
    const uint16_t* ones = OnesCentre();
    // Images large enough for the divisor table clip each pixel on one side at most, by its
    // distance to the top or bottom (row_state) or to the left or right.
    BorderClip clip{nullptr, kKernelReach, width_};
    if (width_ >= kBorderTableWidth && height_ >= kBorderTableHeight) {
      clip.table = &SharedBorderDivisors();
      if (y_ < kKernelReach) {
        clip.row_state = y_;
      } else if (y_ >= height_ - kKernelReach) {
        clip.row_state = 2 * kKernelReach - (height_ - 1 - y_);
      }
    }
    // Only the level smoothing keeps pixels; elsewhere the granules need not look for the
    // first pixel due.
    const bool kept = std::memchr(codes, kKeep, static_cast<size_t>(width_)) != nullptr;
    if (mixed_rows) {
      BorderSpanVector(centre16_, ones, stride_, codes, kernels, clip, 0, kKernelReach, width_,
                       kept, out);
      MixedSpanVector(centre16_, stride_, codes, kernels, kKernelReach, limit, limit, kept, out);
      BorderSpanVector(centre16_, ones, stride_, codes, kernels, clip, limit, width_, width_, kept,
                       out);
    } else {
      BorderSpanVector(centre16_, ones, stride_, codes, kernels, clip, 0, width_, width_, kept,
                       out);
    }
    return;
  }
#endif
  for (int x = 0; x < width_;) {
    int end = run_end(x);
#if !RIDGELINE_HIGHWAY
    if (mixed_rows && end - x < kMinGranuleRun && x >= kKernelReach && x < limit) {
      const int xs = x;
      while (end < limit && end - x < kMinGranuleRun) {
        x = end;
        end = run_end(x);
      }
      // x .. end is now a long run or one that reaches past limit.
      const int xe = end - x < kMinGranuleRun ? std::min(end, limit) : x;
      MixedSpan(xs, xe, limit, codes, out);
      x = xe;
      continue;
    }
#endif
    if (codes[x] != kKeep) SmoothRun(x, end, codes[x], out);
    x = end;
  }
}

bool OrientedSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage) {
  if (width <= 0 || height <= 0) return true;
  SmoothingWindow window;
  std::vector<uint8_t> codes;
  try {
    codes.resize(static_cast<size_t>(width));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!window.Init(width, height, kKernelReach, /*byte_rows=*/false)) return false;
  for (int y = 0; y < height; ++y) {
    window.Advance(image, y);
    const uint8_t* dir = directionImage[y];
    for (int x = 0; x < width; ++x) codes[static_cast<size_t>(x)] = dir[x] & kCodeMask;
    window.SmoothRow(codes.data(), image[y]);
  }
  return true;
}

}  // namespace ridgeline
