// Oriented line smoothing: every pixel becomes the weighted mean of an 11-pixel line segment
// through it along its ridge direction, or its 3 x 3 mean where it has no direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/constants.h"
#include "core/records.h"
#include "extract/oriented_kernels.h"
#include "extract/smoothing_kernel_block.h"

namespace ridgeline {

// Filters image (width x height) in place along directionImage (same size; bits 0-6 the code
// or 127, bit 7 ignored). At the border only in-image taps count and the mean divides by their
// total weight. Returns false, leaving image untouched, when the row ring cannot be allocated.
// REQUIRES: directionImage codes are 0..119 or 127 (codes 120..126 are read as code - 120).
bool OrientedSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage);

// The unfiltered rows around the row being filtered, for filters that smooth some or all pixels
// of an image in place with the oriented kernels. Rows y - 6 .. y + below are kept as copies
// widened to 16 bits in a linear store of a few windows' rows, so that the rows of the window
// always lie one stride apart and each kernel tap is one fixed offset from the centre pixel;
// when the window reaches the end of the store, its rows move back to the start. Each row has
// kKernelReach columns of zeros either side, and the rows past the image (up to the kernels' reach)
// read 0 too, so the vector forms sum the taps inside the image with no bounds to check. Callers
// that read the rows (Row) get byte copies as well, once per row.
class SmoothingWindow {
 public:
  // Returns false when the rows cannot be allocated. below is the number of rows the caller
  // reads ahead of the row being filtered, at least the kernel's reach.
  // byte_rows keeps the byte copies Row returns; without them the window copies a third as
  // much per row.
  // REQUIRES: width > 0, height > 0, below >= kKernelReach.
  bool Init(int width, int height, int below = kKernelReach, bool byte_rows = true);

  // Makes y the row being filtered: copies the image rows y - 6 .. y + below (clipped) that are
  // not in the window yet. Call for rows in increasing order, before row y of image changes;
  // rows may be skipped (rows left unfiltered need no call).
  void Advance(const uint8_t* const* image, int y);

  // The unfiltered copy of image row r.
  // REQUIRES: Init with byte_rows; y - 6 <= r <= y + below, 0 <= r < height.
  const uint8_t* Row(int r) const {
    return data_.data() + static_cast<size_t>(r % slots_) * static_cast<size_t>(width_);
  }

  // The smoothed value of pixel x of the row being filtered along code (0..126; 120..126 are
  // read as code - 120), or its 3 x 3 mean for code 127.
  uint8_t Smooth(int x, int code) const {
    const uint16_t* p = centre16_ + x;
    if (code == kNoDirection) {
      if (!interior_row_ || x < 1 || x > width_ - 2) return BoxMean3AtBorder(x);
      const uint16_t* up = p - stride_;
      const uint16_t* down = p + stride_;
      const int sum = up[-1] + up[0] + up[1] + p[-1] + p[0] + p[1] + down[-1] + down[0] + down[1];
      return static_cast<uint8_t>(sum / 9);
    }
    const FlatKernel& k = flat_kernels_[static_cast<size_t>(code)];
    if (!Inside(k, x)) return SmoothAtBorder(x, code);
    // Every tap lies inside the image: the weights sum to kKernelSum.

    int32_t acc = k.centre * p[0];
    for (int t = 0; t < kFlatTaps; ++t) {
      acc += k.taps[t].weight * (p[-k.taps[t].offset] + p[k.taps[t].offset]);
    }
    return static_cast<uint8_t>(acc / kKernelSum);
  }

  // A code that SmoothRow leaves the pixel of alone.
  static constexpr uint8_t kKeep = kKeepCode;

  // out[x] = Smooth(x, codes[x]) for every pixel x of the row being filtered whose code is not
  // kKeep; the other pixels of out are not written. Runs of pixels with one code are smoothed
  // kBlockLanes at a time with one fixed kernel across the block.
  // REQUIRES: codes 0..127 or kKeep; out does not overlap the window.
  void SmoothRow(const uint8_t* codes, uint8_t* out) const;

 private:
  // True when every tap of k around pixel x of the row being filtered lies in the image.
  bool Inside(const FlatKernel& k, int x) const {
    return RowsInside(k) && x >= k.reach_x && x < width_ - k.reach_x;
  }
  bool RowsInside(const FlatKernel& k) const { return y_ >= k.reach_y && y_ < height_ - k.reach_y; }

  // Blocks are whole vectors of 16-bit pixels, up to kBlockLanes of them at once.
  static constexpr int kVectorLanes = 8;
  static constexpr int kBlockLanes = 64;
  // Shorter runs of a code are cheaper pixel by pixel.
  static constexpr int kMinRunPixels = 2;
  // Runs shorter than this, inside the image, are smoothed a granule of mixed codes at a time.
  static constexpr int kMinGranuleRun = 4 * kVectorLanes;

  uint8_t BoxMean3AtBorder(int x) const;
  // out[x .. end - 1] along one code.
  void SmoothRun(int x, int end, int code, uint8_t* out) const;
  // MixedSpanVector's rule for the row being filtered, without Highway.
  void MixedSpan(int xs, int xe, int limit, const uint8_t* codes, uint8_t* out) const;
  void KernelBlock(int x0, int code, int n, uint8_t* value) const;
  void Mean3Block(int x0, int n, uint8_t* value) const;
  uint8_t SmoothAtBorder(int x, int code) const;
  // The row of the ones store (1 inside the image, 0 outside) that lines up with the row being
  // filtered: its rows above and below are inside exactly where the image's are.
  const uint16_t* OnesCentre() const;

  // Zero columns either side of each row copy: every tap of a pixel in the row lies in them.
  static constexpr int kPad = kKernelReach;

  int width_ = 0;
  int height_ = 0;
  int below_ = 0;
  int slots_ = 0;  // rows in the window (and byte rows in the ring), below + 7
  // The 16-bit store holds this many windows of rows.
  static constexpr int kStoreWindows = 3;
  int first_ = 0;  // the image row in row 0 of the 16-bit store (negative: rows above the image)
  int next_row_ = 0;
  int next_zero_ = 0;  // the next row past the image whose 16-bit row is to be zeroed
  int y_ = 0;
  bool interior_row_ = false;  // rows 1 .. height - 2: the 3 x 3 block is inside
  std::ptrdiff_t stride_ = 0;
  // The byte copies for Row, once each at slot r mod n (empty without byte_rows).
  std::vector<uint8_t> data_;
  // The rows widened to 16 bits: the block forms read whole vectors of pixels from them without
  // widening each tap again. centre16_ is pixel 0 of row y.
  const uint16_t* centre16_ = nullptr;
  std::vector<uint16_t> data16_;
  // 1 at the image's pixels, 0 in the padding and in kKernelReach rows above and below the
  // min(height, 2 kKernelReach + 1) rows of ones; the same stride as the row copies.
  std::vector<uint16_t> ones_;
  std::vector<FlatKernel> flat_kernels_;  // codes 0 .. 126
  // The row-store offsets of the shared offset list's slots (SharedLaneKernels).
  int32_t lane_offsets_[kLaneOffsetSlots] = {};
  // The row stride the two above were laid out for: a window initialised again for another pass
  // over the same image keeps them.
  std::ptrdiff_t kernels_stride_ = 0;
};

}  // namespace ridgeline
