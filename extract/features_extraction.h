// The extraction driver: one grey image in, a FeatureSet and a FeatureSummary out.
#pragma once

#include <cstdint>

#include "extract/engine_params.h"
#include "extract/records.h"

namespace ridgeline {

// Runs the whole extraction on image (which it smooths in place), keeps the usable minutiae,
// trims the feature set to templateBudget bytes (0: no trimming) and scores the quality.
// Returns 1 when the image was processed and enough minutiae remain, else 0; for a rejected
// image size neither record is touched.
int FeaturesExtractionEx(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                         int32_t resolutionPercent, FeatureSet* featureSet,
                         FeatureSummary* featureSummary, int32_t templateBudget, int32_t type);

}  // namespace ridgeline
