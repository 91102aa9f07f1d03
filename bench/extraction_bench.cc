// Whole extraction (FeaturesExtractionEx) on every recorded print, and each pipeline stage on
// the inputs recorded for it on that print, so that the stage times can be set against the
// whole. Every iteration first restores the images that the stage changes in place (untimed).
// Without the shared golden data nothing is registered.
#ifdef RIDGELINE_BENCH_RECORDED_PRINTS
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/engine_params.h"
#include "core/int_math.h"
#include "engine/engine.h"
#include "engine/engine_settings.h"
#include "extract/binarise.h"
#include "extract/binary_resmoothing.h"
#include "extract/block_direction.h"
#include "extract/check_image.h"
#include "extract/contrast_stretch.h"
#include "extract/extraction_pipeline.h"
#include "extract/features_extraction.h"
#include "extract/foreground.h"
#include "extract/local_mean.h"
#include "extract/minutiae_detect.h"
#include "extract/minutiae_filter.h"
#include "extract/oriented_smoothing.h"
#include "extract/pixel_direction.h"
#include "extract/resample_image.h"
#include "extract/singular_points.h"
#include "extract/skeleton_repair.h"
#include "extract/thinning.h"
#include "tests/support/shared_data.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline {
namespace {

using golden::Json;
using golden::OwnedImage;
using golden::Pgm;

constexpr int kTemplateBudget = 1024;
constexpr int kResolutionPercent = 100;
constexpr int kQualityType = 3;
// The pipeline's window radii.
constexpr int kLocalMeanRadius = 16;
constexpr int kPixelHalfWindow = 12;
constexpr int kForegroundHalfWindow = 16;
constexpr int kReSmoothRadius = 12;

EngineParams Defaults() {
  EngineParams params{};
  InitEngineParams(&params);
  return params;
}

// The recorded files of one case, read once on first use and kept for the whole run.
class RecordedCase {
 public:
  explicit RecordedCase(std::filesystem::path dir) : dir_(std::move(dir)) {}

  const Pgm& Image(const std::string& file) {
    auto it = images_.find(file);
    if (it == images_.end()) it = images_.emplace(file, golden::ReadPgm(dir_ / file)).first;
    return it->second;
  }
  Json ReadJson(const std::string& file) const { return golden::ReadJson(dir_ / file); }

