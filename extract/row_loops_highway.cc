// The row loops of row_loops.h compiled once per instruction set (foreach_target.h) and
// dispatched at run time to the best one the processor supports. The loops are the shared
// plain ones (row_loops_inl.h): inside each target's namespace the compiler vectorises them
// with that target's lanes and instructions.
#include <algorithm>
#include <cassert>
#include <cstdint>

#include "extract/direction_from_variations.h"
#include "extract/row_loops.h"
#include "extract/window_sums.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "extract/row_loops_highway.cc"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace ridgeline {
namespace HWY_NAMESPACE {

#include "extract/row_loops_inl.h"

void EstimateWholeWindowsImpl(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                              const int32_t* w90, int begin, int end, int32_t threshold,
                              uint8_t* dir_out, uint8_t* iso_out) {
  EstimateWholeWindowsLoop(w0, w30, w60, w90, begin, end, threshold, dir_out, iso_out);
}

void EstimateClippedWindowsImpl(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                                const int32_t* w90, const int32_t* columns_in, int32_t rows_in,
                                int32_t area, int begin, int end, int32_t threshold,
                                uint8_t* dir_out, uint8_t* iso_out) {
  EstimateClippedWindowsLoop(w0, w30, w60, w90, columns_in, rows_in, area, begin, end, threshold,
                             dir_out, iso_out);
}

void BinarizeByClarityImpl(const uint8_t* source, const uint8_t* clarity, int32_t high, int32_t low,
                           const int32_t* const* sums, const int32_t* const* columns,
                           const int32_t* rows, int width, uint8_t* out) {
  BinarizeByClarityLoop(source, clarity, high, low, sums, columns, rows, width, out);
}

void BinarizeOneWindowImpl(const uint8_t* source, const int32_t* sum, const int32_t* columns,
                           int32_t rows, int width, uint8_t* out) {
  BinarizeOneWindowLoop(source, sum, columns, rows, width, out);
}

void BinarizeByClarity16Impl(const uint8_t* source, const uint8_t* clarity, int32_t high,
                             int32_t low, const uint16_t* const* sums,
                             const uint16_t* const* columns, const uint16_t* rows, int width,
                             uint8_t* out) {
  BinarizeByClarity16Loop(source, clarity, high, low, sums, columns, rows, width, out);
}

void BinarizeOneWindow16Impl(const uint8_t* source, const uint16_t* sum, const uint16_t* columns,
                             uint16_t rows, int width, uint8_t* out) {
  BinarizeOneWindow16Loop(source, sum, columns, rows, width, out);
}

void IntegralRow16Impl(const uint16_t* above, const uint8_t* row, int width, uint16_t* out) {
#if HWY_TARGET == HWY_SCALAR
  IntegralRow16Loop(above, row, width, out);
#else
  // Eight pixels a step, in one 128-bit block (where the lane shifts stay): the step's prefix
  // sum in three shifted adds, then the running total of the steps before, which is the only
  // value carried from one step to the next.
  namespace hn = hwy::HWY_NAMESPACE;
  const hn::CappedTag<uint16_t, 8> d;
  const hn::Rebind<uint8_t, decltype(d)> d8;
  static_assert(hn::MaxLanes(d) == 8);
  out[0] = above[0];
  auto carry = hn::Zero(d);
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    auto v = hn::PromoteTo(d, hn::LoadU(d8, row + x));
    v = hn::Add(v, hn::ShiftLeftLanes<1>(d, v));
    v = hn::Add(v, hn::ShiftLeftLanes<2>(d, v));
    v = hn::Add(v, hn::ShiftLeftLanes<4>(d, v));
    v = hn::Add(v, carry);
    carry = hn::Broadcast<7>(v);
    hn::StoreU(hn::Add(v, hn::LoadU(d, above + x + 1)), d, out + x + 1);
  }
  auto sum = static_cast<uint16_t>(hn::GetLane(carry));
  for (; x < width; ++x) {
    sum = static_cast<uint16_t>(sum + row[x]);
    out[x + 1] = static_cast<uint16_t>(above[x + 1] + sum);
  }
#endif
}

void BoxFromIntegralRows16Impl(const uint16_t* top, const uint16_t* bottom, int width, int radius,
                               uint16_t* out) {
  BoxFromIntegralRows16Loop(top, bottom, width, radius, out);
}

uint8_t LevelPassRowImpl(const uint8_t* direction, int width, uint8_t* levels, uint8_t* codes) {
  return LevelPassLoop(direction, width, levels, codes);
}

