// MatchCoord throughput: synthetic genuine and impostor pairs of 40 and 80 minutiae on a 24 x 28
// block grid, the worst case of 250 minutiae per side, and, when the shared golden data is
// present, every recorded (probe, reference) pair of real prints.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "match/match_coord.h"
#include "tests/support/features.h"
#include "tests/support/match_work.h"
#include "tests/support/shared_data.h"

#ifdef RIDGELINE_BENCH_RECORDED_PRINTS
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"
#endif

namespace ridgeline {
namespace {

using testing::MakeMovedCopy;
using testing::MakeSyntheticPrint;
using testing::Motion;
using testing::OwnedMatchWork;
using testing::TestFeatureSet;

// prepared: the probe's tables are built once, as an identification builds them.
void RunPair(benchmark::State& state, const FeatureSet& a, const FeatureSet& b,
             bool prepared = false) {
  OwnedMatchWork work;
  MatchResult result{};
  int score = MatchCoord(a, b, work.get(), &result);
  for (auto _ : state) {
    score = MatchCoord(a, b, work.get(), &result, /*rebuildA=*/!prepared);
    benchmark::DoNotOptimize(score);
  }
  state.counters["score"] = score;
  state.SetItemsProcessed(state.iterations());
}

// Arguments: minutiae per side, grid side in blocks.
void BM_MatchCoordGenuine(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const int side = static_cast<int>(state.range(1));
  TestFeatureSet a(side, side + 4);
  MakeSyntheticPrint(5, count, side, side + 4, count > 100 ? 8 : 12, &a);
  TestFeatureSet b(side, side + 4);
  MakeMovedCopy(*a, Motion{17, 9, -7, 6, 2, 5}, &b);
  RunPair(state, *a, *b);
}
BENCHMARK(BM_MatchCoordGenuine)->Args({40, 24})->Args({80, 24})->Args({250, 60});

void BM_MatchCoordImpostor(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const int side = static_cast<int>(state.range(1));
  TestFeatureSet a(side, side + 4);
  MakeSyntheticPrint(5, count, side, side + 4, count > 100 ? 8 : 12, &a);
  TestFeatureSet b(side, side + 4);
  MakeSyntheticPrint(77, count, side, side + 4, count > 100 ? 8 : 12, &b);
  RunPair(state, *a, *b);
}
BENCHMARK(BM_MatchCoordImpostor)->Args({40, 24})->Args({80, 24})->Args({250, 60});

// The probe's tables built once: what each comparison of an identification costs.
void BM_MatchCoordPreparedProbe(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool genuine = state.range(1) != 0;
  TestFeatureSet a(24, 28);
  MakeSyntheticPrint(5, count, 24, 28, 12, &a);
  TestFeatureSet b(24, 28);
  if (genuine) {
    MakeMovedCopy(*a, Motion{17, 9, -7, 6, 2, 5}, &b);
  } else {
    MakeSyntheticPrint(77, count, 24, 28, 12, &b);
  }
  RunPair(state, *a, *b, /*prepared=*/true);
}
BENCHMARK(BM_MatchCoordPreparedProbe)->Args({40, 1})->Args({80, 1})->Args({40, 0})->Args({80, 0});

#ifdef RIDGELINE_BENCH_RECORDED_PRINTS
// All ordered (probe, reference) pairs of the recorded prints, one comparison per iteration.
void BM_MatchCoordRecordedPrints(benchmark::State& state) {
  const auto path = testing::GoldenDir() / "matching" / "featuresets.json";
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("no recorded prints");
    return;
  }
  const golden::Json sets = golden::ReadJson(path);
  std::vector<std::unique_ptr<golden::OwnedFeatures>> probes;
  std::vector<std::unique_ptr<golden::OwnedFeatures>> references;
  for (const golden::Json& image : sets.at("images")) {
    probes.push_back(std::make_unique<golden::OwnedFeatures>());
    golden::FeatureSetFromJson(image.at("probe"), probes.back()->set());
    references.push_back(std::make_unique<golden::OwnedFeatures>());
    golden::FeatureSetFromJson(image.at("reference"), references.back()->set());
  }
  OwnedMatchWork work;
  MatchResult result{};
  const size_t n = probes.size();
  size_t pair = 0;
  for (auto _ : state) {
    const size_t p = pair / n;
    const size_t r = pair % n;
    benchmark::DoNotOptimize(
        MatchCoord(*probes[p]->set(), *references[r]->set(), work.get(), &result));
    pair = (pair + 1) % (n * n);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MatchCoordRecordedPrints);
#endif

}  // namespace
}  // namespace ridgeline
