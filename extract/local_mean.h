// The local means of the extraction: core/int_math.h's BoxMean and BoxMean3 in the row loops of
// this layer, with their bytes.
#pragma once

#include "core/records.h"

namespace ridgeline {

// BoxMean(width, height, image, radius), the same output bit for bit: the window sums slide
// with vectorised column and row sums, and the divisions by the pixel counts become
// multiplications (or exact double divisions on the rows clipped at the top and the bottom).
// Windows whose counts leave the multiplication inexact take BoxMean itself. Returns false
// only when its buffers cannot be allocated (the image is then untouched).
// REQUIRES: radius >= 0.
bool LocalMean(int width, int height, GrayImage image, int radius);

// BoxMean3(width, height, image), the same output bit for bit, each row one vectorised pass.
// Returns false only when its row copies cannot be allocated.
bool LocalMean3(int width, int height, GrayImage image);

}  // namespace ridgeline
