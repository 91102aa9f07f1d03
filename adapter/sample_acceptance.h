// Sample acceptance: from the service's record to the context's current sample, through the
// record checks, resampling to the engine's resolution, the grey-level test and the extraction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"
#include "engine/engine_settings.h"
#include "platform/winbio_types.h"

namespace ridgeline {

// What an acceptance calls out to. The adapter uses kSystemSampleAcceptance; tests substitute
// an extraction of their own or a record copy that fails.
struct SampleAcceptanceHooks {
  int (*Extract)(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                 int32_t resolutionPercent, FeatureSet* featureSet, FeatureSummary* featureSummary,
                 int32_t templateBudget, int32_t type);
  void* (*AllocKeptCopy)(std::size_t bytes);  // a std::malloc-compatible block, or null
};
extern const SampleAcceptanceHooks kSystemSampleAcceptance;

// The whole of EngineAdapterAcceptSampleData with its traces and results.
HRESULT AcceptSample(PWINBIO_PIPELINE Pipeline, PWINBIO_BIR SampleBuffer, SIZE_T SampleSize,
                     WINBIO_BIR_PURPOSE Purpose, PWINBIO_REJECT_DETAIL RejectDetail,
                     const SampleAcceptanceHooks& hooks);

}  // namespace ridgeline
