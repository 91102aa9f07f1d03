#include "tools/cli/comparison.h"

#include <algorithm>
#include <new>
#include <thread>

#include "engine/engine_settings.h"
#include "template/template_container.h"
#include "template/template_decode.h"
#include "tools/eval/parallel_for.h"

namespace ridgeline::tools {

static_assert(kDefaultLevel == kDefaultMatchLevel);
static_assert(kMinLevel == kMinMatchLevel && kMaxLevel == kMaxMatchLevel);

int LevelThreshold(int level) { return Engine::Threshold(level); }

std::optional<DecodedTemplate> DecodeStoredTemplate(std::span<const uint8_t> blob) {
  ContainerHeader header{};
  if (!ReadContainerHeader(blob, &header) || header.Version != kContainerFormatVersion ||
      header.TemplateCount == 0 || header.TemplateType != kMinutiaTemplateType) {
    return std::nullopt;
  }
  DecodedTemplate entries;
  for (int i = 0; i < header.TemplateCount; ++i) {
    std::span<const uint8_t> entry;
    int bad_entry = 0;
    if (!FindContainerEntry(blob, i, &entry, &bad_entry) || !CheckMinutiaTemplate(entry)) {
      return std::nullopt;
    }
    eval::FeatureRecords& records = entries.emplace_back(true);
    if (records.null()) throw std::bad_alloc();
    DecodeTemplate(records.set(), records.summary(), entry);
  }
  return entries;
}

eval::PrintFeatures AcceptedFeatures(const Capture& capture) {
  return eval::ExtractPrint(
      eval::GreyImage{capture.image.width, capture.image.height, capture.image.pixels});
}

int BestScore(const FeatureSet& probe, const DecodedTemplate& reference, Engine& engine) {
  int best = 0;
  for (const eval::FeatureRecords& entry : reference) {
    best = std::max(best, engine.Compare(probe, *entry.set()));
  }
  return best;
}

std::vector<int> ScoreAll(const FeatureSet& probe, std::span<const DecodedTemplate> references,
                          int threads) {
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min<int>(threads, std::max<size_t>(1, references.size()));
  std::vector<std::unique_ptr<Engine>> engines;
  for (int i = 0; i < threads; ++i) {
    engines.push_back(Engine::Create());
    if (!engines.back()) throw std::bad_alloc();
  }
  // Each worker's engine builds the probe's matcher tables once, for all its comparisons.
  std::vector<Engine::PreparedProbe> prepared;
  for (const auto& engine : engines) prepared.push_back(engine->Prepare(probe));
  std::vector<int> scores(references.size(), 0);
  eval::ParallelFor(static_cast<int>(references.size()), threads, [&](int worker, int index) {
    const auto w = static_cast<size_t>(worker);
    int best = 0;
    for (const eval::FeatureRecords& entry : references[static_cast<size_t>(index)]) {
      best = std::max(best, engines[w]->Compare(prepared[w], *entry.set()));
    }
    scores[static_cast<size_t>(index)] = best;
  });
  return scores;
}

Decision Decide(int level, std::optional<int> score, bool adapter_match) {
  Decision decision;
  decision.level = level;
  decision.threshold = LevelThreshold(level);
  decision.score = score;
  if (level == kDefaultLevel) {
    decision.match = adapter_match;
    decision.decided_by = "adapter";
  } else {
    decision.match = score && ReachesThreshold(*score, decision.threshold);
    decision.decided_by = "engine";
  }
  return decision;
}

std::string DescribeDecision(const Decision& decision) {
  std::string text = decision.score ? "score " + std::to_string(*decision.score) : "no score";
  text += ", threshold " + std::to_string(decision.threshold) + " at level " +
          std::to_string(decision.level);
  if (decision.decided_by == "engine") {
    text += "; decided by the engine's comparison";
    if (decision.level != kDefaultLevel) {
      text += ", the adapter decides at level " + std::to_string(kDefaultLevel) + " only";
    }
  }
  return text;
}

}  // namespace ridgeline::tools
