// Oriented line smoothing: every pixel becomes the weighted mean of an 11-pixel line segment
// through it along its ridge direction, or its 3 x 3 mean where it has no direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/constants.h"
#include "core/records.h"
#include "extract/oriented_kernels.h"

namespace ridgeline {

// Filters image (width x height) in place along directionImage (same size; bits 0-6 the code
// or 127, bit 7 ignored). At the border only in-image taps count and the mean divides by their
// total weight. Returns false, leaving image untouched, when the row ring cannot be allocated.
// REQUIRES: directionImage codes are 0..119 or 127 (codes 120..126 are read as code - 120).
bool OrientedSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage);

// The unfiltered rows around the row being filtered, for filters that smooth some or all pixels
// of an image in place with the oriented kernels. Rows y - 6 .. y + below are kept as copies;
// every row is stored twice, at slots r mod n and r mod n + n of a ring of n = below + 7 slots,
// so that the rows of the window always lie in consecutive slots and each kernel tap is one
// fixed offset from the centre pixel.
class SmoothingWindow {
 public:
  // Returns false when the rows cannot be allocated. below is the number of rows the caller
  // reads ahead of the row being filtered, at least the kernel's reach.
  // REQUIRES: width > 0, height > 0, below >= kKernelReach.
  bool Init(int width, int height, int below = kKernelReach);

  // Makes y the row being filtered: copies the image rows up to y + below (clipped) that are
  // not in the window yet. Call for y = 0, 1, 2, ... in order, before row y of image changes.
  void Advance(const uint8_t* const* image, int y);

  // The unfiltered copy of image row r. REQUIRES: y - 6 <= r <= y + below, 0 <= r < height.
  const uint8_t* Row(int r) const { return centre_ + (r - y_) * stride_; }

  // The smoothed value of pixel x of the row being filtered along code (0..126; 120..126 are
  // read as code - 120), or its 3 x 3 mean for code 127.
  uint8_t Smooth(int x, int code) const {
    const uint8_t* p = centre_ + x;
    if (code == kNoDirection) {
      if (!interior_row_ || x < 1 || x > width_ - 2) return BoxMean3AtBorder(x);
      const uint8_t* up = p - stride_;
      const uint8_t* down = p + stride_;
      const int sum = up[-1] + up[0] + up[1] + p[-1] + p[0] + p[1] + down[-1] + down[0] + down[1];
      return static_cast<uint8_t>(sum / 9);
    }
    if (!kernel_rows_ || x < kKernelReach || x >= width_ - kKernelReach) {
      return SmoothAtBorder(x, code);
    }
    // Every tap lies inside the image: the weights sum to kKernelSum.
    const FlatKernel& k = flat_kernels_[static_cast<size_t>(code)];
    int32_t acc = k.centre * p[0];
    for (int t = 0; t < kFlatTaps; ++t) {
      acc += k.taps[t].weight * (p[-k.taps[t].offset] + p[k.taps[t].offset]);
    }
    return static_cast<uint8_t>(acc / kKernelSum);
  }

 private:
  // A kernel with each tap (dy, dx) turned into the offset dy x stride + dx, padded with taps
  // of weight 0 on the centre pixel to the largest tap count so that the loops have a fixed
  // length. The border path keeps (dy, dx) to clip the taps to the image.
  static constexpr int kFlatTaps = 15;
  struct FlatTap {
    int32_t offset;
    int32_t weight;
    int16_t dy;
    int16_t dx;
  };
  struct FlatKernel {
    int32_t centre;
    FlatTap taps[kFlatTaps];
  };

  uint8_t BoxMean3AtBorder(int x) const;
  uint8_t SmoothAtBorder(int x, int code) const;

  int width_ = 0;
  int height_ = 0;
  int below_ = 0;
  int slots_ = 0;  // rows in the ring; each row is stored in two slots
  int next_row_ = 0;
  int y_ = 0;
  bool interior_row_ = false;  // rows 1 .. height - 2: the 3 x 3 block is inside
  bool kernel_rows_ = false;   // rows 6 .. height - 7: every tap row is inside
  std::ptrdiff_t stride_ = 0;
  const uint8_t* centre_ = nullptr;  // the copy of row y
  std::vector<uint8_t> data_;
  std::vector<FlatKernel> flat_kernels_;  // codes 0 .. 126
};

}  // namespace ridgeline
