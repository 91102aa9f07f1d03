// Oriented line smoothing: every pixel becomes the weighted mean of an 11-pixel line segment
// through it along its ridge direction, or its 3 x 3 mean where it has no direction.
#pragma once

#include <cstdint>

#include "extract/records.h"

namespace ridgeline {

// Filters image (width x height) in place along directionImage (same size; bits 0-6 the code
// or 127, bit 7 ignored). At the border only in-image taps count and the mean divides by their
// total weight. Returns false, leaving image untouched, when the row ring cannot be allocated.
// REQUIRES: directionImage codes are 0..119 or 127 (codes 120..126 are read as code - 120).
bool OrientedSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage);

}  // namespace ridgeline
