// Binarisation: the smoothed grey image becomes a two-valued ridge image, 0 for ridge pixels
// and 255 for valleys and background. The threshold of each pixel is a local mean; in the
// adaptive mode the window size follows a clarity map made from the boundary density of a
// preliminary binary image. Also the clean-up that follows (majority filter, white frame,
// white background) and the boundary density score of the final binary image.
//
// Every window is a square centred on the pixel and clipped to the image; a window mean is the
// sum of its in-image pixels divided (truncating) by their number. Filters read unfiltered row
// copies and write in place. Entries that return bool report false only when their working
// rows cannot be allocated; the image is then left untouched.
#pragma once

#include <array>
#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// Percentage by DirectionCode (bits 0-6 of a DirectionImage byte): diagonal ridges cross more
// pixels per unit of length, so their boundary count is scaled down. 120..127 (127 = no
// direction) hold 0.
extern const std::array<uint8_t, 128> kBoundaryDirectionFactor;

// Writes into out a preliminary binary image of image: 255 where the pixel reaches the mean
// of the two window means (small and large window), else 0. image is not changed.
// REQUIRES: width, height > 0; out is at least width x height.
bool PreBinarize(const EngineParams* params, int width, int height, const uint8_t* const* image,
                 GrayImage out);

// Overwrites binary with its BoundaryDensityMap: over the (2 radius + 1)^2 window, the share of
// foreground pixels (bit 7 of their DirectionImage byte clear, frame excluded) whose 3 x 3 block
// holds both values, scaled to 0..255 and by kBoundaryDirectionFactor of the pixel's own code.
bool MakeBoundaryDensityMap(int width, int height, GrayImage binary,
                            const uint8_t* const* directionImage, int radius);

// Binarises image in place: 255 where the pixel reaches its window mean, else 0. The window
// is chosen per pixel by the map value v: v >= ClarityHigh the small window, v >= ClarityLow
// the medium one, below that the large one. map is read only.
bool AdaptiveBinarize(const EngineParams* params, int width, int height, GrayImage image,
                      const uint8_t* const* map);

// Binarises image in place against the mean of the fixed (2 radius + 1)^2 window.
bool LocalMeanBinarize(int width, int height, GrayImage image, int radius);

// 3 x 3 majority on a binary image (white when at least 5 of the 9 are white) over the pixels
// off the frame, then sets the frame (first and last rows and columns) to 255.
bool MajorityFilter(int width, int height, GrayImage image);

// Sets every pixel to 255 whose DirectionImage byte has its background bit (bit 7) set.
void WhitenBackground(int width, int height, GrayImage image, const uint8_t* const* directionImage);

// The BoundaryDensity score of a binary image: boundary pixels x 255 / foreground pixels over
// the pixels off the frame, truncated; 0 when there is no foreground pixel.
uint8_t MeasureBoundaryDensity(int width, int height, const uint8_t* const* binary,
                               const uint8_t* const* directionImage);

}  // namespace ridgeline
