// Golden checks of minutiae detection, filtering and compaction (candidate arrays as JSON).
#include <memory>

#include "core/engine_params.h"
#include "extract/minutiae_detect.h"
#include "extract/minutiae_filter.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

const StageRegistrar kDetect("DetectMinutiae", [](const StageContext& ctx) {
  OwnedImage skeleton(ctx.InputPgm("sk"));
  const Pgm before = skeleton.ToPgm();
  OwnedImage directions(ctx.InputPgm("directionImage"));
  auto result = std::make_unique<ExtractionResult>();
  DetectMinutiae(ctx.Arg("width"), ctx.Arg("height"), skeleton.get(), directions.get(),
                 result.get(), ctx.Arg("traceLength"), ctx.Arg("minEndingTrace"),
                 ctx.Arg("minBranchTrace"), ctx.Arg("variationRadius"));
  if (std::string diff = ComparePgm(skeleton.ToPgm(), before); !diff.empty()) {
    return Outcome::Fail("skeleton changed: " + diff);
  }
  return Outcome::FromDiff(CompareJson(CandidatesToJson(*result), ctx.OutputJson("cand")));
});

const StageRegistrar kFilter("FilterMinutiae", [](const StageContext& ctx) {
  const EngineParams params = EngineParamsFromJson(ctx.args());
  OwnedImage input_copy(ctx.InputPgm("inputCopy"));
  OwnedImage directions(ctx.InputPgm("directionImage"));
  auto result = std::make_unique<ExtractionResult>();
  CandidatesFromJson(ctx.InputJson("candidates"), result.get());
  const int mean_isotropy = ctx.InputJson("meanIsotropy").at("MeanIsotropy").get<int>();
  FilterMinutiae(params, ctx.Arg("width"), ctx.Arg("height"),
                 params.ContrastCheck != 0 ? input_copy.get() : nullptr, directions.get(),
                 result.get(), static_cast<uint8_t>(mean_isotropy));
  return Outcome::FromDiff(CompareJson(CandidatesToJson(*result), ctx.OutputJson("cand")));
});

const StageRegistrar kCompact("CompactCandidates", [](const StageContext& ctx) {
  auto result = std::make_unique<ExtractionResult>();
  CandidatesFromJson(ctx.InputJson("candidates"), result.get());
  CompactCandidates(result.get());
  return Outcome::FromDiff(CompareJson(CandidatesToJson(*result), ctx.OutputJson("cand")));
});

}  // namespace
}  // namespace ridgeline::golden
