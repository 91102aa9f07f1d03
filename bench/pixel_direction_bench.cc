// EstimatePixelDirections (25 x 25 windows) on a 400 x 400 ridge image.
#include <benchmark/benchmark.h>

#include "extract/pixel_direction.h"
#include "tests/support/images.h"
#include "tests/support/patterns.h"

namespace ridgeline {
namespace {

using testing::Ridges;
using testing::TestImage;

constexpr int kSide = 400;

void BM_EstimatePixelDirections(benchmark::State& state) {
  const auto pattern = Ridges(52.5, 9.0);
  TestImage source(kSide, kSide, pattern);
  TestImage image(kSide, kSide);
  TestImage direction(kSide, kSide);
  for (auto _ : state) {
    state.PauseTiming();
    CopyGrayImage(kSide, kSide, source.get(), image.get());
    state.ResumeTiming();
    EstimatePixelDirections(kSide, kSide, image.get(), direction.get(), 12, 23);
    benchmark::DoNotOptimize(direction.get()[kSide / 2][kSide / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_EstimatePixelDirections)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ridgeline
