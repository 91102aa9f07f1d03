// Golden checks of the singular candidate search and the singular point refinement.
#include <cstring>

#include "extract/singular_points.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {
namespace {

Json ListToJson(const SingularPointList& list) {
  Json out = {{"Count", list.Count}};
  Json x = Json::array(), y = Json::array(), direction = Json::array(), type = Json::array();
  for (int i = 0; i < list.Count; ++i) {
    x.push_back(list.X[i]);
    y.push_back(list.Y[i]);
    direction.push_back(list.Direction[i]);
    type.push_back(list.Type[i]);
  }
  out["X"] = x;
  out["Y"] = y;
  out["Direction"] = direction;
  out["Type"] = type;
  return out;
}

SingularPointList ListFromJson(const Json& in) {
  SingularPointList list;
  std::memset(&list, 0, sizeof(list));
  list.Count = in.at("Count").get<int>();
  for (int i = 0; i < list.Count; ++i) {
    list.X[i] = in.at("X").at(i).get<int16_t>();
    list.Y[i] = in.at("Y").at(i).get<int16_t>();
    list.Direction[i] = in.at("Direction").at(i).get<int16_t>();
    list.Type[i] = in.at("Type").at(i).get<uint8_t>();
  }
  return list;
}

const StageRegistrar kFindSingularCandidates("FindSingularCandidates", [](const StageContext& ctx) {
  OwnedImage map(ctx.InputPgm("BlockDirectionMap"));
  const Json grid = ctx.InputJson("grid");
  SingularPointList candidates;
  FindSingularCandidates(grid.at("wholeCols").get<int>(), grid.at("wholeRows").get<int>(),
                         map.get(), &candidates);
  return Outcome::FromDiff(CompareJson(ListToJson(candidates), ctx.OutputJson("cand")));
});

const StageRegistrar kRefineSingularPoints("RefineSingularPoints", [](const StageContext& ctx) {
  OwnedImage directions(ctx.InputPgm("DirectionImage"));
  SingularPointList candidates = ListFromJson(ctx.InputJson("SingularCandidates"));
  SingularPointList points;
  RefineSingularPoints(ctx.Arg("width"), ctx.Arg("height"), ctx.Arg("BlockSize"), directions.get(),
                       &candidates, &points);
  return Outcome::FromDiff(CompareJson(ListToJson(points), ctx.OutputJson("sp")));
});

}  // namespace
}  // namespace ridgeline::golden
