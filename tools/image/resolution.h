// Bringing an image to the 500 pixels per inch the engine takes every image at: the host stands
// in for the sensor side, which delivers its images at that resolution.
#pragma once

#include "engine/capture_resolution.h"
#include "engine/engine_settings.h"
#include "image/print_image.h"

namespace ridgeline::tools {

// The resolution every capture reaches the engine at (the engine itself then works at its own).
constexpr int kEngineDpi = kSensorResolution;
// Declared resolutions outside this range are taken as a broken tag, not as a resolution.
constexpr int kMinPlausibleDpi = kMinCaptureResolution;
constexpr int kMaxPlausibleDpi = kMaxCaptureResolution;

// Bilinear resampling from from_dpi to to_dpi (16.16 fixed point); each side becomes
// round(side x to_dpi / from_dpi), at least 1. Equal resolutions return a copy.
// REQUIRES: from_dpi > 0, to_dpi > 0, a non-empty image.
PrintImage Resample(const PrintImage& image, int from_dpi, int to_dpi);

// The side Resample gives, computed without allocating. REQUIRES: from_dpi > 0, to_dpi > 0.
int64_t ResampledSide(int side, int from_dpi, int to_dpi);

}  // namespace ridgeline::tools
