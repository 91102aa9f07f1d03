// Golden checks of skeleton repair: gap bridging, then the clean-up of junction links.
#include "extract/skeleton_repair.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

const StageRegistrar kBridge("BridgeRidgeGaps", [](const StageContext& ctx) {
  OwnedImage skeleton(ctx.InputPgm("sk"));
  OwnedImage directions(ctx.InputPgm("directionImage"));
  BridgeRidgeGaps(ctx.Arg("width"), ctx.Arg("height"), skeleton.get(), directions.get(),
                  ctx.Arg("radius"));
  return Outcome::FromDiff(ComparePgm(skeleton.ToPgm(), ctx.OutputPgm("image")));
});

const StageRegistrar kClean("CleanBifurcations", [](const StageContext& ctx) {
  OwnedImage skeleton(ctx.InputPgm("sk"));
  OwnedImage directions(ctx.InputPgm("directionImage"));
  CleanBifurcations(ctx.Arg("width"), ctx.Arg("height"), skeleton.get(), directions.get(),
                    ctx.Arg("shortBranch"), ctx.Arg("bridgeLength"));
  return Outcome::FromDiff(ComparePgm(skeleton.ToPgm(), ctx.OutputPgm("image")));
});

}  // namespace
}  // namespace ridgeline::golden
