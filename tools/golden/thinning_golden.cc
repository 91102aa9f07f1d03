// Golden check of thinning, iteration count included.
#include "extract/thinning.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

const StageRegistrar kThin("ThinRidges", [](const StageContext& ctx) {
  OwnedImage image(ctx.InputPgm("image"));
  const int iterations = ThinRidges(image.width(), image.height(), image.get());
  if (std::string diff = ComparePgm(image.ToPgm(), ctx.OutputPgm("image")); !diff.empty()) {
    return Outcome::Fail(diff);
  }
  const int want = ctx.stage().at("results").at("iterations (diagnostic)").get<int>();
  if (iterations != want) {
    return Outcome::Fail("iterations: got " + std::to_string(iterations) + ", want " +
                         std::to_string(want));
  }
  return Outcome::Pass();
});

}  // namespace
}  // namespace ridgeline::golden
