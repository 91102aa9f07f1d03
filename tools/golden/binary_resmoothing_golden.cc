// Golden checks of the binary re-smoothing, the direction refresh and the level smoothing.
#include "extract/binary_resmoothing.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

// The first difference among the named outputs, or Pass.
Outcome CompareAll(const StageContext& ctx,
                   std::initializer_list<std::pair<const OwnedImage*, const char*>> outputs) {
  for (const auto& [image, role] : outputs) {
    if (std::string diff = ComparePgm(image->ToPgm(), ctx.OutputPgm(role)); !diff.empty()) {
      return Outcome::Fail(std::string(role) + ": " + diff);
    }
  }
  return Outcome::Pass();
}

const StageRegistrar kReSmooth("ReSmoothBinary", [](const StageContext& ctx) {
  const EngineParams params = EngineParamsFromJson(ctx.manifest().at("EngineParams"));
  OwnedImage image(ctx.InputPgm("image"));
  ReSmoothBinary(&params, image.width(), image.height(), image.get(), ctx.Arg("radius"));
  return CompareAll(ctx, {{&image, "image"}});
});

const StageRegistrar kRefresh("RefreshDirections", [](const StageContext& ctx) {
  const EngineParams params = EngineParamsFromJson(ctx.manifest().at("EngineParams"));
  OwnedImage image(ctx.InputPgm("image"));
  OwnedImage direction(ctx.InputPgm("directionImage"));
  OwnedImage level(ctx.InputPgm("levelMap"));
  SingularPointList points{};
  SingularPointsFromJson(ctx.InputJson("singularPoints"), &points);
  RefreshDirections(&params, image.width(), image.height(), image.get(), direction.get(),
                    level.get(), &points, ctx.Arg("radius"));
  return CompareAll(ctx, {{&direction, "DirectionImage"}, {&level, "levelMap"}});
});

const StageRegistrar kLevelSmooth("LevelSmooth", [](const StageContext& ctx) {
  OwnedImage image(ctx.InputPgm("image"));
  OwnedImage direction(ctx.InputPgm("directionImage"));
  OwnedImage level(ctx.InputPgm("levelMap"));
  LevelSmooth(image.width(), image.height(), image.get(), direction.get(), level.get());
  return CompareAll(ctx, {{&image, "image"}, {&level, "levelMap"}});
});

}  // namespace
}  // namespace ridgeline::golden
