// Golden checks of the singular candidate search and the singular point refinement.
#include "extract/singular_points.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

const StageRegistrar kFindSingularCandidates("FindSingularCandidates", [](const StageContext& ctx) {
  OwnedImage map(ctx.InputPgm("BlockDirectionMap"));
  const Json grid = ctx.InputJson("grid");
  SingularPointList candidates;
  FindSingularCandidates(grid.at("wholeCols").get<int>(), grid.at("wholeRows").get<int>(),
                         map.get(), &candidates);
  return Outcome::FromDiff(CompareJson(SingularPointsToJson(candidates), ctx.OutputJson("cand")));
});

const StageRegistrar kRefineSingularPoints("RefineSingularPoints", [](const StageContext& ctx) {
  OwnedImage directions(ctx.InputPgm("DirectionImage"));
  SingularPointList candidates;
  SingularPointsFromJson(ctx.InputJson("SingularCandidates"), &candidates);
  SingularPointList points;
  RefineSingularPoints(ctx.Arg("width"), ctx.Arg("height"), ctx.Arg("BlockSize"), directions.get(),
                       &candidates, &points);
  return Outcome::FromDiff(CompareJson(SingularPointsToJson(points), ctx.OutputJson("sp")));
});

}  // namespace
}  // namespace ridgeline::golden
