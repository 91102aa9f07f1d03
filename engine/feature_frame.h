// Where the engine's features lie in the image a caller gave. The engine reports minutiae in the
// pixels of its working image (kEngineResolution) less the crop origin of the template budget;
// the caller's image was first brought to the sensor's resolution (and may have had margins
// trimmed). These conversions undo each step, so coordinates can be drawn on the caller's image.
#pragma once

#include "engine/capture_resolution.h"
#include "engine/engine_settings.h"

namespace ridgeline {

// How the caller's image became the capture the engine accepted.
struct CaptureFrame {
  int ppi = kSensorResolution;  // resolution of the caller's image
  int offset_x = 0;             // pixels of the caller's image cut from the left before resampling
  int offset_y = 0;             // ... and from the top
  int trim_x = 0;               // pixels cut from the left of the 500-ppi capture after resampling
  int trim_y = 0;               // ... and from the top
};

// Working-image pixel `position` (crop origin already added) to the sensor-resolution capture:
// the engine's resampler takes working pixel i from capture position i x 500 / 550.
constexpr int WorkingToCapture(int position) {
  return (2 * position * kSensorResolution + kEngineResolution) / (2 * kEngineResolution);
}

// A position of the capture the engine accepted in the caller's image: the trim made at the
// sensor's resolution, the resampling from the caller's resolution and the cut made before it,
// undone in that order.
inline int CaptureToInput(int capture, int trim, int offset, int ppi) {
  const int sensor = capture + trim;
  return offset +
         (ppi == kSensorResolution ? sensor : SourcePosition(sensor, ppi, kSensorResolution));
}

// One coordinate of the engine frame (X or Y with its crop origin) in the caller's image.
inline int EngineToInput(int engine, int crop, int offset, int ppi) {
  return CaptureToInput(WorkingToCapture(engine + crop), 0, offset, ppi);
}
inline int EngineToInputX(int engine, int crop, const CaptureFrame& frame) {
  return CaptureToInput(WorkingToCapture(engine + crop), frame.trim_x, frame.offset_x, frame.ppi);
}
inline int EngineToInputY(int engine, int crop, const CaptureFrame& frame) {
  return CaptureToInput(WorkingToCapture(engine + crop), frame.trim_y, frame.offset_y, frame.ppi);
}

// The inverse, for records made elsewhere: a pixel of an image at `ppi` to the engine's working
// image (kEngineResolution), pixel centres kept: (p + 0.5) x 550 / ppi - 0.5, rounded.
// REQUIRES: position >= 0, ppi > 0.
constexpr int InputToEngine(int position, int ppi) {
  return (2 * position + 1) * kEngineResolution / (2 * ppi);
}

// The engine's minutia angle (degrees, 0 pointing to -x, 90 to +y with y down: the direction
// (-cos a, sin a)) in the standard convention, counter-clockwise from the image's x axis with y
// down (the direction (cos t, -sin t)): t = a + 180.
constexpr int StandardAngle(int engineAngle) { return ((engineAngle + 180) % 360 + 360) % 360; }

}  // namespace ridgeline
