// The row form of the direction estimate (direction_estimate_row.h) and the row loops of its
// gradient windows (gradient_window_rows.h) at the widest vectors the processor has, chosen at
// run time; every choice gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "extract/direction_refresh_row.h"
#include "extract/gradient_window_rows.h"

namespace ridgeline {

// direction_estimate::EstimateLanes<false>: the codes of a row. REQUIRES: sums >= 0, < 2^24.
void EstimateCodesVector(const int32_t* horizontal, const int32_t* diagonal1,
                         const int32_t* vertical, const int32_t* diagonal2, int count,
                         uint8_t* codes);

// direction_estimate::EstimateLanes<true>: codes and anisotropies of a row, the anisotropies
// clamped to 0 .. 255.
// REQUIRES: sums >= 0 and below direction_estimate::kRowEstimateLimit.
void EstimateRowVector(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                       const int32_t* diagonal2, int count, uint8_t* codes, int32_t* anisotropies);

// gradient_rows::GradientRow with the blocks of row sums it leaves nonzero (RowSumBlocks),
// StepColumnRanges (both forms) and BoxRow (both forms) (gradient_window_rows.h).
gradient_rows::BlockRange GradientRowVector(const uint8_t* above, const uint8_t* row,
                                            const uint8_t* below, int width, size_t stride,
                                            int radius, uint16_t* out);
void StepColumnsVector(uint32_t* column, const uint16_t* entering, gradient_rows::BlockRange in,
                       const uint16_t* leaving, gradient_rows::BlockRange out, size_t plane_stride);
void StepColumnsVector(uint32_t* column, const uint32_t* entering, gradient_rows::BlockRange in,
                       const uint32_t* leaving, gradient_rows::BlockRange out, size_t plane_stride);
void BoxRowVector(const uint16_t* gradients, size_t stride, gradient_rows::BlockRange blocks,
                  gradient_rows::WindowSplit split, uint16_t* runs, uint16_t* out,
                  size_t out_stride);
void BoxRowVector(const uint16_t* gradients, size_t stride, gradient_rows::BlockRange blocks,
                  gradient_rows::WindowSplit split, uint32_t* runs, uint32_t* out,
                  size_t out_stride);

// refresh_row::RefreshRow. REQUIRES: steps.monotone.
void RefreshRowVector(const refresh_row::LevelSteps& steps, const uint8_t* codes,
                      const int32_t* anisotropies, const uint8_t* spared, int width,
                      uint8_t* direction, uint8_t* level);

}  // namespace ridgeline
