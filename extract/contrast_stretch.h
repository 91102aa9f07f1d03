// The local contrast stretch: each pixel is mapped linearly from the band of one mean absolute
// deviation around its local mean onto 0..255.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace ridgeline {

// source: the image to stretch (width x height, only read). meanImage: on entry the local mean
// of source over the (2 radius + 1)^2 window; on return the stretched image. The deviation of
// a pixel is the mean of |source - meanImage| over the in-image pixels of its window,
// truncated. Returns false, leaving meanImage untouched, when the row ring cannot be allocated.
// REQUIRES: radius >= 0; source and meanImage are distinct images.
bool ContrastStretch(int width, int height, const uint8_t* const* source, GrayImage meanImage,
                     int radius);

}  // namespace ridgeline
