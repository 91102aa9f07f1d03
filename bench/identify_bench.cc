// identify --top throughput: one probe against a 1,000-template gallery held decoded in memory,
// scored on 1, 2 and all cores by the tool's own scan. The gallery is 50 synthetic fingers
// (seed 7, impression 1 each) repeated to 1,000 entries; the probe is another impression of one.
#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include "tools/cli/comparison.h"
#include "tools/synth/synth.h"

namespace ridgeline::tools {
namespace {

constexpr int kGallerySize = 1000;
constexpr int kFingers = 50;

Capture Synthetic(int finger, int impression) {
  const synth::Master master = synth::GenerateMaster({}, synth::MasterSeed(7, finger));
  const synth::Image image =
      synth::RenderImpression(master, {}, synth::ImpressionSeed(7, finger, impression));
  Capture capture;
  capture.image.width = image.width;
  capture.image.height = image.height;
  capture.image.pixels = image.pixels;
  return capture;
}

struct Gallery {
  std::vector<DecodedTemplate> templates;
  eval::PrintFeatures probe;
  Gallery() {
    std::vector<eval::PrintFeatures> fingers;
    for (int f = 1; f <= kFingers; ++f) fingers.push_back(AcceptedFeatures(Synthetic(f, 1)));
    for (int i = 0; templates.size() < kGallerySize; ++i) {
      const eval::PrintFeatures& source = fingers[static_cast<size_t>(i % kFingers)];
      if (!source.reference) continue;
      eval::FeatureRecords copy(true);
      CopyFeatureSet(copy.set(), source.reference->set());
      templates.emplace_back().push_back(std::move(copy));
    }
    probe = AcceptedFeatures(Synthetic(7, 2));
  }
};

void BM_IdentifyTop(benchmark::State& state) {
  static const Gallery gallery;
  const int threads = state.range(0) == 0 ? static_cast<int>(std::thread::hardware_concurrency())
                                          : static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<int> scores = ScoreAll(*gallery.probe.probe->set(), gallery.templates, threads);
    benchmark::DoNotOptimize(scores.data());
  }
  state.counters["identifications_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(state.iterations() * kGallerySize);
}
BENCHMARK(BM_IdentifyTop)->Arg(1)->Arg(2)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ridgeline::tools