void MajorityRowImpl(const uint8_t* above, const uint8_t* middle, const uint8_t* below, int width,
                     uint16_t white_sum, uint16_t* column, uint8_t* out) {
  MajorityLoop(above, middle, below, width, white_sum, column, out);
}

void SumAlongRowImpl(const int32_t* column, int width, int radius, int32_t* row) {
#if HWY_TARGET == HWY_SCALAR
  SumAlongRowPlain(column, width, radius, row);
#else
  // The stretches of SumAlongRowPlain; the middle one (a column enters and one leaves at every
  // step) up to eight sums a vector: the differences' prefix sum within each 128-bit block in
  // two shifted adds, then the lower block's last sum added to the upper block. The running
  // sum of the vectors before (carry) is added last, and the vector's own total joins it by
  // one add, so the only dependence from one vector to the next is that add; the prefix sums
  // of successive vectors overlap in time. The lanes add modulo 2^32, so every sum that fits
  // in 32 bits comes out exact whatever the partial sums.
  namespace hn = hwy::HWY_NAMESPACE;
  assert(width > 0 && radius >= 0);
  const int r = radius;
  const int enter_end = std::clamp(width - r, 0, width);
  const int leave_start = std::min(r + 1, width);
  int32_t sum = 0;
  for (int c = 0; c < std::min(r, width); ++c) sum += column[c];
  int x = 0;
  for (; x < std::min(enter_end, leave_start); ++x) row[x] = sum += column[x + r];
  const hn::CappedTag<int32_t, 8> d;
  constexpr int kLanes = static_cast<int>(hn::MaxLanes(d));
  static_assert(kLanes == 4 || kLanes == 8, "one or two 128-bit blocks");
  auto carry = hn::Set(d, sum);
  for (; x + kLanes <= enter_end; x += kLanes) {
    auto v = hn::Sub(hn::LoadU(d, column + x + r), hn::LoadU(d, column + x - r - 1));
    v = hn::Add(v, hn::ShiftLeftLanes<1>(d, v));
    v = hn::Add(v, hn::ShiftLeftLanes<2>(d, v));
    const auto block_last = hn::Broadcast<3>(v);  // each block's total, in all its lanes
    auto total = block_last;
    if constexpr (kLanes == 8) {
      v = hn::Add(v, hn::ConcatLowerLower(d, block_last, hn::Zero(d)));
      // The whole vector's total, its last sum, in every lane (one lane-crossing permute).
      total = hn::TableLookupLanes(v, hn::IndicesFromVec(d, hn::Set(d, kLanes - 1)));
    }
    hn::StoreU(hn::Add(v, carry), d, row + x);
    carry = hn::Add(carry, total);
  }
  sum = hn::GetLane(carry);
  for (; x < enter_end; ++x) row[x] = sum += column[x + r] - column[x - r - 1];
  for (; x < leave_start; ++x) row[x] = sum;
  for (; x < width; ++x) row[x] = sum -= column[x - r - 1];
#endif
}

void SlideColumnSumsImpl(int32_t* sums, const uint8_t* in, const uint8_t* out, int width) {
  if (in != nullptr && out != nullptr) {
    ExchangeRowLoop(sums, in, out, width);
  } else if (in != nullptr) {
    AddRowLoop(sums, in, width);
  } else if (out != nullptr) {
    SubtractRowLoop(sums, out, width);
  }
}

void BoundaryDensityRowImpl(const int32_t* boundary, const int32_t* counted,
                            const uint8_t* direction, const int32_t* factor, int width,
                            uint8_t* out) {
  BoundaryDensityLoop(boundary, counted, direction, factor, width, out);
}

void BoundaryDensityPackedRowImpl(const int32_t* packed, const uint8_t* direction,
                                  const int32_t* factor, int width, uint8_t* out) {
  BoundaryDensityPackedLoop(packed, direction, factor, width, out);
}

void SlidePairedColumnSumsImpl(int32_t* sums, const uint8_t* in_low, const uint8_t* in_high,
                               const uint8_t* out_low, const uint8_t* out_high, int width) {
  SlidePairedLoop(sums, in_low, in_high, out_low, out_high, width);
}

void SlideVariationSumsImpl(const uint8_t* eu, const uint8_t* e, const uint8_t* ed,
                            const uint8_t* lu, const uint8_t* l, const uint8_t* ld, int width,
                            int32_t* s0, int32_t* s30, int32_t* s60, int32_t* s90) {
  SlideVariationsLoop(eu, e, ed, lu, l, ld, width, s0, s30, s60, s90);
}

