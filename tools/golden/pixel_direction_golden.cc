// Golden checks of the pixel direction field and the foreground mask.
#include <string>

#include "extract/foreground.h"
#include "extract/pixel_direction.h"
#include "tools/golden/enhancement_params.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

SingularPointList PointsFromJson(const Json& json) {
  SingularPointList points{};
  points.Count = json.at("Count").get<int32_t>();
  for (int i = 0; i < points.Count && i < kSingularCapacity; ++i) {
    points.X[i] = json.at("X").at(i).get<int16_t>();
    points.Y[i] = json.at("Y").at(i).get<int16_t>();
    points.Direction[i] = json.at("Direction").at(i).get<int16_t>();
    points.Type[i] = json.at("Type").at(i).get<uint8_t>();
  }
  return points;
}

const StageRegistrar kEstimatePixelDirections(
    "EstimatePixelDirections", [](const StageContext& ctx) {
      OwnedImage image(ctx.InputPgm("image"));
      OwnedImage direction(image.width(), image.height());
      if (!EstimatePixelDirections(image.width(), image.height(), image.get(), direction.get(),
                                   ctx.Arg("halfWindow"), ctx.Arg("PixelContrastThreshold"))) {
        return Outcome::Fail("allocation failed");
      }
      std::string diff = ComparePgm(direction.ToPgm(), ctx.OutputPgm("DirectionImage"));
      if (!diff.empty()) return Outcome::Fail("DirectionImage: " + diff);
      diff = ComparePgm(image.ToPgm(), ctx.OutputPgm("IsotropyImage"));
      if (!diff.empty()) return Outcome::Fail("IsotropyImage: " + diff);
      return Outcome::Pass();
    });

const StageRegistrar kMarkForeground("MarkForeground", [](const StageContext& ctx) {
  const EngineParams params = ParamsFromArgs(ctx);
  OwnedImage direction(ctx.InputPgm("DirectionImage"));
  OwnedImage isotropy(ctx.InputPgm("IsotropyImage"));
  const SingularPointList points = PointsFromJson(ctx.InputJson("SingularPoints"));
  const std::optional<uint8_t> mean =
      MarkForeground(params, direction.width(), direction.height(), direction.get(), isotropy.get(),
                     points, ctx.Arg("halfWindow"));
  if (!mean) return Outcome::Fail("allocation failed");
  const std::string diff = ComparePgm(direction.ToPgm(), ctx.OutputPgm("DirectionImage"));
  if (!diff.empty()) return Outcome::Fail("DirectionImage: " + diff);
  return Outcome::FromDiff(CompareJson(Json{{"MeanIsotropy", *mean}}, ctx.OutputJson("mean")));
});

}  // namespace
}  // namespace ridgeline::golden
