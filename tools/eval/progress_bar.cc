#include "tools/eval/progress_bar.h"

#include <unistd.h>

#include <utility>

namespace ridgeline::eval {
namespace {

constexpr int kBarWidth = 40;

}  // namespace

ProgressBar::ProgressBar(std::string label, int total, bool enabled, std::FILE* stream)
    : label_(std::move(label)),
      total_(total),
      enabled_(enabled),
      terminal_(enabled && isatty(fileno(stream))),
      stream_(stream),
      start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Advance() {
  const int done = done_.fetch_add(1, std::memory_order_relaxed) + 1;
  if (!terminal_) return;
  // Redraw only when the whole percentage moves; a thread that finds the lock taken skips.
  std::unique_lock lock(draw_mutex_, std::try_to_lock);
  if (lock.owns_lock() && !finished_) Draw(done, false);
}

void ProgressBar::Finish() {
  std::lock_guard lock(draw_mutex_);
  if (finished_ || !enabled_) return;
  finished_ = true;
  Draw(done_.load(), true);
}

void ProgressBar::Draw(int done, bool final) {
  const int percent = total_ > 0 ? static_cast<int>(int64_t{done} * 100 / total_) : 100;
  if (!final && percent == drawn_percent_) return;
  drawn_percent_ = percent;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (!terminal_) {
    std::fprintf(stream_, "%s: %d/%d done in %.1f s\n", label_.c_str(), done, total_, seconds);
    return;
  }
  const int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  std::fprintf(stream_, "\r%-12s [%s] %3d%% %d/%d %.1f s%s", label_.c_str(), bar.c_str(), percent,
               done, total_, seconds, final ? "\n" : "");
  std::fflush(stream_);
}

}  // namespace ridgeline::eval
