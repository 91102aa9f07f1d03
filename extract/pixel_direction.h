// The pixel direction field: a ridge direction and an isotropy for every pixel from the
// variations of the square window around it.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace ridgeline {

// For every pixel of image (width x height), border included, sums the four single-pixel
// variations of the non-border pixels of the (2 halfWindow + 1)^2 window around it (clipped at
// the image, then scaled up to the full window area) and writes the direction into
// directionImage (code 0..119 or 127, bit 7 clear) and the isotropy into image, in place.
// The previous content of directionImage is not read. pixelContrastThreshold is the
// low-contrast limit per pixel (the pipeline passes EngineParams.PixelContrastThreshold).
// Returns false, writing nothing, when the row ring cannot be allocated.
// REQUIRES: halfWindow >= 0; directionImage is at least width x height and not image.
bool EstimatePixelDirections(int width, int height, GrayImage image, GrayImage directionImage,
                             int halfWindow, int pixelContrastThreshold);

}  // namespace ridgeline