 private:
  std::filesystem::path dir_;
  std::map<std::string, Pgm> images_;
};

// Writes the recorded pixels back into an image of the same size.
void Restore(const Pgm& pgm, const OwnedImage& image) {
  std::memcpy(image.get()[0], pgm.pixels.data(), pgm.pixels.size());
}

void SetPixels(benchmark::State& state, const Pgm& pgm) {
  state.SetItemsProcessed(state.iterations() * pgm.width * pgm.height);
}

// Runs body once per iteration after restoring each (recording, image) pair untimed.
template <typename Body>
void RunInPlace(benchmark::State& state,
                std::initializer_list<std::pair<const Pgm*, OwnedImage*>> restore, Body&& body) {
  for (auto _ : state) {
    state.PauseTiming();
    for (const auto& [pgm, image] : restore) Restore(*pgm, *image);
    state.ResumeTiming();
    body();
  }
}

// The whole extraction of c's resampled print, extract(params, input, image, features,
// summary) run once per iteration on fresh pixels; it returns the extraction's result.
template <typename Extract>
void RunWholeExtraction(benchmark::State& state, RecordedCase* c, Extract&& extract) {
  const Pgm& input = c->Image("01_resampled.pgm");
  OwnedImage image(input);
  FeatureSet* features = nullptr;
  FeatureSummary* summary = nullptr;
  if (!AllocFeatureRecords(&features, &summary)) {
    state.SkipWithError("no memory for the feature records");
    return;
  }
  RunInPlace(state, {{&input, &image}}, [&] {
    EngineParams params = Defaults();
    benchmark::DoNotOptimize(extract(params, input, image, features, summary));
  });
  state.counters["minutiae"] = features->Count;
  FreeFeatureRecords(features, summary);
  SetPixels(state, input);
}

// The whole extraction with state.range(0) row bands (the local stages on two threads when
// above 1). Timed in real time: the worker thread's time does not show in the main thread's.
void BM_ExtractionInBands(benchmark::State& state, RecordedCase* c) {
  const int bands = static_cast<int>(state.range(0));
  RunWholeExtraction(state, c,
                     [&](EngineParams& params, const Pgm& input, OwnedImage& image,
                         FeatureSet* features, FeatureSummary* summary) {
                       return FeaturesExtractionInBands(
                           &params, input.width, input.height, image.get(), kResolutionPercent,
                           features, summary, kTemplateBudget, kQualityType, bands);
                     });
}

void BM_FeaturesExtractionEx(benchmark::State& state, RecordedCase* c) {
  RunWholeExtraction(state, c,
                     [](EngineParams& params, const Pgm& input, OwnedImage& image,
                        FeatureSet* features, FeatureSummary* summary) {
                       return FeaturesExtractionEx(&params, input.width, input.height, image.get(),
                                                   kResolutionPercent, features, summary,
                                                   kTemplateBudget, kQualityType);
                     });
}

// The whole acceptance of the source capture as the engine runs it: resampling, the grey-level
// check, the extraction (in the engine's row bands) and the copies between them. Set against
// BM_FeaturesExtractionEx and the stages, it shows what lies outside the pipeline.
void BM_Accept(benchmark::State& state, RecordedCase* c) {
  const Pgm& source = c->Image("00_source.pgm");
  const auto engine = Engine::Create();
  if (!engine) {
    state.SkipWithError("no engine");
    return;
  }
  engine->SetExtractionBands(1);
  AcceptedSample sample;
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine->Accept(source.pixels, source.width, source.height, &sample));
  }
  SetPixels(state, source);
}

// One pipeline stage on its recorded inputs.
using StageBench = void (*)(benchmark::State&, RecordedCase*);

void ResampleImageStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& source = c->Image("00_source.pgm");
  const Pgm& resampled = c->Image("01_resampled.pgm");
  OwnedImage image(resampled);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ResampleImage(source.pixels.data(), source.width, source.height,
                                           kSensorResolution, image.get(), resampled.width,
                                           resampled.height, kEngineResolution));
  }
  SetPixels(state, resampled);
}

void CheckImageStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("01_resampled.pgm");
  const OwnedImage image(in);
  for (auto _ : state) benchmark::DoNotOptimize(CheckImage(image.get(), in.width, in.height));
  SetPixels(state, in);
}

void BoxMean3Stage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("01_resampled.pgm");
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}}, [&] { LocalMean3(in.width, in.height, image.get()); });
  SetPixels(state, in);
}

void BoxMeanStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("02_input_boxmean3.pgm");
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}},
             [&] { LocalMean(in.width, in.height, image.get(), kLocalMeanRadius); });
  SetPixels(state, in);
}

void ContrastStretchStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& source = c->Image("02_input_boxmean3.pgm");
  const Pgm& mean = c->Image("03_local_mean.pgm");
  const OwnedImage source_image(source);
  OwnedImage image(mean);
  RunInPlace(state, {{&mean, &image}}, [&] {
    ContrastStretch(mean.width, mean.height, source_image.get(), image.get(), kLocalMeanRadius);
  });
  SetPixels(state, mean);
}

void EstimateBlockDirectionsStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("05_direction_input.pgm");
  const OwnedImage image(in);
  const EngineParams params = Defaults();
  const int cols = (in.width + kBlockSize - 1) / kBlockSize;
  const int rows = (in.height + kBlockSize - 1) / kBlockSize;
  OwnedImage directions(cols, rows);
  OwnedImage corrected(cols, rows);
  OwnedImage isotropy(cols, rows);
  for (auto _ : state) {
    state.PauseTiming();
    std::memset(directions.get()[0], kNoDirection, static_cast<size_t>(cols * rows));
    std::memset(corrected.get()[0], kNoDirection, static_cast<size_t>(cols * rows));
    std::memset(isotropy.get()[0], 255, static_cast<size_t>(cols * rows));
    state.ResumeTiming();
    EstimateBlockDirections(params, in.width, in.height, image.get(), cols, rows, kBlockSize,
                            directions.get(), corrected.get(), isotropy.get());
  }
  SetPixels(state, in);
}

void SpreadBlockDirectionsStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& out = c->Image("12_spread_direction_image.pgm");
  const OwnedImage blocks(c->Image("11_calmed_direction_map.pgm"));
  OwnedImage direction(out.width, out.height);
  for (auto _ : state) SpreadBlockDirections(out.width, out.height, blocks.get(), direction.get());
  SetPixels(state, out);
}

// The candidates' grouping and refinement, with the point directions.
void RefineSingularPointsStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("14_pixel_direction_image.pgm");
  const OwnedImage direction(in);
  SingularPointList recorded{};
  golden::SingularPointsFromJson(c->ReadJson("10_singular_candidates.json"), &recorded);
  SingularPointList candidates{};
  SingularPointList points{};
  for (auto _ : state) {
    candidates = recorded;  // the refinement consumes its candidates
    RefineSingularPoints(in.width, in.height, kBlockSize, direction.get(), &candidates, &points);
    benchmark::DoNotOptimize(points);
  }
  state.counters["points"] = points.Count;
}

void OrientedSmoothBlockStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("04_stretched.pgm");
  const OwnedImage direction(c->Image("12_spread_direction_image.pgm"));
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}},
             [&] { OrientedSmooth(in.width, in.height, image.get(), direction.get()); });
  SetPixels(state, in);
}

void EstimatePixelDirectionsStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("13_smoothed_stretched.pgm");
  const EngineParams params = Defaults();
  OwnedImage image(in);
  OwnedImage direction(in.width, in.height);
  RunInPlace(state, {{&in, &image}}, [&] {
    EstimatePixelDirections(in.width, in.height, image.get(), direction.get(), kPixelHalfWindow,
                            params.PixelContrastThreshold);
  });
  SetPixels(state, in);
}

void MarkForegroundStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("14_pixel_direction_image.pgm");
  const OwnedImage isotropy(c->Image("14_isotropy_image.pgm"));
  const EngineParams params = Defaults();
  SingularPointList points{};
  golden::SingularPointsFromJson(c->ReadJson("17_singular_points.json"), &points);
  OwnedImage direction(in);
  RunInPlace(state, {{&in, &direction}}, [&] {
    benchmark::DoNotOptimize(MarkForeground(params, in.width, in.height, direction.get(),
                                            isotropy.get(), points, kForegroundHalfWindow));
  });
  SetPixels(state, in);
}

void OrientedSmoothPixelStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("02_input_boxmean3.pgm");
  const OwnedImage direction(c->Image("18_direction_image.pgm"));
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}},
             [&] { OrientedSmooth(in.width, in.height, image.get(), direction.get()); });
  SetPixels(state, in);
}

void PreBinarizeStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("19_smoothed_input.pgm");
  const OwnedImage image(in);
  const EngineParams params = Defaults();
  OwnedImage out(in.width, in.height);
  for (auto _ : state) PreBinarize(&params, in.width, in.height, image.get(), out.get());
  SetPixels(state, in);
}

void MakeBoundaryDensityMapStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("20a_prebinarized.pgm");
  const OwnedImage direction(c->Image("18_direction_image.pgm"));
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}}, [&] {
    MakeBoundaryDensityMap(in.width, in.height, image.get(), direction.get(), kLocalMeanRadius);
  });
  SetPixels(state, in);
}

void AdaptiveBinarizeStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("19_smoothed_input.pgm");
  const OwnedImage map(c->Image("20c_clarity_map.pgm"));
  const EngineParams params = Defaults();
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}},
             [&] { AdaptiveBinarize(&params, in.width, in.height, image.get(), map.get()); });
  SetPixels(state, in);
}

void ReSmoothBinaryStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("20d_first_binary.pgm");
  const EngineParams params = Defaults();
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}},
             [&] { ReSmoothBinary(&params, in.width, in.height, image.get(), kReSmoothRadius); });
  SetPixels(state, in);
}

void RefreshDirectionsStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("20e_resmoothed.pgm");
  const Pgm& direction_in = c->Image("18_direction_image.pgm");
  const Pgm& level_in = c->Image("20c_clarity_map.pgm");
  const OwnedImage image(in);
  const EngineParams params = Defaults();
  SingularPointList points{};
  golden::SingularPointsFromJson(c->ReadJson("17_singular_points.json"), &points);
  OwnedImage direction(direction_in);
  OwnedImage level(level_in);
  RunInPlace(state, {{&direction_in, &direction}, {&level_in, &level}}, [&] {
    RefreshDirections(&params, in.width, in.height, image.get(), direction.get(), level.get(),
                      &points, kReSmoothRadius);
  });
  SetPixels(state, in);
}

void LevelSmoothStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("20e_resmoothed.pgm");
  const Pgm& level_in = c->Image("20f_level_map.pgm");
  const OwnedImage direction(c->Image("20f_direction_image.pgm"));
  OwnedImage image(in);
  OwnedImage level(level_in);
  RunInPlace(state, {{&in, &image}, {&level_in, &level}},
             [&] { LevelSmooth(in.width, in.height, image.get(), direction.get(), level.get()); });
  SetPixels(state, in);
}

void SecondBinarizeStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("20g_level_smoothed.pgm");
  const OwnedImage map(c->Image("20g_level_map_after.pgm"));
  const EngineParams params = Defaults();
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}},
             [&] { AdaptiveBinarize(&params, in.width, in.height, image.get(), map.get()); });
  SetPixels(state, in);
}

void MajorityFilterStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("20h_second_binary.pgm");
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}}, [&] { MajorityFilter(in.width, in.height, image.get()); });
  SetPixels(state, in);
}

void ThinRidgesStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("20i_majority.pgm");
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}},
             [&] { benchmark::DoNotOptimize(ThinRidges(in.width, in.height, image.get())); });
  SetPixels(state, in);
}

void BridgeRidgeGapsStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("22c_thinned_whitened.pgm");
  const OwnedImage direction(c->Image("20f_direction_image.pgm"));
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}}, [&] {
    benchmark::DoNotOptimize(
        BridgeRidgeGaps(in.width, in.height, image.get(), direction.get(), kBridgeSearchRadius));
  });
  SetPixels(state, in);
}

void CleanBifurcationsStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("22d_bridged.pgm");
  const OwnedImage direction(c->Image("20f_direction_image.pgm"));
  OwnedImage image(in);
  RunInPlace(state, {{&in, &image}}, [&] {
    CleanBifurcations(in.width, in.height, image.get(), direction.get(), kShortBranchLength,
                      kJunctionBridgeLength);
  });
  SetPixels(state, in);
}

void DetectMinutiaeStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("22e_skeleton.pgm");
  const OwnedImage direction(c->Image("20f_direction_image.pgm"));
  OwnedImage image(in);
  auto result = std::make_unique<ExtractionResult>();
  RunInPlace(state, {{&in, &image}}, [&] {
    result->CandidateCount = 0;
    DetectMinutiae(in.width, in.height, image.get(), direction.get(), result.get(),
                   kMinutiaTraceLength, kMinEndingTrace, kMinBranchTrace, kVariationRadius);
  });
  state.counters["candidates"] = result->CandidateCount;
  SetPixels(state, in);
}

