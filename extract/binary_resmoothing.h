// Binary re-smoothing and direction refresh: between the first and the second binarisation
// the binary image is smoothed back to grey along directions estimated from the image itself,
// the DirectionImage is refreshed from the result, and each pixel is smoothed a number of
// further times that grows with how clearly oriented its neighbourhood is.
//
// Directions are estimated from four gradient sums (horizontal, two diagonals, vertical) over
// the (2 radius + 1)^2 window around each pixel, clipped to the image. Entries return false
// only when their working memory cannot be allocated; RefreshDirections then leaves its images
// untouched, the smoothing entries leave the image as their completed passes made it.
#pragma once

#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

struct DirectionEstimate {
  uint8_t code;        // DirectionCode 0..119, or 127 when the window shows no change at all
  int32_t anisotropy;  // near 0 for a clearly oriented window; 255 when there is no direction
};

// The direction of a window from its four gradient sums: horizontal, the upper-left /
// lower-right diagonal, vertical and the lower-left / upper-right diagonal.
// REQUIRES: every sum >= 0.
DirectionEstimate EstimateDirection(int32_t horizontal, int32_t diagonal1, int32_t vertical,
                                    int32_t diagonal2);

// codes[i] = EstimateDirection(horizontal[i], diagonal1[i], vertical[i], diagonal2[i]).code
// for i < count, for whole rows of window sums at once.
// REQUIRES: every sum >= 0 and below 2^24.
void EstimateDirectionCodes(const int32_t* horizontal, const int32_t* diagonal1,
                            const int32_t* vertical, const int32_t* diagonal2, int count,
                            uint8_t* codes);

// codes[i] and anisotropies[i] as EstimateDirection gives them for the sums at i < count, the
// anisotropies clamped to 0 .. 255, for whole rows of window sums at once.
// REQUIRES: every sum >= 0 and below 2^22.
void EstimateDirections(const int32_t* horizontal, const int32_t* diagonal1,
                        const int32_t* vertical, const int32_t* diagonal2, int count,
                        uint8_t* codes, int32_t* anisotropies);

// Smoothing rounds of a foreground pixel of the given anisotropy: SmoothLevelBase plus
// SmoothLevelScale x (min(A, AnisotropyHigh) - AnisotropyLow) / (AnisotropyHigh -
// AnisotropyLow) rounded half up (nothing below AnisotropyLow), kept within 0..7.
int SmoothLevel(const EngineParams& params, int32_t anisotropy);

// BinarySmoothPasses times: every pixel of image becomes its oriented-smoothing value along the
// direction estimated from the image as it was at the start of the pass (3 x 3 mean where
// there is no direction). In place.
bool ReSmoothBinary(const EngineParams* params, int width, int height, GrayImage image, int radius);

// Rewrites every DirectionImage code from image (keeping the background bit) and writes the
// smoothing level of every pixel into bits 0-2 of levelMap (its upper bits are kept): 0 on the
// background and within squared distance 9 of a singular point, otherwise SmoothLevelBase plus
// up to SmoothLevelScale rounds as the anisotropy rises from AnisotropyLow to AnisotropyHigh.
// Only Count, X and Y of singularPoints are read. image is not changed.
bool RefreshDirections(const EngineParams* params, int width, int height,
                       const uint8_t* const* image, GrayImage directionImage, GrayImage levelMap,
                       const SingularPointList* singularPoints, int radius);

// Smooths every pixel along its DirectionImage code as many times as its level (bits 0-2 of
// levelMap), in whole-image passes that each read the image as it was at the start of the
// pass; leaves every level at 0. Pixels of level 0 are never touched.
bool LevelSmooth(int width, int height, GrayImage image, const uint8_t* const* directionImage,
                 GrayImage levelMap);

}  // namespace ridgeline
