// Golden checks of the matcher: every recorded (probe, reference) pair scored with MatchCoord in
// a fresh work area, its score, first result and refined result compared field by field, and the
// 180-degree turns of the rotated retries. One line per probe image, one per rotated pair.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "match/match_coord.h"
#include "match/match_params.h"
#include "match/match_work.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

struct WorkDeleter {
  void operator()(MatchWork* work) const { FreeMatchWork(work); }
};
using OwnedWork = std::unique_ptr<MatchWork, WorkDeleter>;

Json ResultToJson(const MatchResult& r, int count_a) {
  const int n = std::min(count_a, kMatchCapacity);
  Json correspondence = Json::array();
  for (int i = 0; i < n; ++i) correspondence.push_back(r.Correspondence[i]);
  return Json{{"Score", r.Score},
              {"Rotation", r.Rotation},
              {"TX", r.TX},
              {"TY", r.TY},
              {"Anchor1", r.Anchor1},
              {"Anchor2", r.Anchor2},
              {"Overlap", r.Overlap},
              {"Matched", r.Matched},
              {"CorrespondenceCount", r.CorrespondenceCount},
              {"Correspondence", correspondence}};
}

// The result record as a fresh work area's caller would hold it before the first comparison.
MatchResult FreshResult() {
  MatchResult r{};
  r.Anchor1 = -1;
  r.Anchor2 = -1;
  for (int32_t& c : r.Correspondence) c = -1;
  return r;
}

MatchParams ParamsFromJson(const Json& j) {
  MatchParams p{};
  int32_t* slots = &p.Reserved1;
  for (size_t i = 0; i < 18; ++i) slots[i] = j.at(i).get<int32_t>();
  return p;
}

// Runs MatchCoord of probe against reference in a fresh work area; empty when the recorded
// score, MatchResult and SecondResult are reproduced, else the first difference.
std::string CheckPair(const MatchParams& params, const FeatureSet& probe,
                      const FeatureSet& reference, const Json& want) {
  OwnedWork work(BuildMatchWork(kMatchCapacity, kMapSize, kMapSize, kMatchCapacity, kMapSize,
                                kMapSize, params));
  if (!work) return "cannot build the work area";
  MatchResult result = FreshResult();
  const int score = MatchCoord(probe, reference, work.get(), &result);
  if (score != want.at("score").get<int>()) {
    return "score: got " + std::to_string(score) + ", want " + want.at("score").dump();
  }
  std::string diff =
      CompareJson(ResultToJson(result, probe.Count), want.at("MatchResult"), "MatchResult");
  if (!diff.empty()) return diff;
  const MatchResult* second = RefinedResult(work.get());
  const Json got_second = second == nullptr ? Json(nullptr) : ResultToJson(*second, probe.Count);
  return CompareJson(got_second, want.at("SecondResult"), "SecondResult");
}

std::vector<std::pair<std::string, Outcome>> CheckMatching(const fs::path& root) {
  const Json sets = ReadJson(root / "featuresets.json");
  const Json pairs = ReadJson(root / "pairs.json");
  const MatchParams params = ParamsFromJson(pairs.at("MatchParams"));
  const bool rebuild_a = pairs.at("rebuildA").get<int>() != 0;

  const Json& images = sets.at("images");
  std::vector<std::unique_ptr<OwnedFeatures>> probes;
  std::vector<std::unique_ptr<OwnedFeatures>> references;
  for (const Json& image : images) {
    probes.push_back(std::make_unique<OwnedFeatures>());
    FeatureSetFromJson(image.at("probe"), probes.back()->set());
    references.push_back(std::make_unique<OwnedFeatures>());
    FeatureSetFromJson(image.at("reference"), references.back()->set());
  }
  auto name_of = [&](size_t i) { return images.at(i).at("name").get<std::string>(); };

  std::vector<std::pair<std::string, Outcome>> out;
  if (!rebuild_a) out.push_back({"matching", Outcome::Fail("rebuildA 0 is not recorded here")});

  // One line per probe: all its pairs, or the first pair that differs.
  for (size_t p = 0; p < images.size(); ++p) {
    int checked = 0;
    std::string failure;
    for (const Json& pair : pairs.at("pairs")) {
      if (pair.at("probe").get<size_t>() != p) continue;
      const size_t r = pair.at("reference").get<size_t>();
      ++checked;
      const std::string diff = CheckPair(params, *probes[p]->set(), *references[r]->set(), pair);
      if (!diff.empty() && failure.empty()) failure = "reference " + name_of(r) + ": " + diff;
    }
    const std::string item =
        "matching/probe " + name_of(p) + " (" + std::to_string(checked) + " pairs)";
    out.push_back({item, Outcome::FromDiff(failure)});
  }

  for (const Json& rotated : pairs.at("rotated")) {
    const size_t p = rotated.at("probe").get<size_t>();
    const size_t r = rotated.at("reference").get<size_t>();
    OwnedFeatures turned;
    RotateFeatureSet180(turned.set(), *references[r]->set());
    std::string diff = CompareJson(FeatureSetToJson(*turned.set()), rotated.at("rotatedReference"),
                                   "rotatedReference");
    if (diff.empty()) diff = CheckPair(params, *probes[p]->set(), *turned.set(), rotated);
    out.push_back(
        {"matching/rotated " + name_of(p) + " vs " + name_of(r), Outcome::FromDiff(diff)});
  }
  return out;
}

const SuiteRegistrar kMatching("matching", "MatchCoord", CheckMatching);

}  // namespace
}  // namespace ridgeline::golden