void StretchRowImpl(const int32_t* sums, const uint8_t* source, const int32_t* columns_in,
                    int32_t rows_in, int begin, int end, uint8_t* mean_out) {
  StretchRowLoop(sums, source, columns_in, rows_in, begin, end, mean_out);
}

void PreBinarizeRowImpl(const int32_t* small_sums, const int32_t* large_sums, const uint8_t* source,
                        int begin, int end, uint32_t small_reciprocal, uint32_t large_reciprocal,
                        uint8_t* out) {
  PreBinarizeLoop(small_sums, large_sums, source, begin, end, small_reciprocal, large_reciprocal,
                  out);
}

void PreBinarize16RowImpl(const uint16_t* small_sums, const uint16_t* large_sums,
                          const uint8_t* source, int begin, int end, uint16_t small_multiplier,
                          int small_shift, uint16_t large_multiplier, int large_shift,
                          uint8_t* out) {
#if HWY_TARGET == HWY_SCALAR
  PreBinarize16Loop(small_sums, large_sums, source, begin, end, small_multiplier, small_shift,
                    large_multiplier, large_shift, out);
#else
  // Written out: the compiler widens the products to 32 bits rather than take their high
  // halves.
  namespace hn = hwy::HWY_NAMESPACE;
  const hn::ScalableTag<uint16_t> d16;
  const hn::RebindToSigned<decltype(d16)> di16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const int lanes = static_cast<int>(hn::Lanes(d16));
  if (end - begin < lanes) {
    PreBinarize16Loop(small_sums, large_sums, source, begin, end, small_multiplier, small_shift,
                      large_multiplier, large_shift, out);
    return;
  }
  const auto small_m = hn::Set(d16, small_multiplier);
  const auto large_m = hn::Set(d16, large_multiplier);
  // As ForEachBlock: the last vector ends at end, overlapping the one before.
  auto block = [&](int x) {
    const auto small_mean =
        hn::ShiftRightSame(hn::MulHigh(hn::LoadU(d16, small_sums + x), small_m), small_shift);
    const auto large_mean =
        hn::ShiftRightSame(hn::MulHigh(hn::LoadU(d16, large_sums + x), large_m), large_shift);
    const auto threshold = hn::ShiftRight<1>(hn::Add(small_mean, large_mean));
    const auto pixel = hn::PromoteTo(d16, hn::LoadU(d8, source + x));
    const auto white = hn::IfThenZeroElse(hn::Lt(pixel, threshold), hn::Set(d16, uint16_t{255}));
    hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di16, white)), d8, out + x);
  };
  int x = begin;
  for (; x + lanes <= end; x += lanes) block(x);
  if (x < end) block(end - lanes);
#endif
}

void MeanRowImpl(const int32_t* sums, const int32_t* columns_in, int32_t rows_in, int width,
                 uint8_t* out) {
  MeanRowLoop(sums, columns_in, rows_in, width, out);
}

void MeanRowByReciprocalImpl(const int32_t* sums, const uint32_t* reciprocals, int width,
                             uint8_t* out) {
  MeanByReciprocalLoop(sums, reciprocals, width, out);
}

void Mean3RowImpl(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int width,
                  int divisor, uint16_t* column, uint8_t* out) {
  if (divisor == 9) {
    Mean3RowLoop<9>(up, mid, down, width, column, out);
  } else {
    Mean3RowLoop<6>(up, mid, down, width, column, out);
  }
}

void CountBelowLimitImpl(int32_t* counts, const uint8_t* in, const uint8_t* out, int32_t limit,
                         int width) {
  CountBelowLimitLoop(counts, in, out, limit, width);
}

void ForegroundRowImpl(const int32_t* usable, int32_t needed, const uint8_t* near,
                       const uint8_t* iso, int width, uint8_t* dir, int32_t* sum, int32_t* count) {
  ForegroundRowLoop(usable, needed, near, iso, width, dir, sum, count);
}

void BoundaryIndicatorRowImpl(const uint8_t* above, const uint8_t* middle, const uint8_t* below,
                              const uint8_t* direction, int width, uint16_t* column,
                              uint8_t* is_foreground, uint8_t* is_boundary) {
  BoundaryIndicatorLoop(above, middle, below, direction, width, column, is_foreground, is_boundary);
}

