// The working images of an extraction, their memory kept from one extraction to the next.
//
// Allocated anew for every capture, the three image-sized working images (a few hundred
// kilobytes) come from fresh pages each time: the allocator hands the freed heap top back to the
// system after every extraction, and the first touch of every page then faults, about 4 % of an
// extraction. So a released image's memory goes to a small process-wide pool instead, wiped
// first (it held a fingerprint), and the next extraction takes it from there, on whichever
// thread it runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/records.h"

namespace ridgeline {

// Owns one working image for the length of a pipeline run, laid out as AllocGrayImage lays one
// out: one contiguous pixel block behind a row table that ends in a null slot, and one zero byte
// beyond the pixels. Wiped when released.
class WorkImage {
 public:
  WorkImage() = default;
  // An image filled with fill; null on failure.
  WorkImage(int width, int height, uint8_t fill);
  // An image whose pixels hold zeros or whatever the allocator gives: only for an image whose
  // every pixel is written before any is read.
  // REQUIRES: width, height >= 1.
  static WorkImage Unfilled(int width, int height);
  ~WorkImage() { Release(); }
  WorkImage(const WorkImage&) = delete;
  WorkImage& operator=(const WorkImage&) = delete;
  WorkImage(WorkImage&& other) noexcept;
  WorkImage& operator=(WorkImage&& other) noexcept;

  // Wipes the pixels and gives the memory to the pool (or frees it when the pool is full).
  void Release();
  GrayImage get() const { return image_; }
  explicit operator bool() const { return image_ != nullptr; }

  // Where the memory comes from and goes back to; the sizes are the capacities of the row table
  // (without its null slot) and of the pixel block (without its zero byte).
  struct Block {
    GrayImage table = nullptr;
    uint8_t* pixels = nullptr;
    size_t rows = 0;
    size_t bytes = 0;
  };

 private:
  Block block_;
  GrayImage image_ = nullptr;
  size_t used_ = 0;  // pixel bytes of this image, the ones to wipe
};

// The number of blocks the pool holds now, and the most it keeps (for tests).
int PooledWorkImages();
constexpr int kPooledWorkImages = 8;

// Frees every block the pool holds (for tests, and for a host that wants the memory back).
void EmptyWorkImagePool();

}  // namespace ridgeline
