// The engine's comparison run in the tool, beside the adapter: a capture's accepted feature set
// scored against stored templates decoded from their containers, exactly as a verification
// scores them (each entry of the container, the best score counts). The adapter decides at its
// fixed match level (4); this is what gives the tool a score to show with every decision, a
// decision at any other level, and a ranking of the whole gallery.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tools/eval/print_features.h"
#include "tools/host/engine_host.h"

namespace ridgeline::tools {

// Levels 1..7 select the engine's thresholds (Engine::Threshold); the adapter itself always
// decides at the default level.
constexpr int kDefaultLevel = 4;
// The stored container version the tool reads (the adapter accepts this one only).
constexpr int kContainerFormatVersion = 0;
constexpr int kMinLevel = 1;
constexpr int kMaxLevel = 7;
// REQUIRES: kMinLevel <= level <= kMaxLevel.
int LevelThreshold(int level);

// The entries of one stored container, decoded for the matcher.
using DecodedTemplate = std::vector<eval::FeatureRecords>;

// Checks the container as the adapter does (header: version 0, at least one entry, type 2001;
// every entry inside the blob and structurally sound) and decodes each entry. Empty when any
// check fails: the stored template is damaged.
std::optional<DecodedTemplate> DecodeStoredTemplate(std::span<const uint8_t> blob);

// The capture through the adapter's acceptance path (resampling, grey-level test, extraction)
// with the engine linked into the tool. probe (and reference, the enrolled form) are set only
// when the capture is accepted.
eval::PrintFeatures AcceptedFeatures(const Capture& capture);

// The best score of probe against the entries of reference, 0..9999, by engine (used by one
// thread at a time).
int BestScore(const FeatureSet& probe, const DecodedTemplate& reference, Engine& engine);

// BestScore of probe against every reference, spread over `threads` workers (0: all cores).
std::vector<int> ScoreAll(const FeatureSet& probe, std::span<const DecodedTemplate> references,
                          int threads);

// The decision shown to the user: the score (absent when it could not be computed), the level
// and its threshold, the answer and who gave it: "adapter" when the adapter's own decision at
// its level is shown, "engine" when the tool decided by the score at another level.
struct Decision {
  int level = kDefaultLevel;
  int threshold = 0;
  std::optional<int> score;
  bool match = false;
  std::string decided_by;
};

// The adapter's answer at its fixed level when level is the default, else the score against
// the level's threshold (no score: no match).
Decision Decide(int level, std::optional<int> score, bool adapter_match);

// "score 512, threshold 325 at level 4" and, when the tool decided, a note that says so.
std::string DescribeDecision(const Decision& decision);

}  // namespace ridgeline::tools
