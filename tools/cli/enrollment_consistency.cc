#include "tools/cli/enrollment_consistency.h"

#include <algorithm>
#include <memory>
#include <new>

#include "match/match_coord.h"
#include "match/match_work.h"
#include "tools/cli/comparison.h"

namespace ridgeline::tools {

std::optional<std::string> CheckImpressionsAgree(const std::vector<Capture>& captures, int level) {
  if (captures.size() < 2) return std::nullopt;
  std::vector<eval::PrintFeatures> prints;
  for (const Capture& capture : captures) {
    prints.push_back(AcceptedFeatures(capture));
    if (!prints.back().probe || !prints.back().reference) return std::nullopt;
  }
  const MatchWorkPtr work = BuildDefaultMatchWork();
  if (!work) throw std::bad_alloc();
  auto match_result = std::make_unique<MatchResult>();
  const int threshold = LevelThreshold(level);

  // The second impression first: with two that disagree, the later one is the odd one out.
  std::vector<size_t> order;
  for (size_t i = 1; i < captures.size(); ++i) order.push_back(i);
  order.push_back(0);
  for (size_t i : order) {
    int best = 0;
    std::vector<size_t> others;
    for (size_t j = 0; j < captures.size(); ++j) {
      if (j == i) continue;
      best = std::max(best, MatchCoord(*prints[i].probe->set(), *prints[j].reference->set(),
                                       work.get(), match_result.get()));
      others.push_back(j + 1);
    }
    if (best >= threshold) continue;
    std::string named = others.size() > 1 ? "impressions " : "impression ";
    for (size_t k = 0; k < others.size(); ++k) {
      if (k > 0) named += k + 1 == others.size() ? " or " : ", ";
      named += std::to_string(others[k]);
    }
    return "impression " + std::to_string(i + 1) + " (" + captures[i].name + ") does not match " +
           named + " (best score " + std::to_string(best) + ", threshold " +
           std::to_string(threshold) + ")";
  }
  return std::nullopt;
}

}  // namespace ridgeline::tools
