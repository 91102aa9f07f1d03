// Bilinear resampling of an 8-bit grey image between two resolutions, in 10-bit fixed point.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace ridgeline {

// One fixed-point unit: weights run 1..1024 and belong to the lower-index sample.
constexpr int kResampleOne = 1024;

// Largest destination side whose fixed-point positions (i x sourceResolution x 1024) still fit
// a signed 32-bit value; 0 when a resolution is not positive.
int MaxResampleSide(int sourceResolution, int destinationResolution);

// Position tables shared by both axes: index[i] = i x s / d and weight[i] = 1024 minus the
// 10-bit fraction of that position (1..1024), for i < count.
// REQUIRES: 0 <= count <= MaxResampleSide(s, d).
void BuildResampleTables(int count, int sourceResolution, int destinationResolution, int16_t* index,
                         int16_t* weight);

// Resamples the sourceWidth x sourceHeight pixels (rows of exactly sourceWidth bytes, top row
// first) into destination, a GrayImage of destinationWidth x destinationHeight: a horizontal
// pass into an intermediate of destinationWidth x sourceHeight bytes, then a vertical pass. The
// last source column and row are copied, never blended with a sample beyond the edge.
// Returns false, leaving destination untouched, when a side is not positive, a destination side
// exceeds MaxResampleSide or places its last sample beyond the source's last column or row
// (index[side - 1] >= the source side), or an allocation fails.
bool ResampleImage(const uint8_t* source, int sourceWidth, int sourceHeight, int sourceResolution,
                   GrayImage destination, int destinationWidth, int destinationHeight,
                   int destinationResolution);

}  // namespace ridgeline
