// The extraction driver: one grey image in, a FeatureSet and a FeatureSummary out.
#pragma once

#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// Runs the whole extraction on image (which it smooths in place), keeps the usable minutiae,
// trims the feature set to templateBudget bytes (0: no trimming) and scores the quality.
// Returns 1 when the image was processed and enough minutiae remain, else 0; for a rejected
// image size neither record is touched. An allocation failure also gives 0.
int FeaturesExtractionEx(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                         int32_t resolutionPercent, FeatureSet* featureSet,
                         FeatureSummary* featureSummary, int32_t templateBudget, int32_t type);

// FeaturesExtractionEx with the pipeline's local stages split into `bands` row bands run on two
// threads (1: all on the calling thread). The results are the same bit for bit for any count.
int FeaturesExtractionInBands(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                              int32_t resolutionPercent, FeatureSet* featureSet,
                              FeatureSummary* featureSummary, int32_t templateBudget, int32_t type,
                              int bands);

// The driver's steps after the pipeline: minutia filter, block map and singular point copy,
// budget crop, quality score and the minimum-count decision. Exposed so that they can be
// checked on a recorded ExtractionResult. Returns the driver's result (1 or 0).
int FinishFeatureExtraction(EngineParams* params, int32_t width, int32_t height,
                            const ExtractionResult& result, uint8_t meanIsotropy,
                            FeatureSet* featureSet, FeatureSummary* featureSummary,
                            int32_t templateBudget);

// The type-3 quality score of a trimmed feature set, 0..100, with its intermediates.
struct QualityScore {
  int F = 0;    // foreground blocks within the grid (undefined blocks included)
  int N = 0;    // interior blocks not near a singular point
  int M = 0;    // minutiae in such blocks
  int raw = 0;  // the unmapped score, 0..100
  int Quality = 0;
};
QualityScore ScoreQuality(const FeatureSet& featureSet, const FeatureSummary& summary,
                          uint8_t meanIsotropy);

// 20 if value >= high, 0 if value <= low, otherwise (value - low) x 20 / (high - low).
int Ramp20(int value, int low, int high);

// Maps a raw score (negative counts as 0) to the reported quality: 0..49 -> 0..78, 50..100 ->
// 80..100.
int MapQuality(int raw);

// The least number of minutiae an extraction must keep at a security level.
int MinimumMinutiae(int32_t securityLevel);

}  // namespace ridgeline
