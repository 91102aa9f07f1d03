// Bringing a capture taken at another resolution to the sensor's 500 pixels per inch, as a
// sensor's capture stage delivers it: the same conversion for the public library and the tools.
#pragma once

#include <cstdint>
#include <vector>

namespace ridgeline {

// Resolutions outside this range are taken as a broken tag, not as a resolution.
constexpr int kMinCaptureResolution = 100;
constexpr int kMaxCaptureResolution = 5000;

// round(side x toPpi / fromPpi), at least 1. REQUIRES: side > 0, fromPpi > 0, toPpi > 0.
int ScaledCaptureSide(int side, int fromPpi, int toPpi);

// Bilinear resampling in 16.16 fixed point of width x height pixels (rows stride bytes apart)
// from fromPpi to toPpi into *out (rows of exactly *outWidth bytes): destination pixel x samples
// the source at (x + 0.5) x from / to - 0.5, clamped to the image, so both resolutions share pixel
// centres. REQUIRES: positive sizes and resolutions, stride >= width.
void ResampleCapture(const uint8_t* pixels, int width, int height, int stride, int fromPpi,
                     int toPpi, std::vector<uint8_t>* out, int* outWidth, int* outHeight);

// Where pixel `position` of the resampled image (toPpi) lies in the source (fromPpi), rounded to
// the nearest source pixel: the inverse of the sampling above, for reporting coordinates.
int SourcePosition(int position, int fromPpi, int toPpi);

}  // namespace ridgeline
