// Minutiae detection: scans the repaired skeleton (0 = ridge, 255 = white) for ridge endings and
// bifurcations, gives each a direction in degrees by tracing its ridge or ridges, measures how
// much the ridge direction varies around it, and appends it to the result's candidate arrays.
// Candidates without an established direction are stored with a negative mark. The skeleton is
// left exactly as found.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace ridgeline {

// Settings the pipeline passes.
constexpr int kMinutiaTraceLength = 20;
constexpr int kMinEndingTrace = 15;
constexpr int kMinBranchTrace = 10;
constexpr int kVariationRadius = 10;

// Rejection marks left in CandAngle.
constexpr int kShortRidgeMark = -20;    // ending on a short ridge; bifurcation without spread
constexpr int kJunctionPairMark = -30;  // both closest branches run into another junction
constexpr int kShortBranchMark = -666;  // bifurcation with a short branch

// Sets result->CandidateCount to 0, then appends every foreground ending (crossing number 1) and
// bifurcation (crossing number 3) of rows and columns 2 .. size - 3 that lies more than 6 pixels
// inside the image, in row order, while fewer than 1000 are stored.
// REQUIRES: skeleton and directionImage are width x height.
void DetectMinutiae(int width, int height, GrayImage skeleton, const uint8_t* const* directionImage,
                    ExtractionResult* result, int traceLength, int minEndingTrace,
                    int minBranchTrace, int variationRadius);

// Degrees from the ending (x, y) into its ridge, or kShortRidgeMark when the ridge is traced
// over fewer than minTrace of at most traceLength steps.
// REQUIRES: (x, y) inside the image; traceLength <= kMaxRidgeTrace.
int EndingDirection(const ImageView& skeleton, int y, int x, int traceLength, int minTrace);

// Degrees between the two closest of the three branches of the bifurcation (x, y), or one of
// the marks kShortRidgeMark, kJunctionPairMark, kShortBranchMark.
// REQUIRES: 1 <= x <= width - 2, 1 <= y <= height - 2; traceLength <= kMaxRidgeTrace.
int BifurcationDirection(const ImageView& skeleton, int y, int x, int traceLength, int minTrace);

// 0 .. 255: the mean folded difference between the direction at (x, y) and the directions of
// the (2 radius + 1)^2 window clipped to the image, scaled so that 255 means perpendicular
// everywhere; 0 when (x, y) has no direction. Pixels without a direction are left out.
int DirectionVariation(int width, int height, const uint8_t* const* directionImage, int y, int x,
                       int radius);

}  // namespace ridgeline
