#include "tools/eval/parallel_for.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace ridgeline::eval {
namespace {

TEST(ParallelFor, RunsEachIndexOnceOnValidWorkers) {
  constexpr int kCount = 1000;
  std::vector<int> runs(kCount, 0);
  std::vector<int> worker_of(kCount, -1);
  ParallelFor(kCount, 4, [&](int worker, int index) {
    ++runs[static_cast<size_t>(index)];  // each index is one worker's own slot
    worker_of[static_cast<size_t>(index)] = worker;
  });
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(runs[static_cast<size_t>(i)], 1) << i;
    EXPECT_GE(worker_of[static_cast<size_t>(i)], 0);
    EXPECT_LT(worker_of[static_cast<size_t>(i)], 4);
  }
}

TEST(ParallelFor, MoreThreadsThanItemsAndNoItems) {
  std::vector<int> runs(2, 0);
  ParallelFor(2, 16, [&](int worker, int index) {
    EXPECT_LT(worker, 2);
    ++runs[static_cast<size_t>(index)];
  });
  EXPECT_EQ(runs, (std::vector<int>{1, 1}));
  ParallelFor(0, 4, [](int, int) { FAIL() << "no item to run"; });
}

TEST(ParallelFor, RethrowsTheFirstErrorAfterAllWorkersStop) {
  EXPECT_THROW(ParallelFor(100, 3,
                           [](int, int index) {
                             if (index == 17) throw std::runtime_error("item 17");
                           }),
               std::runtime_error);
}

}  // namespace
}  // namespace ridgeline::eval
