// Writing a FeatureSet as a MinutiaTemplate: the compact byte record of one capture that an
// enrolled finger is stored as.
#pragma once

#include <cstdint>
#include <span>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// Zeroes `buffer` and writes the record of featureSet into it, its capacity being the budget.
// Keeps at most the first 255 minutiae, cuts a 64-block grid side to 63, and crops featureSet
// in place (CropToBudget, DropOutsideMinutiae) when the whole grid does not fit; the layout
// fields and crop offsets of params change accordingly. A feature set without minutiae leaves
// the buffer all zero, as does a buffer too small for even an empty record.
// REQUIRES: BlockCols and BlockRows at most 64.
void EncodeTemplate(EngineParams* params, FeatureSet* featureSet, uint8_t boundaryDensity,
                    std::span<uint8_t> buffer);

}  // namespace ridgeline
