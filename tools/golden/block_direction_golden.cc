// Golden checks of the block direction field and the block mask erosion.
#include <string>

#include "extract/block_direction.h"
#include "extract/block_mask.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

// The first difference among the named outputs, prefixed by the role.
std::string CompareOutputs(const StageContext& ctx,
                           std::initializer_list<std::pair<const char*, const OwnedImage*>> got) {
  for (const auto& [role, image] : got) {
    const std::string diff = ComparePgm(image->ToPgm(), ctx.OutputPgm(role));
    if (!diff.empty()) return std::string(role) + ": " + diff;
  }
  return "";
}

const StageRegistrar kEstimateBlockDirections(
    "EstimateBlockDirections", [](const StageContext& ctx) {
      const EngineParams params = EngineParamsFromJson(ctx.args());
      OwnedImage image(ctx.InputPgm("image"));
      const Json grid = ctx.InputJson("grid");
      const int cols = grid.at("blockCols").get<int>();
      const int rows = grid.at("blockRows").get<int>();
      OwnedImage direction(cols, rows);
      OwnedImage corrected(cols, rows);
      OwnedImage isotropy(cols, rows);
      OwnedImage coarse((cols + 1) / 2, (rows + 1) / 2);
      if (!EstimateBlockDirections(params, image.width(), image.height(), image.get(), cols, rows,
                                   ctx.Arg("BlockSize"), direction.get(), corrected.get(),
                                   isotropy.get(), coarse.get())) {
        return Outcome::Fail("allocation failed");
      }
      return Outcome::FromDiff(CompareOutputs(ctx, {{"BlockDirectionMap", &direction},
                                                    {"CorrectedDirectionMap", &corrected},
                                                    {"BlockIsotropyMap", &isotropy},
                                                    {"coarse", &coarse}}));
    });

const StageRegistrar kErodeBlockMask("ErodeBlockMask", [](const StageContext& ctx) {
  const EngineParams params = EngineParamsFromJson(ctx.args());
  OwnedImage direction(ctx.InputPgm("BlockDirectionMap"));
  OwnedImage isotropy(ctx.InputPgm("BlockIsotropyMap"));
  ErodeBlockMask(params, direction.width(), direction.height(), direction.get(), isotropy.get());
  return Outcome::FromDiff(ComparePgm(direction.ToPgm(), ctx.OutputPgm("map")));
});

}  // namespace
}  // namespace ridgeline::golden
