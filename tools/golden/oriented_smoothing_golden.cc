// Golden check of the oriented line smoothing (both runs of the pipeline).
#include "extract/oriented_smoothing.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

const StageRegistrar kOrientedSmooth("OrientedSmooth", [](const StageContext& ctx) {
  OwnedImage image(ctx.InputPgm("image"));
  OwnedImage direction(ctx.InputPgm("directionImage"));
  if (!OrientedSmooth(image.width(), image.height(), image.get(), direction.get())) {
    return Outcome::Fail("allocation failed");
  }
  return Outcome::FromDiff(ComparePgm(image.ToPgm(), ctx.OutputPgm("image")));
});

}  // namespace
}  // namespace ridgeline::golden
