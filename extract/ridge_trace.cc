// Crossing number and ridge walk over a one-pixel skeleton.
#include "extract/ridge_trace.h"

#include <cassert>

namespace ridgeline {

bool StepRidge(const ImageView& skeleton, RidgeTrace* trace, bool test_crossing) {
  assert(trace->steps < kMaxRidgeTrace);
  const int x = trace->x;
  const int y = trace->y;
  // Stopping on the frame keeps every neighbour read below inside the image.
  if (y <= 0 || x <= 0 || y >= skeleton.height - 1 || x >= skeleton.width - 1) {
    trace->stop_crossing = kStoppedAtFrame;
    return false;
  }
  // One neighbour code serves the crossing test and the choice of the next pixel: whitening
  // the pixel itself changes none of its neighbours.
  const auto code = static_cast<size_t>(NeighbourCode(skeleton.rows, x, y));
  if (test_crossing) {
    const int crossing = kCrossingNumbers[code];
    if (crossing != 1) {
      trace->stop_crossing = crossing;
      return false;
    }
  }
  skeleton[y][x] = 255;
  trace->whitened[trace->steps++] = {x, y};
  const int next = kFirstStep[code];
  if (next >= 0) {
    trace->x = x + kNeighbourDx[static_cast<size_t>(next)];
    trace->y = y + kNeighbourDy[static_cast<size_t>(next)];
  }
  return true;
}

RidgeTrace TraceRidge(const ImageView& skeleton, int x, int y, int maxSteps) {
  assert(maxSteps >= 0 && maxSteps <= kMaxRidgeTrace);
  RidgeTrace trace;
  trace.x = x;
  trace.y = y;
  while (trace.steps < maxSteps && StepRidge(skeleton, &trace, true)) {
  }
  return trace;
}

void RestoreRidge(const ImageView& skeleton, const RidgeTrace& trace) {
  for (int i = 0; i < trace.steps; ++i) skeleton[trace.whitened[i].y][trace.whitened[i].x] = 0;
}

}  // namespace ridgeline