void BoundaryCountRowImpl(const uint8_t* above, const uint8_t* middle, const uint8_t* below,
                          const uint8_t* direction, int width, int32_t* counted,
                          int32_t* boundary) {
  BoundaryCountLoop(above, middle, below, direction, width, counted, boundary);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace ridgeline
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ridgeline {

HWY_EXPORT(EstimateWholeWindowsImpl);
HWY_EXPORT(EstimateClippedWindowsImpl);
HWY_EXPORT(BinarizeByClarityImpl);
HWY_EXPORT(BinarizeOneWindowImpl);
HWY_EXPORT(SumAlongRowImpl);
HWY_EXPORT(MajorityRowImpl);
HWY_EXPORT(LevelPassRowImpl);
HWY_EXPORT(BinarizeByClarity16Impl);
HWY_EXPORT(BinarizeOneWindow16Impl);
HWY_EXPORT(IntegralRow16Impl);
HWY_EXPORT(BoxFromIntegralRows16Impl);
HWY_EXPORT(PreBinarizeRowImpl);
HWY_EXPORT(PreBinarize16RowImpl);
HWY_EXPORT(StretchRowImpl);
HWY_EXPORT(SlideVariationSumsImpl);
HWY_EXPORT(BoundaryDensityRowImpl);
HWY_EXPORT(SlideColumnSumsImpl);
HWY_EXPORT(BoundaryDensityPackedRowImpl);
HWY_EXPORT(SlidePairedColumnSumsImpl);
HWY_EXPORT(MeanRowImpl);
HWY_EXPORT(MeanRowByReciprocalImpl);
HWY_EXPORT(Mean3RowImpl);
HWY_EXPORT(CountBelowLimitImpl);
HWY_EXPORT(ForegroundRowImpl);
HWY_EXPORT(BoundaryIndicatorRowImpl);
HWY_EXPORT(BoundaryCountRowImpl);

void EstimateWholeWindows(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                          const int32_t* w90, int begin, int end, int32_t threshold,
                          uint8_t* dir_out, uint8_t* iso_out) {
  HWY_DYNAMIC_DISPATCH(EstimateWholeWindowsImpl)
  (w0, w30, w60, w90, begin, end, threshold, dir_out, iso_out);
}

void EstimateClippedWindows(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                            const int32_t* w90, const int32_t* columns_in, int32_t rows_in,
                            int32_t area, int begin, int end, int32_t threshold, uint8_t* dir_out,
                            uint8_t* iso_out) {
  HWY_DYNAMIC_DISPATCH(EstimateClippedWindowsImpl)
  (w0, w30, w60, w90, columns_in, rows_in, area, begin, end, threshold, dir_out, iso_out);
}

void BinarizeByClarity(const uint8_t* source, const uint8_t* clarity, int32_t high, int32_t low,
                       const int32_t* const sums[3], const int32_t* const columns[3],
                       const int32_t rows[3], int width, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BinarizeByClarityImpl)
  (source, clarity, high, low, sums, columns, rows, width, out);
}

void BinarizeOneWindow(const uint8_t* source, const int32_t* sum, const int32_t* columns,
                       int32_t rows, int width, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BinarizeOneWindowImpl)(source, sum, columns, rows, width, out);
}

void BinarizeByClarity(const uint8_t* source, const uint8_t* clarity, int32_t high, int32_t low,
                       const uint16_t* const sums[3], const uint16_t* const columns[3],
                       const uint16_t rows[3], int width, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BinarizeByClarity16Impl)
  (source, clarity, high, low, sums, columns, rows, width, out);
}

void BinarizeOneWindow(const uint8_t* source, const uint16_t* sum, const uint16_t* columns,
                       uint16_t rows, int width, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BinarizeOneWindow16Impl)(source, sum, columns, rows, width, out);
}

void IntegralRow16(const uint16_t* above, const uint8_t* row, int width, uint16_t* out) {
  HWY_DYNAMIC_DISPATCH(IntegralRow16Impl)(above, row, width, out);
}

void BoxFromIntegralRows16(const uint16_t* top, const uint16_t* bottom, int width, int radius,
                           uint16_t* out) {
  HWY_DYNAMIC_DISPATCH(BoxFromIntegralRows16Impl)(top, bottom, width, radius, out);
}

uint8_t LevelPassRow(const uint8_t* direction, int width, uint8_t* levels, uint8_t* codes) {
  return HWY_DYNAMIC_DISPATCH(LevelPassRowImpl)(direction, width, levels, codes);
}

void MajorityRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below, int width,
                 uint16_t white_sum, uint16_t* column, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(MajorityRowImpl)(above, middle, below, width, white_sum, column, out);
}

