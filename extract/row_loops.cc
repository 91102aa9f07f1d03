// The row loops for builds without Highway (the Windows DLL, the fuzz build): the shared loops
// as the compiler vectorises them for the baseline instruction set.
#include "extract/row_loops.h"

#if !RIDGELINE_HIGHWAY
#include <algorithm>
#include <cstdint>

#include "extract/direction_from_variations.h"
#include "extract/window_sums.h"

namespace ridgeline {
namespace {
#include "extract/row_loops_inl.h"
}  // namespace

void EstimateWholeWindows(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                          const int32_t* w90, int begin, int end, int32_t threshold,
                          uint8_t* dir_out, uint8_t* iso_out) {
  EstimateWholeWindowsLoop(w0, w30, w60, w90, begin, end, threshold, dir_out, iso_out);
}

void EstimateClippedWindows(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                            const int32_t* w90, const int32_t* columns_in, int32_t rows_in,
                            int32_t area, int begin, int end, int32_t threshold, uint8_t* dir_out,
                            uint8_t* iso_out) {
  EstimateClippedWindowsLoop(w0, w30, w60, w90, columns_in, rows_in, area, begin, end, threshold,
                             dir_out, iso_out);
}

void BinarizeByClarity(const uint8_t* source, const uint8_t* clarity, int32_t high, int32_t low,
                       const int32_t* const sums[3], const int32_t* const columns[3],
                       const int32_t rows[3], int width, uint8_t* out) {
  BinarizeByClarityLoop(source, clarity, high, low, sums, columns, rows, width, out);
}

void BinarizeOneWindow(const uint8_t* source, const int32_t* sum, const int32_t* columns,
                       int32_t rows, int width, uint8_t* out) {
  BinarizeOneWindowLoop(source, sum, columns, rows, width, out);
}

void BinarizeByClarity(const uint8_t* source, const uint8_t* clarity, int32_t high, int32_t low,
                       const uint16_t* const sums[3], const uint16_t* const columns[3],
                       const uint16_t rows[3], int width, uint8_t* out) {
  BinarizeByClarity16Loop(source, clarity, high, low, sums, columns, rows, width, out);
}

void BinarizeOneWindow(const uint8_t* source, const uint16_t* sum, const uint16_t* columns,
                       uint16_t rows, int width, uint8_t* out) {
  BinarizeOneWindow16Loop(source, sum, columns, rows, width, out);
}

void IntegralRow16(const uint16_t* above, const uint8_t* row, int width, uint16_t* out) {
  IntegralRow16Loop(above, row, width, out);
}

void BoxFromIntegralRows16(const uint16_t* top, const uint16_t* bottom, int width, int radius,
                           uint16_t* out) {
  BoxFromIntegralRows16Loop(top, bottom, width, radius, out);
}

uint8_t LevelPassRow(const uint8_t* direction, int width, uint8_t* levels, uint8_t* codes) {
  return LevelPassLoop(direction, width, levels, codes);
}

void MajorityRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below, int width,
                 uint16_t white_sum, uint16_t* column, uint8_t* out) {
  MajorityLoop(above, middle, below, width, white_sum, column, out);
}

void SumAlongRow(const int32_t* column, int width, int radius, int32_t* row) {
  SumAlongRowPlain(column, width, radius, row);
}

void SlideColumnSums(int32_t* sums, const uint8_t* in, const uint8_t* out, int width) {
  if (in != nullptr && out != nullptr) {
    ExchangeRowLoop(sums, in, out, width);
  } else if (in != nullptr) {
    AddRowLoop(sums, in, width);
  } else if (out != nullptr) {
    SubtractRowLoop(sums, out, width);
  }
}

void BoundaryDensityRow(const int32_t* boundary, const int32_t* counted, const uint8_t* direction,
                        const int32_t* factor, int width, uint8_t* out) {
  BoundaryDensityLoop(boundary, counted, direction, factor, width, out);
}

void BoundaryDensityPackedRow(const int32_t* packed, const uint8_t* direction,
                              const int32_t* factor, int width, uint8_t* out) {
  BoundaryDensityPackedLoop(packed, direction, factor, width, out);
}

void SlidePairedColumnSums(int32_t* sums, const uint8_t* in_low, const uint8_t* in_high,
                           const uint8_t* out_low, const uint8_t* out_high, int width) {
  SlidePairedLoop(sums, in_low, in_high, out_low, out_high, width);
}

void SlideVariationSums(const uint8_t* eu, const uint8_t* e, const uint8_t* ed, const uint8_t* lu,
                        const uint8_t* l, const uint8_t* ld, int width, int32_t* s0, int32_t* s30,
                        int32_t* s60, int32_t* s90) {
  SlideVariationsLoop(eu, e, ed, lu, l, ld, width, s0, s30, s60, s90);
}

void StretchRow(const int32_t* sums, const uint8_t* source, const int32_t* columns_in,
                int32_t rows_in, int begin, int end, uint8_t* mean_out) {
  StretchRowLoop(sums, source, columns_in, rows_in, begin, end, mean_out);
}

void PreBinarizeRow(const int32_t* small_sums, const int32_t* large_sums, const uint8_t* source,
                    int begin, int end, uint32_t small_reciprocal, uint32_t large_reciprocal,
                    uint8_t* out) {
  PreBinarizeLoop(small_sums, large_sums, source, begin, end, small_reciprocal, large_reciprocal,
                  out);
}

void PreBinarizeRow(const uint16_t* small_sums, const uint16_t* large_sums, const uint8_t* source,
                    int begin, int end, uint16_t small_multiplier, int small_shift,
                    uint16_t large_multiplier, int large_shift, uint8_t* out) {
  PreBinarize16Loop(small_sums, large_sums, source, begin, end, small_multiplier, small_shift,
                    large_multiplier, large_shift, out);
}

void MeanRow(const int32_t* sums, const int32_t* columns_in, int32_t rows_in, int width,
             uint8_t* out) {
  MeanRowLoop(sums, columns_in, rows_in, width, out);
}

void MeanRowByReciprocal(const int32_t* sums, const uint32_t* reciprocals, int width,
                         uint8_t* out) {
  MeanByReciprocalLoop(sums, reciprocals, width, out);
}

void Mean3Row(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int width, int divisor,
              uint16_t* column, uint8_t* out) {
  if (divisor == 9) {
    Mean3RowLoop<9>(up, mid, down, width, column, out);
  } else {
    Mean3RowLoop<6>(up, mid, down, width, column, out);
  }
}

void CountBelowLimit(int32_t* counts, const uint8_t* in, const uint8_t* out, int32_t limit,
                     int width) {
  CountBelowLimitLoop(counts, in, out, limit, width);
}

void ForegroundRow(const int32_t* usable, int32_t needed, const uint8_t* near, const uint8_t* iso,
                   int width, uint8_t* dir, int32_t* sum, int32_t* count) {
  ForegroundRowLoop(usable, needed, near, iso, width, dir, sum, count);
}

void BoundaryIndicatorRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below,
                          const uint8_t* direction, int width, uint16_t* column,
                          uint8_t* is_foreground, uint8_t* is_boundary) {
  BoundaryIndicatorLoop(above, middle, below, direction, width, column, is_foreground, is_boundary);
}

void BoundaryCountRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below,
                      const uint8_t* direction, int width, int32_t* counted, int32_t* boundary) {
  BoundaryCountLoop(above, middle, below, direction, width, counted, boundary);
}

}  // namespace ridgeline
#endif  // !RIDGELINE_HIGHWAY
