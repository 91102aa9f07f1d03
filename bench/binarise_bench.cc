// AdaptiveBinarize and ThinRidges on a synthetic 400 x 400 print: concentric ridges about
// 9 pixels apart, with the clarity map and the binary image made as the pipeline makes them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "core/engine_params.h"
#include "core/int_math.h"
#include "extract/binarise.h"
#include "extract/thinning.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

constexpr int kSide = 400;
constexpr double kRidgePeriod = 9.0;  // pixels, about 500 dpi

uint8_t RidgeGrey(int x, int y) {
  const double r = std::hypot(x - kSide * 0.45, y - kSide * 0.6);
  return static_cast<uint8_t>(127.5 + 100.0 * std::cos(2.0 * M_PI * r / kRidgePeriod));
}

EngineParams Defaults() {
  EngineParams params{};
  InitEngineParams(&params);
  return params;
}

void BM_AdaptiveBinarize(benchmark::State& state) {
  const EngineParams params = Defaults();
  TestImage grey(kSide, kSide, RidgeGrey);
  TestImage map(kSide, kSide);
  TestImage direction(kSide, kSide, 30);  // foreground everywhere
  PreBinarize(&params, kSide, kSide, grey.get(), map.get());
  MakeBoundaryDensityMap(kSide, kSide, map.get(), direction.get(), 16);
  BoxMean(kSide, kSide, map.get(), 16);
  TestImage image(kSide, kSide);
  for (auto _ : state) {
    CopyGrayImage(kSide, kSide, grey.get(), image.get());
    AdaptiveBinarize(&params, kSide, kSide, image.get(), map.get());
    benchmark::DoNotOptimize(image.get()[kSide / 2][kSide / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_AdaptiveBinarize)->Unit(benchmark::kMillisecond);

void BM_ThinRidges(benchmark::State& state) {
  TestImage binary(kSide, kSide, RidgeGrey);
  LocalMeanBinarize(kSide, kSide, binary.get(), 5);
  MajorityFilter(kSide, kSide, binary.get());
  TestImage image(kSide, kSide);
  for (auto _ : state) {
    CopyGrayImage(kSide, kSide, binary.get(), image.get());
    benchmark::DoNotOptimize(ThinRidges(kSide, kSide, image.get()));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_ThinRidges)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ridgeline
