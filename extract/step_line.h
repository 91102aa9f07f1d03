// The integer line walk shared by the straight-line operations of skeleton repair: which pixels
// lie between two points, with the error kept in hundredths of a pixel.
#pragma once

#include <cstdlib>

namespace ridgeline {

// Visits the pixels of the walk from (x1, y1) towards (x2, y2), start included, end excluded:
// max(|dx|, |dy|) pixels, all inside the bounding box of the two points. The walk steps along
// the major axis (along y on a tie); the minor coordinate follows an error in hundredths that
// grows by the truncated slope dy x 100 / |dx| per step. The two error tests are separate
// statements, so an error of exactly 50 moves one pixel and at once back. A zero step visits
// nothing. visit(x, y) is called for each pixel in order.
template <typename Visit>
void StepLine(int x1, int y1, int x2, int y2, Visit&& visit) {
  const int dx = x2 - x1;
  const int dy = y2 - y1;
  if (std::abs(dy) < std::abs(dx)) {
    const int slope = dy * 100 / std::abs(dx);
    const int step = dx > 0 ? 1 : -1;
    int error = 0;
    for (int x = x1, y = y1; x != x2; x += step) {
      visit(x, y);
      error += slope;
      if (error >= 50) {
        ++y;
        error -= 100;
      }
      if (error < -49) {
        --y;
        error += 100;
      }
    }
  } else if (dy != 0) {
    const int slope = dx * 100 / std::abs(dy);
    const int step = dy > 0 ? 1 : -1;
    int error = 0;
    for (int x = x1, y = y1; y != y2; y += step) {
      visit(x, y);
      error += slope;
      if (error >= 50) {
        ++x;
        error -= 100;
      }
      if (error < -49) {
        --x;
        error += 100;
      }
    }
  }
}

}  // namespace ridgeline
