// Golden checks of the pixel direction field and the foreground mask.
#include <string>

#include "extract/foreground.h"
#include "extract/pixel_direction.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

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
  const EngineParams params = EngineParamsFromJson(ctx.args());
  OwnedImage direction(ctx.InputPgm("DirectionImage"));
  OwnedImage isotropy(ctx.InputPgm("IsotropyImage"));
  SingularPointList points{};
  SingularPointsFromJson(ctx.InputJson("SingularPoints"), &points);
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
