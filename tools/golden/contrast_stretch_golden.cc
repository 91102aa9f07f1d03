// Golden check of the local contrast stretch.
#include "extract/contrast_stretch.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

const StageRegistrar kContrastStretch("ContrastStretch", [](const StageContext& ctx) {
  OwnedImage source(ctx.InputPgm("source"));
  OwnedImage mean(ctx.InputPgm("meanImage"));
  if (!ContrastStretch(source.width(), source.height(), source.get(), mean.get(),
                       ctx.Arg("radius"))) {
    return Outcome::Fail("allocation failed");
  }
  return Outcome::FromDiff(ComparePgm(mean.ToPgm(), ctx.OutputPgm("image")));
});

}  // namespace
}  // namespace ridgeline::golden
