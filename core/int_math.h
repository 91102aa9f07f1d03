// Integer helpers shared by extraction and matching: square root, step direction and the
// square-window means. Everything here is exact integer arithmetic.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace ridgeline {

// ArctanTable[a][b] = atan2(a, b) in whole degrees, rounded to nearest; [0][0] is 90.
extern const uint8_t kArctanTable[50][50];

// floor(sqrt(n)) for every n >= 0.
int IntSqrt(int64_t n);

// Direction in degrees 0..359 of the step (x1, y1) -> (x2, y2): 0 towards decreasing x,
// 90 towards increasing y, 180 towards increasing x, 270 towards decreasing y. A zero step
// gives 270.
int LineAngle(int x1, int y1, int x2, int y2);

// In-place mean over the (2 radius + 1)^2 window clipped to the image, each output divided
// (truncating) by its number of in-image pixels. Cost per pixel does not depend on radius.
// Returns false only when its row ring cannot be allocated (the image is then untouched).
bool BoxMean(int width, int height, GrayImage image, int radius);
// The 3 x 3 case of BoxMean.
bool BoxMean3(int width, int height, GrayImage image);

}  // namespace ridgeline
