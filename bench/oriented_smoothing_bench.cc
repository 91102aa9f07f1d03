// OrientedSmooth on a 400 x 400 ridge image, with one direction everywhere and with the
// per-pixel field of the image itself.
#include <benchmark/benchmark.h>

#include "extract/oriented_smoothing.h"
#include "extract/pixel_direction.h"
#include "tests/support/images.h"
#include "tests/support/patterns.h"

namespace ridgeline {
namespace {

using testing::Ridges;
using testing::TestImage;

constexpr int kSide = 400;

void BM_OrientedSmooth(benchmark::State& state) {
  const auto pattern = Ridges(52.5, 9.0);
  TestImage direction(kSide, kSide);
  {
    TestImage probe(kSide, kSide, pattern);
    EstimatePixelDirections(kSide, kSide, probe.get(), direction.get(), 12, 23);
  }
  TestImage image(kSide, kSide, pattern);
  for (auto _ : state) {
    OrientedSmooth(kSide, kSide, image.get(), direction.get());
    benchmark::DoNotOptimize(image.get()[kSide / 2][kSide / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_OrientedSmooth)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ridgeline
