// Row bands: the band split, the halo copies and the one worker thread.
#include "extract/row_bands.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <system_error>

namespace ridgeline {

BandRows BandOf(int height, int bands, int band, int halo) {
  assert(bands >= 1 && bands <= height && band >= 0 && band < bands && halo >= 0);
  BandRows rows;
  rows.own_begin = static_cast<int>(int64_t{height} * band / bands);
  rows.own_end = static_cast<int>(int64_t{height} * (band + 1) / bands);
  rows.sub_begin = std::max(0, rows.own_begin - halo);
  rows.sub_end = static_cast<int>(std::min(int64_t{height}, int64_t{rows.own_end} + halo));
  return rows;
}

BandWorker::~BandWorker() {
  if (!started_) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

bool BandWorker::Dispatch(int count, TaskFunction function, void* context) {
  if (count > 1 && !started_) {
    try {
      thread_ = std::thread([this] { Serve(); });
      started_ = true;
    } catch (const std::system_error&) {
      // No second thread: the calling thread takes every task, with the same results.
    } catch (const std::bad_alloc&) {
    }
  }
  const bool shared = count > 1 && started_;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    function_ = function;
    context_ = context;
    count_ = count;
    next_.store(0);
    failed_.store(false);
    if (shared) {
      ++job_;
      worker_busy_ = true;
    }
  }
  if (shared) wake_.notify_one();
  Drain();
  if (shared) {
    // The worker's writes to the images happen before it clears worker_busy_ under the mutex.
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !worker_busy_; });
  }
  return !failed_.load();
}

bool BandWorker::Drain() {
  for (int i = next_.fetch_add(1); i < count_; i = next_.fetch_add(1)) {
    bool ok = false;
    try {
      ok = function_(context_, i);
    } catch (...) {
      // No exception crosses a thread: the band has failed, as an allocation failure would.
      ok = false;
    }
    if (!ok) failed_.store(true);
  }
  return !failed_.load();
}

void BandWorker::Serve() {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || job_ != seen; });
    if (stop_) return;
    seen = job_;
    lock.unlock();
    Drain();
    lock.lock();
    worker_busy_ = false;
    done_.notify_one();
  }
}

bool RowBands::Prepare(int width, int height, int bands, int halo,
                       std::initializer_list<BandImage> images) {
  assert(images.size() <= static_cast<size_t>(kMaxImages));
  const size_t image_count = images.size();
  const auto w = static_cast<size_t>(width);
  size_t table_rows = 0;
  size_t copied_rows = 0;
  for (int band = 0; band < bands; ++band) {
    const BandRows rows = BandOf(height, bands, band, halo);
    table_rows += static_cast<size_t>(rows.height()) * image_count;
    for (const BandImage& image : images) {
      if (image.written) {
        copied_rows += static_cast<size_t>(rows.height() - (rows.own_end - rows.own_begin));
      }
    }
  }
  try {
    views_.resize(static_cast<size_t>(bands) * image_count);
    row_tables_.resize(table_rows);
    halo_copies_.resize(copied_rows * w);
  } catch (const std::bad_alloc&) {
    return false;
  }

  // Every copy is taken here, before any band starts writing.
  uint8_t** table = row_tables_.data();
  uint8_t* copy = halo_copies_.data();
  for (int band = 0; band < bands; ++band) {
    const BandRows rows = BandOf(height, bands, band, halo);
    size_t i = 0;
    for (const BandImage& image : images) {
      views_[static_cast<size_t>(band) * image_count + i++] = table;
      for (int y = rows.sub_begin; y < rows.sub_end; ++y) {
        const bool own = y >= rows.own_begin && y < rows.own_end;
        if (own || !image.written) {
          *table++ = image.image[y];
        } else {
          if (w != 0) std::memcpy(copy, image.image[y], w);
          *table++ = copy;
          copy += w;
        }
      }
    }
  }
  return true;
}

}  // namespace ridgeline
