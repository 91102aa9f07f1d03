#include "extract/oriented_smoothing.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <new>

namespace ridgeline {
namespace {

// Kernel of a direction byte's code; codes 120..126 do not occur in a valid direction image
// and are read modulo 120 rather than past the table.
const OrientedKernel& KernelOf(int code) {
  return kOrientedKernelTable[static_cast<size_t>(code >= kDirectionSteps ? code - kDirectionSteps
                                                                          : code)];
}

}  // namespace

bool SmoothingWindow::Init(int width, int height, int below) {
  assert(width > 0 && height > 0 && below >= kKernelReach);
  width_ = width;
  height_ = height;
  below_ = below;
  slots_ = kKernelReach + below + 1;
  next_row_ = 0;
  y_ = 0;
  stride_ = width;
  try {
    data_.assign(2 * static_cast<size_t>(slots_) * static_cast<size_t>(width), 0);
    flat_kernels_.resize(kNoDirection);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int code = 0; code < kNoDirection; ++code) {
    const OrientedKernel& k = KernelOf(code);
    FlatKernel& flat = flat_kernels_[static_cast<size_t>(code)];
    assert(k.tap_count <= kFlatTaps);
    flat.centre = k.centre;
    for (int t = 0; t < kFlatTaps; ++t) {
      flat.taps[t] = t < k.tap_count ? FlatTap{k.taps[t].dy * width + k.taps[t].dx,
                                               k.taps[t].weight, k.taps[t].dy, k.taps[t].dx}
                                     : FlatTap{0, 0, 0, 0};
    }
  }
  return true;
}

void SmoothingWindow::Advance(const uint8_t* const* image, int y) {
  assert(y == 0 || y == y_ + 1);
  const size_t w = static_cast<size_t>(width_);
  // Row r lives in slots r mod n and r mod n + n.
  auto slot = [&](int r) { return ((r % slots_) + slots_) % slots_; };
  for (; next_row_ < height_ && next_row_ <= y + below_; ++next_row_) {
    uint8_t* first = data_.data() + static_cast<size_t>(slot(next_row_)) * w;
    std::memcpy(first, image[next_row_], w);
    std::memcpy(first + static_cast<size_t>(slots_) * w, first, w);
  }
  y_ = y;
  // Rows y - 6 .. y + below fill the slots from that of row y - 6 on, without wrapping.
  centre_ = data_.data() + static_cast<size_t>(slot(y - kKernelReach) + kKernelReach) * w;
  interior_row_ = y >= 1 && y <= height_ - 2;
  kernel_rows_ = y >= kKernelReach && y < height_ - kKernelReach;
}

uint8_t SmoothingWindow::BoxMean3AtBorder(int x) const {
  int sum = 0;
  int count = 0;
  for (int r = std::max(y_ - 1, 0); r <= std::min(y_ + 1, height_ - 1); ++r) {
    const uint8_t* row = Row(r);
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
  const uint8_t* p = centre_ + x;
  int32_t acc = k.centre * p[0];
  int32_t total = k.centre;
  const auto width = static_cast<unsigned>(width_);
  const auto height = static_cast<unsigned>(height_);
  for (int t = 0; t < kFlatTaps; ++t) {
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

bool OrientedSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage) {
  if (width <= 0 || height <= 0) return true;
  SmoothingWindow window;
  if (!window.Init(width, height)) return false;
  for (int y = 0; y < height; ++y) {
    window.Advance(image, y);
    const uint8_t* dir = directionImage[y];
    uint8_t* out = image[y];
    for (int x = 0; x < width; ++x) out[x] = window.Smooth(x, dir[x] & kCodeMask);
  }
  return true;
}

}  // namespace ridgeline