void FilterMinutiaeStage(benchmark::State& state, RecordedCase* c) {
  const Pgm& in = c->Image("01_resampled.pgm");
  const OwnedImage input_copy(in);
  const OwnedImage direction(c->Image("20f_direction_image.pgm"));
  const EngineParams params = Defaults();
  const int mean = c->ReadJson("18_mean_isotropy.json").at("MeanIsotropy").get<int>();
  auto detected = std::make_unique<ExtractionResult>();
  golden::CandidatesFromJson(c->ReadJson("22f_detected.json"), detected.get());
  auto result = std::make_unique<ExtractionResult>();
  for (auto _ : state) {
    state.PauseTiming();
    *result = *detected;
    state.ResumeTiming();
    FilterMinutiae(params, in.width, in.height, input_copy.get(), direction.get(), result.get(),
                   static_cast<uint8_t>(mean));
  }
  SetPixels(state, in);
}

// The stages in pipeline order; the names say which recorded step they run.
struct Stage {
  const char* name;
  StageBench run;
};
constexpr Stage kStages[] = {
    {"00_ResampleImage", ResampleImageStage},
    {"01_CheckImage", CheckImageStage},
    {"02_BoxMean3", BoxMean3Stage},
    {"03_BoxMean", BoxMeanStage},
    {"04_ContrastStretch", ContrastStretchStage},
    {"07_EstimateBlockDirections", EstimateBlockDirectionsStage},
    {"12_SpreadBlockDirections", SpreadBlockDirectionsStage},
    {"13_OrientedSmooth", OrientedSmoothBlockStage},
    {"14_EstimatePixelDirections", EstimatePixelDirectionsStage},
    {"17_RefineSingularPoints", RefineSingularPointsStage},
    {"18_MarkForeground", MarkForegroundStage},
    {"19_OrientedSmooth", OrientedSmoothPixelStage},
    {"20a_PreBinarize", PreBinarizeStage},
    {"20b_MakeBoundaryDensityMap", MakeBoundaryDensityMapStage},
    {"20d_AdaptiveBinarize", AdaptiveBinarizeStage},
    {"20e_ReSmoothBinary", ReSmoothBinaryStage},
    {"20f_RefreshDirections", RefreshDirectionsStage},
    {"20g_LevelSmooth", LevelSmoothStage},
    {"20h_AdaptiveBinarize", SecondBinarizeStage},
    {"20i_MajorityFilter", MajorityFilterStage},
    {"22b_ThinRidges", ThinRidgesStage},
    {"22d_BridgeRidgeGaps", BridgeRidgeGapsStage},
    {"22e_CleanBifurcations", CleanBifurcationsStage},
    {"22f_DetectMinutiae", DetectMinutiaeStage},
    {"22g_FilterMinutiae", FilterMinutiaeStage},
};

// Registers the benchmarks of every recorded case before the benchmark main runs.
const bool kRegistered = [] {
  const std::filesystem::path cases = testing::GoldenDir() / "cases";
  if (!std::filesystem::is_directory(cases)) return false;
  std::vector<std::filesystem::path> dirs;
  for (const auto& entry : std::filesystem::directory_iterator(cases)) {
    if (std::filesystem::exists(entry.path() / "01_resampled.pgm")) dirs.push_back(entry.path());
  }
  std::sort(dirs.begin(), dirs.end());
  for (const auto& dir : dirs) {
    auto* recorded = new RecordedCase(dir);  // lives for the whole run
    const std::string name = dir.filename().string();
    benchmark::RegisterBenchmark(("BM_Accept/" + name).c_str(), BM_Accept, recorded)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_FeaturesExtractionEx/" + name).c_str(),
                                 BM_FeaturesExtractionEx, recorded)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_ExtractionInBands/" + name).c_str(), BM_ExtractionInBands,
                                 recorded)
        ->Arg(1)
        ->Arg(2)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    for (const Stage& stage : kStages) {
      benchmark::RegisterBenchmark(("BM_Stage/" + name + "/" + stage.name).c_str(), stage.run,
                                   recorded)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  return true;
}();

}  // namespace
}  // namespace ridgeline
#endif  // RIDGELINE_BENCH_RECORDED_PRINTS
