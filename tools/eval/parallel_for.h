// Spreading independent work items over a fixed number of threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace ridgeline::eval {

// Calls task(worker, index) once for each index in [0, count), spread over `threads` workers
// that take the next index as they come free; worker is 0 .. threads - 1 and selects the
// caller's per-worker state, which no other worker touches. The first exception thrown by a
// task stops the hand-out of new items and is rethrown here once every worker has stopped.
template <typename Task>
void ParallelFor(int count, int threads, Task&& task) {
  threads = std::max(1, std::min(threads, count));
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first_error;
  std::mutex error_mutex;
  auto run = [&](int worker) {
    for (int index = next++; index < count && !failed; index = next++) {
      try {
        task(worker, index);
      } catch (...) {
        std::lock_guard lock(error_mutex);
        if (!failed.exchange(true)) first_error = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  for (int worker = 1; worker < threads; ++worker) pool.emplace_back(run, worker);
  run(0);
  for (std::thread& thread : pool) thread.join();
  if (first_error) std::rethrow_exception(first_error);
}

}  // namespace ridgeline::eval
