// The block mask erosion: blocks whose neighbourhood holds too few well-oriented blocks become
// background in the block direction map.
#pragma once

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// For every block of the blockCols x blockRows grid, counts the blocks of its 3 x 3
// neighbourhood inside the grid (itself included) whose isotropy is below
// params.MaskIsotropyLimit; with 4 or fewer, sets the block's direction to 255 (background).
// blockIsotropyMap is only read, so the result does not depend on the visiting order; a corner
// block, with at most 4 neighbours in the grid, always becomes background.
// REQUIRES: both maps at least blockCols x blockRows.
void ErodeBlockMask(const EngineParams& params, int blockCols, int blockRows,
                    GrayImage blockDirectionMap, const uint8_t* const* blockIsotropyMap);

}  // namespace ridgeline
