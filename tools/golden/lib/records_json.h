// JSON forms of the engine's records, as the golden vectors write them (lists hold exactly
// Count entries; maps as 64 rows of 64 bytes).
#pragma once

#include "core/engine_params.h"
#include "core/records.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {

// The default parameter block with every scalar field that `fields` names (a manifest's
// EngineParams, a stage's args) taken from it; other keys are ignored.
EngineParams EngineParamsFromJson(const Json& fields);

Json SingularPointsToJson(const SingularPointList& list);
void SingularPointsFromJson(const Json& j, SingularPointList* list);

// Candidate arrays (CandidateCount, CandX, ...) of a result.
Json CandidatesToJson(const ExtractionResult& result);
void CandidatesFromJson(const Json& j, ExtractionResult* result);

Json ExtractionResultToJson(const ExtractionResult& result);
void ExtractionResultFromJson(const Json& j, ExtractionResult* result);

Json FeatureSetToJson(const FeatureSet& fs);
// REQUIRES: fs has arrays of at least the JSON's Count entries.
void FeatureSetFromJson(const Json& j, FeatureSet* fs);

Json FeatureSummaryToJson(const FeatureSummary& summary);
void FeatureSummaryFromJson(const Json& j, FeatureSummary* summary);

// Owns a FeatureSet / FeatureSummary pair of capacity 1000.
class OwnedFeatures {
 public:
  OwnedFeatures();
  ~OwnedFeatures();
  OwnedFeatures(const OwnedFeatures&) = delete;
  OwnedFeatures& operator=(const OwnedFeatures&) = delete;
  FeatureSet* set() const { return set_; }
  FeatureSummary* summary() const { return summary_; }

 private:
  FeatureSet* set_ = nullptr;
  FeatureSummary* summary_ = nullptr;
};

}  // namespace ridgeline::golden
