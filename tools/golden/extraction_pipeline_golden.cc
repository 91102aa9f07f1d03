// Golden checks of the pipeline's own steps, the whole pipeline and the extraction driver.
#include <cstring>
#include <memory>

#include "core/engine_params.h"
#include "extract/extraction_pipeline.h"
#include "extract/features_extraction.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

struct Grid {
  int blockCols, blockRows, wholeCols, wholeRows;
};

Grid ReadGrid(const StageContext& ctx) {
  const Json g = ctx.InputJson("grid");
  return {g.at("blockCols").get<int>(), g.at("blockRows").get<int>(), g.at("wholeCols").get<int>(),
          g.at("wholeRows").get<int>()};
}

const StageRegistrar kBlockGrid("(block grid)", [](const StageContext& ctx) {
  const int w = ctx.Arg("width");
  const int h = ctx.Arg("height");
  const int b = ctx.Arg("BlockSize");
  const Json got{{"blockCols", (w + b - 1) / b},
                 {"blockRows", (h + b - 1) / b},
                 {"wholeCols", w / b},
                 {"wholeRows", h / b}};
  return Outcome::FromDiff(CompareJson(got, ctx.OutputJson("grid")));
});

const StageRegistrar kCalming("(calming the field around candidates)", [](const StageContext& ctx) {
  const Grid grid = ReadGrid(ctx);
  OwnedImage corrected(ctx.InputPgm("CorrectedDirectionMap"));
  OwnedImage unmasked(ctx.InputPgm("UnmaskedDirectionMap"));
  SingularPointList candidates{};
  SingularPointsFromJson(ctx.InputJson("SingularCandidates"), &candidates);
  CalmAroundCandidates(grid.blockCols, grid.blockRows, candidates, corrected.get(), unmasked.get());
  return Outcome::FromDiff(ComparePgm(corrected.ToPgm(), ctx.OutputPgm("map")));
});

const StageRegistrar kSpreading("(spreading)", [](const StageContext& ctx) {
  OwnedImage blocks(ctx.InputPgm("CorrectedDirectionMap"));
  OwnedImage out(ctx.Arg("width"), ctx.Arg("height"));
  SpreadBlockDirections(out.width(), out.height(), blocks.get(), out.get());
  return Outcome::FromDiff(ComparePgm(out.ToPgm(), ctx.OutputPgm("image")));
});

const StageRegistrar kResultMap("(result map)", [](const StageContext& ctx) {
  const Grid grid = ReadGrid(ctx);
  OwnedImage blocks(ctx.InputPgm("BlockDirectionMap"));
  ExtractionResult result{};
  FillResultMap(grid.wholeCols, grid.wholeRows, blocks.get(), &result);
  Pgm map{kMapSize, kMapSize, {}};
  map.pixels.assign(&result.DirectionMap[0][0], &result.DirectionMap[0][0] + kMapSize * kMapSize);
  std::string diff = ComparePgm(map, ctx.OutputPgm("DirectionMap"));
  if (diff.empty()) {
    diff = CompareJson(Json{{"BlockCols", result.BlockCols}, {"BlockRows", result.BlockRows}},
                       ctx.OutputJson("grid"));
  }
  return Outcome::FromDiff(diff);
});

// The whole pipeline on the resampled image must give the recorded ExtractionResult.
const StageRegistrar kPipeline("RunExtractionPipeline", [](const StageContext& ctx) {
  OwnedImage image(ReadPgm(ctx.dir() / "01_resampled.pgm"));
  EngineParams params = DefaultEngineParams();
  ExtractionResult result{};
  const int mean =
      RunExtractionPipeline(&params, image.width(), image.height(), image.get(), &result);
  const Json got{{"ExtractionResult", ExtractionResultToJson(result)}, {"MeanIsotropy", mean}};
  return Outcome::FromDiff(CompareJson(got, ctx.OutputJson("er")));
});

Json DriverJson(int result, const QualityScore& q, int mean, const EngineParams& p) {
  return Json{{"Result", result},
              {"F", q.F},
              {"N", q.N},
              {"M", q.M},
              {"raw", q.raw},
              {"Quality", q.Quality},
              {"MeanIsotropy", mean},
              {"params_after",
               {{"TemplateSetting", p.TemplateSetting},
                {"TemplateFlag", p.TemplateFlag},
                {"CropX", p.CropX},
                {"CropY", p.CropY}}}};
}

std::string CompareDriver(const StageContext& ctx, int result, const EngineParams& params,
                          const OwnedFeatures& features, int mean) {
  std::string diff = CompareJson(FeatureSetToJson(*features.set()), ctx.OutputJson("fs"));
  if (diff.empty()) {
    diff = CompareJson(FeatureSummaryToJson(*features.summary()), ctx.OutputJson("summary"));
  }
  if (diff.empty()) {
    const QualityScore q =
        ScoreQuality(*features.set(), *features.summary(), static_cast<uint8_t>(mean));
    diff = CompareJson(DriverJson(result, q, mean, params), ctx.OutputJson("driver"));
  }
  return diff;
}

// The driver twice: on the recorded ExtractionResult alone, then on the image end to end.
const StageRegistrar kDriver("FeaturesExtractionEx", [](const StageContext& ctx) {
  const Json er = ReadJson(ctx.dir() / "23_extraction_result.json");
  auto recorded = std::make_unique<ExtractionResult>();
  ExtractionResultFromJson(er.at("ExtractionResult"), recorded.get());
  const int mean = er.at("MeanIsotropy").get<int>();
  {
    EngineParams params = DefaultEngineParams();
    OwnedFeatures features;
    const int result = FinishFeatureExtraction(
        &params, ctx.Arg("width"), ctx.Arg("height"), *recorded, static_cast<uint8_t>(mean),
        features.set(), features.summary(), ctx.Arg("templateBudget"));
    const std::string diff = CompareDriver(ctx, result, params, features, mean);
    if (!diff.empty()) return Outcome::Fail("driver steps: " + diff);
  }
  EngineParams params = DefaultEngineParams();
  OwnedFeatures features;
  OwnedImage image(ctx.InputPgm("image"));
  const int result = FeaturesExtractionEx(
      &params, image.width(), image.height(), image.get(), ctx.Arg("resolutionPercent"),
      features.set(), features.summary(), ctx.Arg("templateBudget"), ctx.Arg("type"));
  const std::string diff = CompareDriver(ctx, result, params, features, mean);
  return Outcome::FromDiff(diff.empty() ? diff : "end to end: " + diff);
});

}  // namespace
}  // namespace ridgeline::golden
