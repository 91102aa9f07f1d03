// Cost of one synthetic print: the master (ridge growth dominates) and one impression of it, at
// the command's default sizes.
#include <benchmark/benchmark.h>

#include "tools/synth/synth.h"

namespace {

using ridgeline::synth::GenerateMaster;
using ridgeline::synth::ImpressionParams;
using ridgeline::synth::Master;
using ridgeline::synth::MasterParams;
using ridgeline::synth::RenderImpression;

void BM_SynthMaster(benchmark::State& state) {
  uint64_t seed = 1;
  for (auto _ : state) {
    Master master = GenerateMaster(MasterParams{}, seed++);
    benchmark::DoNotOptimize(master.ridges.data());
  }
}
BENCHMARK(BM_SynthMaster)->Unit(benchmark::kMillisecond);

void BM_SynthImpression(benchmark::State& state) {
  const Master master = GenerateMaster(MasterParams{}, 1);
  uint64_t seed = 1;
  for (auto _ : state) {
    auto image = RenderImpression(master, ImpressionParams{}, seed++);
    benchmark::DoNotOptimize(image.pixels.data());
  }
}
BENCHMARK(BM_SynthImpression)->Unit(benchmark::kMillisecond);

// A whole print from nothing, as the end-to-end tests make their first impression.
void BM_SynthPrint(benchmark::State& state) {
  uint64_t seed = 1;
  for (auto _ : state) {
    const Master master = GenerateMaster(MasterParams{}, seed);
    auto image = RenderImpression(master, ImpressionParams{}, seed++);
    benchmark::DoNotOptimize(image.pixels.data());
  }
}
BENCHMARK(BM_SynthPrint)->Unit(benchmark::kMillisecond);

}  // namespace
