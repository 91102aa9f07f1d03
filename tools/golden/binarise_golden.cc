// Golden checks of binarisation and its clean-up: the preliminary binary image, the boundary
// density map and score, the adaptive binarisation, the majority filter and the background
// whitening.
#include "extract/binarise.h"
#include "extract/engine_params.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

// The case's parameter block: the defaults, overridden by the manifest's recorded values.
EngineParams CaseParams(const StageContext& ctx) {
  EngineParams params{};
  InitEngineParams(&params);
  const Json& recorded = ctx.manifest().at("EngineParams");
  params.BinWindowSmall = recorded.at("BinWindowSmall").get<int32_t>();
  params.BinWindowMedium = recorded.at("BinWindowMedium").get<int32_t>();
  params.BinWindowLarge = recorded.at("BinWindowLarge").get<int32_t>();
  params.ClarityHigh = recorded.at("ClarityHigh").get<uint8_t>();
  params.ClarityLow = recorded.at("ClarityLow").get<uint8_t>();
  return params;
}

Outcome Compare(const OwnedImage& got, const StageContext& ctx, const std::string& role) {
  return Outcome::FromDiff(ComparePgm(got.ToPgm(), ctx.OutputPgm(role)));
}

const StageRegistrar kPreBinarize("PreBinarize", [](const StageContext& ctx) {
  const EngineParams params = CaseParams(ctx);
  OwnedImage image(ctx.InputPgm("image"));
  OwnedImage out(image.width(), image.height());
  PreBinarize(&params, image.width(), image.height(), image.get(), out.get());
  return Compare(out, ctx, "image");
});

const StageRegistrar kDensityMap("MakeBoundaryDensityMap", [](const StageContext& ctx) {
  OwnedImage binary(ctx.InputPgm("binary"));
  OwnedImage direction(ctx.InputPgm("directionImage"));
  MakeBoundaryDensityMap(binary.width(), binary.height(), binary.get(), direction.get(),
                         ctx.Arg("radius"));
  return Compare(binary, ctx, "image");
});

const StageRegistrar kAdaptive("AdaptiveBinarize", [](const StageContext& ctx) {
  const EngineParams params = CaseParams(ctx);
  OwnedImage image(ctx.InputPgm("image"));
  OwnedImage map(ctx.InputPgm("map"));
  AdaptiveBinarize(&params, image.width(), image.height(), image.get(), map.get());
  return Compare(image, ctx, "image");
});

const StageRegistrar kMajority("MajorityFilter", [](const StageContext& ctx) {
  OwnedImage image(ctx.InputPgm("image"));
  MajorityFilter(image.width(), image.height(), image.get());
  return Compare(image, ctx, "image");
});

const StageRegistrar kWhiten("WhitenBackground", [](const StageContext& ctx) {
  OwnedImage image(ctx.InputPgm("image"));
  OwnedImage direction(ctx.InputPgm("directionImage"));
  WhitenBackground(image.width(), image.height(), image.get(), direction.get());
  return Compare(image, ctx, "image");
});

const StageRegistrar kMeasure("MeasureBoundaryDensity", [](const StageContext& ctx) {
  OwnedImage binary(ctx.InputPgm("binary"));
  OwnedImage direction(ctx.InputPgm("directionImage"));
  const int got =
      MeasureBoundaryDensity(binary.width(), binary.height(), binary.get(), direction.get());
  return Outcome::FromDiff(CompareJson(Json{{"BoundaryDensity", got}}, ctx.OutputJson("value")));
});

}  // namespace
}  // namespace ridgeline::golden
