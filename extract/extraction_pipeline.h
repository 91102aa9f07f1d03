// The extraction pipeline: from a grey image to the minutia candidates, the block direction map,
// the singular points and the boundary density of one ExtractionResult.
#pragma once

#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// Runs every stage in order on image (the caller's image, changed in place) and fills result.
// Returns MeanIsotropy (0..255), or -1 when a working image cannot be allocated (result is then
// left partly filled and must not be used).
// REQUIRES: 34 <= width, height <= 1024.
int RunExtractionPipeline(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                          ExtractionResult* result);

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
