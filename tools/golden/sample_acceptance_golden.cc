// Golden checks of the acceptance stages: resampling to the engine's resolution and the
// grey-level test.
#include "extract/check_image.h"
#include "extract/resample_image.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

const StageRegistrar kResampleImage("ResampleImage", [](const StageContext& ctx) {
  const Pgm source = ctx.InputPgm("source");
  if (source.width != ctx.Arg("sourceWidth") || source.height != ctx.Arg("sourceHeight")) {
    return Outcome::Fail("source size differs from the manifest's arguments");
  }
  OwnedImage image(ctx.Arg("destinationWidth"), ctx.Arg("destinationHeight"));
  if (!ResampleImage(source.pixels.data(), source.width, source.height, ctx.Arg("sourceResolution"),
                     image.get(), image.width(), image.height(),
                     ctx.Arg("destinationResolution"))) {
    return Outcome::Fail("ResampleImage refused the sizes");
  }
  return Outcome::FromDiff(ComparePgm(image.ToPgm(), ctx.OutputPgm("image")));
});

const StageRegistrar kCheckImage("CheckImage", [](const StageContext& ctx) {
  OwnedImage image(ctx.InputPgm("image"));
  const int width = ctx.Arg("width");
  const int height = ctx.Arg("height");
  const GreyLevelSummary summary = SummarizeGreyLevels(image.get(), width, height);
  const Json got = {{"Result", CheckImage(image.get(), width, height)},
                    {"Distinct", summary.distinct},
                    {"Peak", summary.peak}};
  return Outcome::FromDiff(CompareJson(got, ctx.OutputJson("result")));
});

}  // namespace
}  // namespace ridgeline::golden
