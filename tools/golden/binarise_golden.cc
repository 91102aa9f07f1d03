// Golden checks of binarisation and its clean-up: the preliminary binary image, the boundary
// density map and score, the adaptive binarisation, the majority filter and the background
// whitening.
#include "extract/binarise.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

Outcome Compare(const OwnedImage& got, const StageContext& ctx, const std::string& role) {
  return Outcome::FromDiff(ComparePgm(got.ToPgm(), ctx.OutputPgm(role)));
}

const StageRegistrar kPreBinarize("PreBinarize", [](const StageContext& ctx) {
  const EngineParams params = EngineParamsFromJson(ctx.manifest().at("EngineParams"));
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
  const EngineParams params = EngineParamsFromJson(ctx.manifest().at("EngineParams"));
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
