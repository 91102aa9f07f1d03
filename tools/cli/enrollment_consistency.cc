#include "tools/cli/enrollment_consistency.h"

#include <algorithm>
#include <memory>
#include <new>

#include "engine/engine.h"
#include "tools/eval/print_features.h"

namespace ridgeline::tools {

std::optional<std::string> CheckImpressionsAgree(const std::vector<Capture>& captures, int level) {
  if (captures.size() < 2) return std::nullopt;
  std::vector<eval::PrintFeatures> prints;
  for (const Capture& capture : captures) {
    prints.push_back(eval::ExtractPrint(
        eval::GreyImage{capture.image.width, capture.image.height, capture.image.pixels}));
    if (!prints.back().probe || !prints.back().reference) return std::nullopt;
  }
  const std::unique_ptr<Engine> engine = Engine::Create();
  if (!engine) throw std::bad_alloc();
  const int threshold = Engine::Threshold(level);

  // The second impression first: with two that disagree, the later one is the odd one out.
  std::vector<size_t> order;
  for (size_t i = 1; i < captures.size(); ++i) order.push_back(i);
  order.push_back(0);
  for (size_t i : order) {
    int best = 0;
    std::vector<size_t> others;
    for (size_t j = 0; j < captures.size(); ++j) {
      if (j == i) continue;
      best = std::max(best, engine->Compare(*prints[i].probe->set(), *prints[j].reference->set()));
      others.push_back(j + 1);
    }
    if (ReachesThreshold(best, threshold)) continue;
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
