// The working images' pool: a handful of wiped blocks behind a lock, taken best fit.
#include "extract/work_image.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/secure_zero.h"

#if defined(__SANITIZE_ADDRESS__)
#define RIDGELINE_POOL_POISONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RIDGELINE_POOL_POISONS 1
#endif
#endif
#ifdef RIDGELINE_POOL_POISONS
#include <sanitizer/asan_interface.h>
#endif

namespace ridgeline {
namespace {

// Under AddressSanitizer a held block is out of bounds, as freed memory would be: a pointer kept
// into a released image still faults there.
void MarkHeld(const WorkImage::Block& block, bool held) {
#ifdef RIDGELINE_POOL_POISONS
  const auto mark = held ? __asan_poison_memory_region : __asan_unpoison_memory_region;
  mark(block.pixels, block.bytes + 1);
  mark(block.table, (block.rows + 1) * sizeof(uint8_t*));
#else
  (void)block;
  (void)held;
#endif
}

void FreeBlock(const WorkImage::Block& block) {
  MarkHeld(block, false);
  std::free(block.pixels);
  std::free(block.table);
}

// Set once the pool is destroyed (at exit, or when the library is unloaded): an image released
// by a thread still running then is freed, and none is taken.
std::atomic<bool> pool_closed{false};

// Every block held is wiped over the bytes its last image used, and so, by induction, over all
// of them: an image never writes past its own pixels.
class Pool {
 public:
  ~Pool() {
    pool_closed = true;
    Empty();
  }

  // The smallest held block with room for the image; an empty block when none has.
  WorkImage::Block Take(size_t rows, size_t bytes) {
    if (pool_closed) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    int best = -1;
    for (int i = 0; i < count_; ++i) {
      const WorkImage::Block& b = blocks_[static_cast<size_t>(i)];
      if (b.rows >= rows && b.bytes >= bytes &&
          (best < 0 || b.bytes < blocks_[static_cast<size_t>(best)].bytes)) {
        best = i;
      }
    }
    if (best < 0) return {};
    const WorkImage::Block taken = blocks_[static_cast<size_t>(best)];
    blocks_[static_cast<size_t>(best)] = blocks_[static_cast<size_t>(--count_)];
    MarkHeld(taken, false);
    return taken;
  }

  // Keeps a wiped block, or frees it (or a smaller one held) when the pool is full.
  void Give(WorkImage::Block block) {
    if (pool_closed) {
      FreeBlock(block);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (count_ < kPooledWorkImages) {
        MarkHeld(block, true);
        blocks_[static_cast<size_t>(count_++)] = block;
        return;
      }
      for (WorkImage::Block& held : blocks_) {
        if (held.bytes < block.bytes) {
          MarkHeld(block, true);
          std::swap(held, block);
        }
      }
    }
    FreeBlock(block);
  }

  int Count() {
    if (pool_closed) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

  void Empty() {
    std::array<WorkImage::Block, kPooledWorkImages> held;
    int n = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      held = blocks_;
      n = std::exchange(count_, 0);
    }
    for (int i = 0; i < n; ++i) FreeBlock(held[static_cast<size_t>(i)]);
  }

 private:
  std::mutex mutex_;
  std::array<WorkImage::Block, kPooledWorkImages> blocks_{};
  int count_ = 0;
};

Pool& ThePool() {
  static Pool pool;
  return pool;
}

WorkImage::Block NewBlock(size_t rows, size_t bytes) {
  auto** table = static_cast<uint8_t**>(std::calloc(rows + 1, sizeof(uint8_t*)));
  if (table == nullptr) return {};
  auto* pixels = static_cast<uint8_t*>(std::malloc(bytes + 1));
  if (pixels == nullptr) {
    std::free(table);
    return {};
  }
  return {table, pixels, rows, bytes};
}

}  // namespace

WorkImage::WorkImage(int width, int height, uint8_t fill) : WorkImage(Unfilled(width, height)) {
  if (image_ != nullptr) std::memset(image_[0], fill, used_);
}

WorkImage WorkImage::Unfilled(int width, int height) {
  const auto rows = static_cast<size_t>(height);
  const auto row_bytes = static_cast<size_t>(width);
  const size_t bytes = rows * row_bytes;
  WorkImage work;
  work.block_ = ThePool().Take(rows, bytes);
  if (work.block_.table == nullptr) work.block_ = NewBlock(rows, bytes);
  if (work.block_.table == nullptr) return work;
  uint8_t* pixels = work.block_.pixels;
  GrayImage table = work.block_.table;
  for (size_t r = 0; r < rows; ++r) table[r] = pixels + r * row_bytes;
  table[rows] = nullptr;
  pixels[bytes] = 0;
  work.image_ = table;
  work.used_ = bytes;
  return work;
}

WorkImage::WorkImage(WorkImage&& other) noexcept
    : block_(std::exchange(other.block_, {})),
      image_(std::exchange(other.image_, nullptr)),
      used_(std::exchange(other.used_, 0)) {}

WorkImage& WorkImage::operator=(WorkImage&& other) noexcept {
  if (this != &other) {
    Release();
    block_ = std::exchange(other.block_, {});
    image_ = std::exchange(other.image_, nullptr);
    used_ = std::exchange(other.used_, 0);
  }
  return *this;
}

void WorkImage::Release() {
  if (block_.table == nullptr) return;
  SecureZeroMemory(block_.pixels, used_);
  ThePool().Give(block_);
  block_ = {};
  image_ = nullptr;
  used_ = 0;
}

int PooledWorkImages() { return ThePool().Count(); }

void EmptyWorkImagePool() { ThePool().Empty(); }

}  // namespace ridgeline
