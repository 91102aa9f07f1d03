// Trimming a FeatureSet to a template byte budget: the crop to the box of its non-empty blocks,
// shrunk toward the finger's centre or from the bottom until the chosen layout fits, and the
// removal of minutiae that lie outside the grid. Everything works in place.
#pragma once

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// Crops featureSet to the bounding box of its non-empty blocks and, when the cheapest layout of
// that box still exceeds `budget` bytes, shrinks the box one block side at a time toward the
// centre (the mean of the summary's type-1 singular points, else of the minutiae). Moves the
// origin to the box corner (CropX / CropY grow by it, singular points of a given summary move
// with it) and sets the layout fields. Minutiae outside the box but not cut stay; follow with
// DropOutsideMinutiae. A feature set without minutiae is left untouched.
// REQUIRES: BlockCols and BlockRows at most 64; summary may be null.
void CropToBudget(EngineParams* params, FeatureSet* featureSet, FeatureSummary* summary,
                  int budget);

// As CropToBudget, but a box that does not fit loses whole block rows from the bottom only.
void CropBottomToBudget(EngineParams* params, FeatureSet* featureSet, FeatureSummary* summary,
                        int budget);

// Removes every minutia outside the block grid (negative, or at or beyond 16 x the grid side),
// keeping the order of the rest.
void DropOutsideMinutiae(FeatureSet* featureSet);

}  // namespace ridgeline
