// Per-row loops of the pixel directions and the binarisation, dispatched at run time to the
// widest instruction set the processor has when the engine is built with Highway, and plain
// vectorised loops otherwise. Each gives the same bytes on every instruction set.
#pragma once

#include <cstdint>

namespace ridgeline {

// The column sums s0, s30, s60, s90 of the four single-pixel variations (along codes 0, 30, 60
// and 90, unscaled) over columns 1 .. width - 2: adds those of row e (its neighbour rows eu
// above and ed below) and removes those of row l (lu, ld); e null: only removes; l null: only
// adds.
void SlideVariationSums(const uint8_t* eu, const uint8_t* e, const uint8_t* ed, const uint8_t* lu,
                        const uint8_t* l, const uint8_t* ld, int width, int32_t* s0, int32_t* s30,
                        int32_t* s60, int32_t* s90);

// Direction codes and isotropies of pixels begin .. end - 1 of a row whose windows lie wholly
// off the border, from the window sums of the four variations (w30 and w90 not yet scaled by
// 71 / 100): DirectionFromVariations32 of each pixel.
// REQUIRES: every sum times 71 below 2^31, every scaled sum <= kMaxVariation32.
void EstimateWholeWindows(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                          const int32_t* w90, int begin, int end, int32_t threshold,
                          uint8_t* dir_out, uint8_t* iso_out);

// The loops above and below run in blocks of this many pixels; a stretch shorter than a block
// goes to the compiler's scalar remainder, so a caller that may as well compute some pixels more
// widens short stretches to a block.
constexpr int kRowLoopBlock = 32;

// The same for pixels begin .. end - 1 of any row: a window of n = rows_in x columns_in[x]
// non-border pixels, neither the whole area nor empty, counts as if it were whole (each sum
// times area / n, truncated, the diagonal ones after their scaling).
// REQUIRES: area x (every sum) < 2^31, area x 510 <= kMaxVariation32, every sum <= n x 510.
void EstimateClippedWindows(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                            const int32_t* w90, const int32_t* columns_in, int32_t rows_in,
                            int32_t area, int begin, int end, int32_t threshold, uint8_t* dir_out,
                            uint8_t* iso_out);

// out[x] = 255 where source[x] >= floor(S / C) for the sum S and pixel count
// C = columns[i][x] * rows[i] of window i, else 0, with i = 0 where clarity[x] >= high, else 1
// where clarity[x] >= low, else 2.
// REQUIRES: 256 C < 2^31 for every window.
void BinarizeByClarity(const uint8_t* source, const uint8_t* clarity, int32_t high, int32_t low,
                       const int32_t* const sums[3], const int32_t* const columns[3],
                       const int32_t rows[3], int width, uint8_t* out);
// The same against one window.
void BinarizeOneWindow(const uint8_t* source, const int32_t* sum, const int32_t* columns,
                       int32_t rows, int width, uint8_t* out);

// The same two tests on the 16-bit sums and column counts of windows of at most 15 x 15
// pixels (NarrowWindowSums).
void BinarizeByClarity(const uint8_t* source, const uint8_t* clarity, int32_t high, int32_t low,
                       const uint16_t* const sums[3], const uint16_t* const columns[3],
                       const uint16_t rows[3], int width, uint8_t* out);
void BinarizeOneWindow(const uint8_t* source, const uint16_t* sum, const uint16_t* columns,
                       uint16_t rows, int width, uint8_t* out);

// out[x] = boundary[x] 255 / counted[x] (0 where counted[x] is 0) times factor[direction[x] &
// 127] / 100, both quotients truncated.
// REQUIRES: 0 <= boundary[x] <= counted[x], boundary[x] 255 < 2^31; factor has 128 entries
// from 0 to 100.
void BoundaryDensityRow(const int32_t* boundary, const int32_t* counted, const uint8_t* direction,
                        const int32_t* factor, int width, uint8_t* out);

// The same from packed sums: counted[x] = packed[x] & 0xFFFF, boundary[x] = packed[x] >> 16.
// REQUIRES: boundary[x] <= counted[x]; factor as above.
void BoundaryDensityPackedRow(const int32_t* packed, const uint8_t* direction,
                              const int32_t* factor, int width, uint8_t* out);

// Packed column sums of two indicator rows (bytes of at most 255): sums[x] += low[x] +
// high[x] 2^16 for the rows entering, minus the same for the rows leaving; in_low / in_high,
// or out_low / out_high, may both be null. Each half of a sum holds a count while it stays
// below 2^16.
void SlidePairedColumnSums(int32_t* sums, const uint8_t* in_low, const uint8_t* in_high,
                           const uint8_t* out_low, const uint8_t* out_high, int width);

// The contrast stretch of pixels begin .. end - 1 of a row, the window of pixel x holding
// count = columns_in[x] x rows_in pixels: with the mean deviation d = sums[x] / count and the band
// lo = max(m - d, 0) .. hi = min(m + d, 255) around the mean m = mean_out[x], mean_out[x]
// becomes 0 for source[x] <= lo, 255 for source[x] >= hi, (source[x] - lo) 255 / (hi - lo)
// between (truncated), or source[x] when the band is empty.
// REQUIRES: 0 <= sums[x] < 2^31; every count > 0 and below 2^31.
void StretchRow(const int32_t* sums, const uint8_t* source, const int32_t* columns_in,
                int32_t rows_in, int begin, int end, uint8_t* mean_out);

// out[x] = 255 where source[x] >= (S_l m_l / 2^32 + S_s m_s / 2^32) / 2 (each product
// truncated), else 0, for pixels begin .. end - 1; S_s, S_l the small and the large window sums
// and m_s, m_l the reciprocals ceil(2^32 / count) of their pixel counts.
// REQUIRES: both counts at least 2 (reciprocals below 2^32).
void PreBinarizeRow(const int32_t* small_sums, const int32_t* large_sums, const uint8_t* source,
                    int begin, int end, uint32_t small_reciprocal, uint32_t large_reciprocal,
                    uint8_t* out);

// The same on the 16-bit sums of NarrowWindowSums, each mean ((S m) >> 16) >> shift for the
// multiplier and shift of a NarrowDivider exact over the window's sums.
void PreBinarizeRow(const uint16_t* small_sums, const uint16_t* large_sums, const uint8_t* source,
                    int begin, int end, uint16_t small_multiplier, int small_shift,
                    uint16_t large_multiplier, int large_shift, uint8_t* out);

// Window means of a row: out[x] = sums[x] / (columns_in[x] rows_in), truncated.
// REQUIRES: 0 <= sums[x] <= 255 x that count, every count > 0 and below 2^16.
void MeanRow(const int32_t* sums, const int32_t* columns_in, int32_t rows_in, int width,
             uint8_t* out);
// The same with the divisions done as multiplications: out[x] = (sums[x] reciprocals[x]) >> 32
// for reciprocals[x] = ceil(2^32 / count of pixel x).
// REQUIRES: every count >= 2 with 255 count^2 < 2^32; 0 <= sums[x] <= 255 x that count.
void MeanRowByReciprocal(const int32_t* sums, const uint32_t* reciprocals, int width, uint8_t* out);

// out[x] = the sum of up, mid and down over columns x - 1 .. x + 1, divided by divisor
// (truncated), for x = 1 .. width - 2; column: scratch of width entries, on return the three
// rows' sum of each column. out may be none of the three rows.
// REQUIRES: divisor is 6 or 9.
void Mean3Row(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int width, int divisor,
              uint16_t* column, uint8_t* out);

// counts[x] += (in[x] < limit) - (out[x] < limit) for x < width; in or out may be null.
void CountBelowLimit(int32_t* counts, const uint8_t* in, const uint8_t* out, int32_t limit,
                     int width);

// The foreground mask of a row: pixel x is foreground when usable[x] > needed or near[x] is 1
// (near holds 0 or 1), and every other pixel gets kBackgroundBit set in dir[x]; the foreground
// pixels' iso[x] are added to *sum and their number to *count.
// REQUIRES: width x 255 < 2^31.
void ForegroundRow(const int32_t* usable, int32_t needed, const uint8_t* near, const uint8_t* iso,
                   int width, uint8_t* dir, int32_t* sum, int32_t* count);

// The boundary indicators of columns 1 .. width - 2 of a binary row (0 / 255 pixels) between
// the rows above and below: is_foreground[x] = 1 where the background bit of direction[x] is
// clear, is_boundary[x] = 1 where such a pixel's 3 x 3 block holds both values, else 0.
// column: scratch of width entries. Columns 0 and width - 1 are not written.
void BoundaryIndicatorRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below,
                          const uint8_t* direction, int width, uint16_t* column,
                          uint8_t* is_foreground, uint8_t* is_boundary);

// Adds to *counted the number of columns 1 .. width - 2 of that row whose background bit is
// clear, and to *boundary those of them whose 3 x 3 block holds both values.
// REQUIRES: width < 2^31 - the counts already held.
void BoundaryCountRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below,
                      const uint8_t* direction, int width, int32_t* counted, int32_t* boundary);

// The 3 x 3 majority of a binary row (0 / 255 pixels) between the rows above and below:
// out[x] = 255 where the block around x sums to at least white_sum, else 0, for x = 1 ..
// width - 2; column: scratch of width entries. out may be none of the three rows.
// REQUIRES: width >= 3; white_sum <= 9 x 255.
void MajorityRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below, int width,
                 uint16_t white_sum, uint16_t* column, uint8_t* out);

// One pass of the level smoothing over a row: a pixel whose level (the low three bits of
// levels[x]) is 0 gets codes[x] = 0xFF (kept), the others codes[x] = direction[x] & 0x7F and
// their level lowered by one. Returns the or of the lowered levels (0 when the row has no
// round left).
uint8_t LevelPassRow(const uint8_t* direction, int width, uint8_t* levels, uint8_t* codes);

}  // namespace ridgeline
