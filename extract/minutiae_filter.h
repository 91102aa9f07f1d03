// Minutiae filtering, the last stage of extraction: marks candidates that lie in crowded
// clusters, close pairs that face each other, candidates near the image edge or the background
// and, on prints of good orientation quality, candidates whose surroundings show too little
// ridge contrast in the untouched grey image. CompactCandidates then drops every candidate with
// a negative CandAngle, keeping the order of the rest.
#pragma once

#include <array>
#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// Rejection marks left in CandAngle.
constexpr int kCrowdedMark = -15;
constexpr int kFacingPairMark = -45;
constexpr int kEdgeMark = -25;
constexpr int kLowContrastMark = -1;

// The contrast test runs only while the pipeline's MeanIsotropy is below this (lower is better).
constexpr int kContrastIsotropyLimit = 96;

// floor(100 sin t + 0.5) and floor(100 cos t + 0.5) for t = 0 .. 359 degrees.
extern const int8_t kSinTable100[360];
extern const int8_t kCosTable100[360];

// A square of grey values sampled around a candidate: columns along its direction, rows across.
constexpr int kPatchSize = 30;
using Patch = std::array<std::array<uint8_t, kPatchSize>, kPatchSize>;

// Marks rejected candidates in result (CandAngle -15, -45, -25 or -1); candidates already
// negative stay as they are except that crowding marks every crowded candidate. inputCopy is the
// untouched grey image, null when params.ContrastCheck is 0 (the contrast test is then skipped).
// REQUIRES: candidates in row order (CandY non-decreasing), as detection stores them; the
// images are width x height.
void FilterMinutiae(const EngineParams& params, int width, int height,
                    const uint8_t* const* inputCopy, const uint8_t* const* directionImage,
                    ExtractionResult* result, uint8_t meanIsotropy);

// Moves every candidate with CandAngle >= 0 forward over the rejected ones (all five arrays)
// and sets CandidateCount to their number.
void CompactCandidates(ExtractionResult* result);

// Samples the patch around (x, y) turned to the direction angle (0 .. 359 degrees, any other
// non-negative angle taken modulo 360): element (j, k) is the pixel at
// x + (-15 cos - 15 sin + j sin + k cos) / 100, y + (15 sin - 15 cos + j cos - k sin) / 100
// (sine and cosine from the tables, divisions truncated), 255 where that lies outside the image.
void SamplePatch(int width, int height, const uint8_t* const* image, int x, int y, int angle,
                 Patch* patch);

// 3 x 3 mean of the inner 28 x 28 elements; the border rows and then columns copy their inner
// neighbours. work receives the unsmoothed patch.
void SmoothPatch(Patch* patch, Patch* work);

// True when the clipped row-to-row differences of the patch are too weak in its top, bottom,
// left or right half, or too weak in total.
bool PatchLacksContrast(const Patch& patch);

}  // namespace ridgeline
