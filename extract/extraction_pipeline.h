// The extraction pipeline: from a grey image to the minutia candidates, the block direction map,
// the singular points and the boundary density of one ExtractionResult.
#pragma once

#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"
#include "extract/row_bands.h"

namespace ridgeline {

// Runs every stage in order on image (the caller's image, changed in place) and fills result.
// Returns MeanIsotropy (0..255), or -1 when a working image cannot be allocated (result is then
// left partly filled and must not be used).
// The local stages run in `bands` row bands on two threads (see extract/row_bands.h); the
// result is the same bit for bit for every band count, 1 runs everything on the calling thread.
// REQUIRES: 34 <= width, height <= 1024.
int RunExtractionPipeline(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                          ExtractionResult* result, int bands = 1);

// The stages the pipeline runs in row bands, each with the halo its reach needs; each gives
// exactly what the stage gives on the whole image, and returns false when the stage or the
// band set-up cannot allocate its memory.

// OrientedSmooth of image along directionImage, then EstimatePixelDirections of the result
// (the pipeline's window) into image and directionImage.
bool SmoothAndEstimateDirectionsInBands(RowBands& bands, int width, int height, GrayImage image,
                                        GrayImage directionImage, int pixelContrastThreshold);
// OrientedSmooth of image along directionImage, then (adaptive binarisation) the clarity map in
// clarityMap: PreBinarize, MakeBoundaryDensityMap, BoxMean; then the first binarisation.
bool BinarizeFirstInBands(RowBands& bands, const EngineParams* params, int width, int height,
                          GrayImage image, GrayImage clarityMap, GrayImage directionImage);
// The second binarisation of image with clarityMap when binarize, then MajorityFilter.
bool BinarizeAndFilterInBands(RowBands& bands, const EngineParams* params, int width, int height,
                              GrayImage image, GrayImage clarityMap, bool binarize);
bool ReSmoothBinaryInBands(RowBands& bands, const EngineParams* params, int width, int height,
                           GrayImage image);
bool RefreshDirectionsInBands(RowBands& bands, const EngineParams* params, int width, int height,
                              GrayImage image, GrayImage directionImage, GrayImage levelMap,
                              const SingularPointList& singularPoints);
bool LevelSmoothInBands(RowBands& bands, int width, int height, GrayImage image,
                        GrayImage directionImage, GrayImage levelMap);

// Sets every block of the corrected map within squared block distance 1 of a candidate to "no
// direction", and every other block within squared distance 5 back to its unmasked direction.
void CalmAroundCandidates(int blockCols, int blockRows, const SingularPointList& candidates,
                          GrayImage correctedDirectionMap,
                          const uint8_t* const* unmaskedDirectionMap);

// Every pixel of directionImage takes the code of its block in blockMap.
void SpreadBlockDirections(int width, int height, const uint8_t* const* blockMap,
                           GrayImage directionImage);

// Fills the result's 64 x 64 map with 255 and copies the whole-block grid into it.
void FillResultMap(int wholeCols, int wholeRows, const uint8_t* const* blockDirectionMap,
                   ExtractionResult* result);

}  // namespace ridgeline
