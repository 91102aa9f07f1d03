// The block direction field: the ridge direction and isotropy of every 16 x 16 block of the
// pre-processed image, and a copy of the directions in which blocks that stray from the coarse
// field (cells of 2 x 2 blocks) are replaced by the coarse direction.
#pragma once

#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// Estimates the fine field over the blockCols x blockRows grid (partial blocks at the right and
// bottom included) from image (width x height, only read).
// Writes: blockDirectionMap (DirectionCode or 127), blockIsotropyMap (0..255) and
// correctedDirectionMap (the fine codes with outliers replaced by their cell's coarse code).
// coarseDirectionField, when not null, receives the coarse codes over ceil(blockCols / 2) x
// ceil(blockRows / 2) cells; the pipeline passes null (the field is a diagnostic only).
// Reads params.ContrastThreshold. Returns false, with none of the three maps written, when its
// working arrays cannot be allocated.
// REQUIRES: blockCols == ceil(width / blockSize), blockRows == ceil(height / blockSize), and the
// maps are at least blockCols x blockRows.
bool EstimateBlockDirections(const EngineParams& params, int width, int height,
                             const uint8_t* const* image, int blockCols, int blockRows,
                             int blockSize, GrayImage blockDirectionMap,
                             GrayImage correctedDirectionMap, GrayImage blockIsotropyMap,
                             GrayImage coarseDirectionField = nullptr);

// True when a fine code is replaced by its cell's coarse code: the fine code lies outside the
// arc of +-15 codes around the coarse one. Where the arc wraps past code 0 the bounds are
// inclusive (a code exactly 15 away is replaced), elsewhere exclusive.
// REQUIRES: both codes in 0..119.
bool StraysFromCoarse(int fineCode, int coarseCode);

}  // namespace ridgeline
