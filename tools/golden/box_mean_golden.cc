// Golden checks of the square-window means.
#include "core/int_math.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

Outcome CheckMean(const StageContext& ctx, int passes, int radius) {
  OwnedImage image(ctx.InputPgm("image"));
  for (int i = 0; i < passes; ++i) {
    if (radius == 1) {
      BoxMean3(image.width(), image.height(), image.get());
    } else {
      BoxMean(image.width(), image.height(), image.get(), radius);
    }
  }
  return Outcome::FromDiff(ComparePgm(image.ToPgm(), ctx.OutputPgm("image")));
}

const StageRegistrar kBoxMean3("BoxMean3",
                               [](const StageContext& ctx) { return CheckMean(ctx, 1, 1); });
const StageRegistrar kBoxMean3Twice("BoxMean3 (twice)",
                                    [](const StageContext& ctx) { return CheckMean(ctx, 2, 1); });
const StageRegistrar kBoxMean("BoxMean", [](const StageContext& ctx) {
  return CheckMean(ctx, 1, ctx.Arg("radius"));
});

}  // namespace
}  // namespace ridgeline::golden