void SumAlongRow(const int32_t* column, int width, int radius, int32_t* row) {
  HWY_DYNAMIC_DISPATCH(SumAlongRowImpl)(column, width, radius, row);
}

void SlideColumnSums(int32_t* sums, const uint8_t* in, const uint8_t* out, int width) {
  HWY_DYNAMIC_DISPATCH(SlideColumnSumsImpl)(sums, in, out, width);
}

void BoundaryDensityRow(const int32_t* boundary, const int32_t* counted, const uint8_t* direction,
                        const int32_t* factor, int width, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BoundaryDensityRowImpl)(boundary, counted, direction, factor, width, out);
}

void BoundaryDensityPackedRow(const int32_t* packed, const uint8_t* direction,
                              const int32_t* factor, int width, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BoundaryDensityPackedRowImpl)(packed, direction, factor, width, out);
}

void SlidePairedColumnSums(int32_t* sums, const uint8_t* in_low, const uint8_t* in_high,
                           const uint8_t* out_low, const uint8_t* out_high, int width) {
  HWY_DYNAMIC_DISPATCH(SlidePairedColumnSumsImpl)(sums, in_low, in_high, out_low, out_high, width);
}

void SlideVariationSums(const uint8_t* eu, const uint8_t* e, const uint8_t* ed, const uint8_t* lu,
                        const uint8_t* l, const uint8_t* ld, int width, int32_t* s0, int32_t* s30,
                        int32_t* s60, int32_t* s90) {
  HWY_DYNAMIC_DISPATCH(SlideVariationSumsImpl)(eu, e, ed, lu, l, ld, width, s0, s30, s60, s90);
}

void StretchRow(const int32_t* sums, const uint8_t* source, const int32_t* columns_in,
                int32_t rows_in, int begin, int end, uint8_t* mean_out) {
  HWY_DYNAMIC_DISPATCH(StretchRowImpl)(sums, source, columns_in, rows_in, begin, end, mean_out);
}

void PreBinarizeRow(const int32_t* small_sums, const int32_t* large_sums, const uint8_t* source,
                    int begin, int end, uint32_t small_reciprocal, uint32_t large_reciprocal,
                    uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(PreBinarizeRowImpl)
  (small_sums, large_sums, source, begin, end, small_reciprocal, large_reciprocal, out);
}

void PreBinarizeRow(const uint16_t* small_sums, const uint16_t* large_sums, const uint8_t* source,
                    int begin, int end, uint16_t small_multiplier, int small_shift,
                    uint16_t large_multiplier, int large_shift, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(PreBinarize16RowImpl)
  (small_sums, large_sums, source, begin, end, small_multiplier, small_shift, large_multiplier,
   large_shift, out);
}

void MeanRow(const int32_t* sums, const int32_t* columns_in, int32_t rows_in, int width,
             uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(MeanRowImpl)(sums, columns_in, rows_in, width, out);
}

void MeanRowByReciprocal(const int32_t* sums, const uint32_t* reciprocals, int width,
                         uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(MeanRowByReciprocalImpl)(sums, reciprocals, width, out);
}

void Mean3Row(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int width, int divisor,
              uint16_t* column, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(Mean3RowImpl)(up, mid, down, width, divisor, column, out);
}

void CountBelowLimit(int32_t* counts, const uint8_t* in, const uint8_t* out, int32_t limit,
                     int width) {
  HWY_DYNAMIC_DISPATCH(CountBelowLimitImpl)(counts, in, out, limit, width);
}

void ForegroundRow(const int32_t* usable, int32_t needed, const uint8_t* near, const uint8_t* iso,
                   int width, uint8_t* dir, int32_t* sum, int32_t* count) {
  HWY_DYNAMIC_DISPATCH(ForegroundRowImpl)(usable, needed, near, iso, width, dir, sum, count);
}

void BoundaryIndicatorRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below,
                          const uint8_t* direction, int width, uint16_t* column,
                          uint8_t* is_foreground, uint8_t* is_boundary) {
  HWY_DYNAMIC_DISPATCH(BoundaryIndicatorRowImpl)
  (above, middle, below, direction, width, column, is_foreground, is_boundary);
}

void BoundaryCountRow(const uint8_t* above, const uint8_t* middle, const uint8_t* below,
                      const uint8_t* direction, int width, int32_t* counted, int32_t* boundary) {
  HWY_DYNAMIC_DISPATCH(BoundaryCountRowImpl)
  (above, middle, below, direction, width, counted, boundary);
}

}  // namespace ridgeline
#endif  // HWY_ONCE
