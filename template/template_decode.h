// Reading a MinutiaTemplate back into a FeatureSet for matching.
#pragma once

#include <cstdint>
#include <span>

#include "core/records.h"

namespace ridgeline {

// Overwrites Count, the minutiae, BlockCols, BlockRows and the map cells inside the grid of
// featureSet, and the BoundaryDensity of summary (when given), from record. Map cells outside
// the decoded grid keep their values. The record's sizes are trusted: stored bytes must pass
// the structural check of the template container first.
// REQUIRES: record holds the 8 header bytes and every byte its header announces (at most
// TemplateRecordSize(record)); featureSet has room for 255 minutiae.
void DecodeTemplate(FeatureSet* featureSet, FeatureSummary* summary,
                    std::span<const uint8_t> record);

}  // namespace ridgeline
