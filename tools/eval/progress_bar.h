// A progress bar on stderr for the long phases of an evaluation. On a terminal it redraws one
// line in place; elsewhere (a log file, a pipe) it writes one line when the phase ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace ridgeline::eval {

class ProgressBar {
 public:
  // enabled false draws nothing at all.
  ProgressBar(std::string label, int total, bool enabled, std::FILE* stream = stderr);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Safe to call from any thread.
  void Advance();
  // Draws the final state and ends the line; later calls do nothing.
  void Finish();

 private:
  void Draw(int done, bool final);

  std::string label_;
  int total_;
  bool enabled_;
  bool terminal_;
  std::FILE* stream_;
  std::atomic<int> done_{0};
  std::mutex draw_mutex_;
  int drawn_percent_ = -1;
  bool finished_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace ridgeline::eval
