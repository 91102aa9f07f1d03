// Row bands: one local stage of the extraction run on horizontal bands of its images, on the
// calling thread and one worker thread, with exactly the output of one run over the whole image.
//
// A stage is local with reach R when its output row y is a function of its input rows
// y - R .. y + R alone, where rows outside the image are absent and rows on the image's edge
// may be treated as edge rows. Each band runs the stage on a sub-image made of its own rows and
// up to `halo` rows on either side (clipped at the image's edges). With halo >= R, every own row
// sees the same input rows as in the whole image, and the sub-image's artificial edges, at
// distance >= halo from every own row, are never within its reach: the own rows come out
// bit for bit as in the whole image. The halo rows come out wrong and are thrown away.
//
// So that two bands never touch the same bytes, a band's sub-image of an image the stage writes
// has its own rows pointing into the image and its halo rows pointing to private copies made
// before any band starts; images the stage only reads are shared whole. Stages run in bands must
// therefore address rows only through the row table (never image[0] + y x width) and must keep
// nothing between calls that one band could change under the other.
//
// One RowBands serves one extraction at a time (a pipeline run); its worker thread is started
// on first use and joined by the destructor. No exception leaves a band: a band that throws
// counts as failed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "core/records.h"

namespace ridgeline {

// The rows of one band: its own rows [own_begin, own_end) and its sub-image [sub_begin,
// sub_end), the own rows plus the halo clipped at the image.
struct BandRows {
  int own_begin = 0;
  int own_end = 0;
  int sub_begin = 0;
  int sub_end = 0;

  int height() const { return sub_end - sub_begin; }
};

// Band `band` of `bands` bands of an image of `height` rows with `halo` rows of overlap: own
// rows are split as evenly as integer division allows, top band first.
// REQUIRES: 1 <= bands <= height, 0 <= band < bands, halo >= 0.
BandRows BandOf(int height, int bands, int band, int halo);

// Runs task(i) for i = 0 .. count - 1 on the calling thread and one worker thread, each taking
// the next index in turn.
class BandWorker {
 public:
  BandWorker() = default;
  ~BandWorker();
  BandWorker(const BandWorker&) = delete;
  BandWorker& operator=(const BandWorker&) = delete;

  // True when every task returned true (a throwing task counts as false). When the worker thread
  // cannot be started, the calling thread runs every task: the results are the same.
  template <typename Task>
  bool Run(int count, Task&& task) {
    using Stored = std::remove_reference_t<Task>;
    return Dispatch(
        count, [](void* context, int i) { return (*static_cast<Stored*>(context))(i); },
        const_cast<void*>(static_cast<const void*>(&task)));
  }

 private:
  using TaskFunction = bool (*)(void* context, int index);

  bool Dispatch(int count, TaskFunction function, void* context);
  // Takes indices until none is left; false when a task failed.
  bool Drain();
  void Serve();

  std::thread thread_;
  bool started_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;  // the worker waits for a job or the stop
  std::condition_variable done_;  // the caller waits for the worker to finish the job
  // The job, written under mutex_ before the worker is woken.
  TaskFunction function_ = nullptr;
  void* context_ = nullptr;
  int count_ = 0;
  uint64_t job_ = 0;          // counts jobs handed over, so that a wake-up is never lost
  bool worker_busy_ = false;  // the worker is still taking indices of the current job
  bool stop_ = false;
  std::atomic<int> next_{0};
  std::atomic<bool> failed_{false};
};

// One image a banded stage works on, and whether the stage writes it.
struct BandImage {
  GrayImage image;
  bool written;
};

// The band split of one pipeline run: the band count, the worker and the halo copies, reused
// from stage to stage.
class RowBands {
 public:
  // bands < 1 counts as 1. With one band every stage runs on the whole images, unchanged.
  explicit RowBands(int bands) : bands_(bands < 1 ? 1 : bands) {}

  int bands() const { return bands_; }

  // Runs stage(rows, views) once per band and returns true when every band did, false when a
  // band failed or the halo copies could not be allocated (the images may then be partly
  // processed). views[i] is the band's sub-image of images[i] (rows.height() rows, row 0 being
  // image row rows.sub_begin). With one band (or one row) stage gets the whole images.
  // REQUIRES: every image is at least width x height; halo >= the stage's reach.
  template <typename Stage>
  bool Run(int width, int height, int halo, std::initializer_list<BandImage> images,
           Stage&& stage) {
    const int bands = height < bands_ ? height : bands_;
    if (bands <= 1) {
      GrayImage whole[kMaxImages];
      int i = 0;
      for (const BandImage& image : images) whole[i++] = image.image;
      return stage(BandRows{0, height, 0, height}, static_cast<GrayImage*>(whole));
    }
    if (!Prepare(width, height, bands, halo, images)) return false;
    const auto image_count = images.size();
    return worker_.Run(bands, [&](int band) {
      const BandRows rows = BandOf(height, bands, band, halo);
      return stage(rows, views_.data() + static_cast<size_t>(band) * image_count);
    });
  }

  static constexpr int kMaxImages = 4;

 private:
  // Builds the row tables of every band's sub-images and copies the halo rows of the written
  // images. False when the memory cannot be had.
  bool Prepare(int width, int height, int bands, int halo, std::initializer_list<BandImage> images);

  int bands_;
  BandWorker worker_;
  // views_[b x images + i]: the row table of band b's sub-image of image i, in row_tables_.
  std::vector<GrayImage> views_;
  std::vector<uint8_t*> row_tables_;
  std::vector<uint8_t> halo_copies_;
};

}  // namespace ridgeline
