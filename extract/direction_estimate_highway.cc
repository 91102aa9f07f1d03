// The row form of the direction estimate and the row loops of its gradient windows, compiled
// once per instruction set (foreach_target.h) and dispatched at run time to the best one the
// processor supports: the loops are the same, the vectoriser makes them as wide as each set
// allows.
#include <cstddef>
#include <cstdint>

#include "core/constants.h"

#include "extract/direction_estimate_row.h"
#include "extract/direction_estimate_vector.h"
#include "extract/direction_refresh_row.h"
#include "extract/gradient_window_rows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "extract/direction_estimate_highway.cc"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace ridgeline {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
void EstimateCodesImpl(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                       const int32_t* diagonal2, int count, uint8_t* codes) {
  direction_estimate::EstimateLanes<false>(horizontal, diagonal1, vertical, diagonal2, count, codes,
                                           nullptr);
}
#else
using DI = hn::ScalableTag<int32_t>;
using VI = hn::Vec<DI>;

// floor(71 x / 100) in every lane (the diagonals' scaling), for 0 <= x < 2^24: the high half of
// x times 0.71 x 2^32 rounded up (kScale71). That overshoots 71 x / 100 by under
// 0.84 x / 2^32 < 0.004, and 71 x / 100 lies at least 0.01 below the next whole number, so the
// whole part is exact. Two multiplies of 32 by 32 bits (even and odd lanes) and no shifts of
// the product: the odd lanes' high halves are already in place.
constexpr uint32_t kScale71 = 3049426781u;
static_assert(uint64_t{kScale71} * 100 >= uint64_t{71} << 32 &&
                  uint64_t{kScale71 - 1} * 100 < uint64_t{71} << 32,
              "kScale71 must be 0.71 x 2^32 rounded up");

HWY_INLINE VI ScaleDiagonal(VI x) {
  const DI d;
  const hn::RebindToUnsigned<DI> du;
  const hn::Repartition<uint64_t, DI> d64;
  const auto scale = hn::Set(du, kScale71);
  const auto xu = hn::BitCast(du, x);
  const auto even = hn::ShiftRight<32>(hn::MulEven(xu, scale));
  const auto odd = hn::MulEven(hn::BitCast(du, hn::ShiftRight<32>(hn::BitCast(d64, xu))), scale);
  return hn::BitCast(d, hn::OddEven(hn::BitCast(du, odd), hn::BitCast(du, even)));
}

// 3 x + y.
HWY_INLINE VI TriplePlus(VI x, VI y) { return hn::Add(hn::Add(hn::Add(x, x), x), y); }

// EstimateLanes<false> of one vector of window sums, in explicit vectors: the loop the compiler
// makes of it works 64 pixels at a time (to fill a vector of byte codes) and keeps half its
// values on the stack. Here each sector's interpolation numerator is formed from two shared
// differences and selected with its base, and the sector offset's quotient comes from the
// approximate reciprocal (relative error under 2^-11 on every x86 set, so the float quotient of
// at most 60 is within 0.03 of the true one) corrected by one step either way as in
// SmallQuotient: the remainder size - k divisor, exact in 32 bits as it lies in
// [-divisor, 2 divisor), says whether k is one too high or too low.
HWY_INLINE VI EstimateCodeLanes(VI h, VI diagonal1, VI v, VI diagonal2) {
  const DI d;
  const hn::RebindToFloat<DI> df;
  const VI d1 = ScaleDiagonal(diagonal1);
  const VI d2 = ScaleDiagonal(diagonal2);
  const VI most = hn::Max(hn::Max(h, d1), hn::Max(v, d2));
  // The sector: the first of the neighbour pairs with the smallest sum (strict compares keep
  // the first on a tie), as EstimateLanes picks it.
  auto pair = hn::Add(v, d1);
  const auto second = hn::Lt(hn::Add(v, d2), pair);
  pair = hn::Min(pair, hn::Add(v, d2));
  const auto third = hn::Lt(hn::Add(h, d2), pair);
  pair = hn::Min(pair, hn::Add(h, d2));
  const auto fourth = hn::Lt(hn::Add(h, d1), pair);
  // 3 (p - s) - q + r of each sector: 45 (d2, d1, v, h) is 3 a + b, 105 (d1, d2, h, v) is
  // -(3 b + a); 75 (h, v, d2, d1) is 3 c + e, 15 (v, h, d1, d2) is -(3 e + c).
  const VI a = hn::Sub(d2, h);
  const VI b = hn::Sub(v, d1);
  const VI c = hn::Sub(h, d1);
  const VI e = hn::Sub(d2, v);
  VI num = TriplePlus(a, b);
  VI base = hn::Set(d, 45);
  num = hn::IfThenElse(second, TriplePlus(c, e), num);
  base = hn::IfThenElse(second, hn::Set(d, 75), base);
  num = hn::IfThenElse(third, hn::Neg(TriplePlus(b, a)), num);
  base = hn::IfThenElse(third, hn::Set(d, 105), base);
  num = hn::IfThenElse(fourth, hn::Neg(TriplePlus(e, c)), num);
  base = hn::IfThenElse(fourth, hn::Set(d, 15), base);

  // n = h + v + d1 + d2 - 4 most <= 0, 0 only when all four are equal (no direction, and the
  // quotient by 1 taken instead is not used). The offset is the quotient of 15 num by n,
  // rounded toward zero: -sign(num) floor(15 |num| / -n).
  const VI n = hn::Sub(hn::Add(hn::Add(h, v), hn::Add(d1, d2)), hn::ShiftLeft<2>(most));
  const auto flat = hn::Eq(n, hn::Zero(d));
  const VI divisor = hn::Max(hn::Neg(n), hn::Set(d, 1));
  const VI size = hn::Mul(hn::Abs(num), hn::Set(d, direction_estimate::kSectorHalf));
  // The float quotient rounded to a whole number by adding 2^23 (its lowest bits are then the
  // whole number; the quotient is far below 2^22), which is within one of the floor as well, and
  // takes one add instead of a conversion with its overflow fix-ups.
  const auto rounder = hn::Set(df, 8388608.0f);
  const auto estimate = hn::MulAdd(hn::ConvertTo(df, size),
                                   hn::ApproximateReciprocal(hn::ConvertTo(df, divisor)), rounder);
  VI k = hn::Sub(hn::BitCast(d, estimate), hn::BitCast(d, rounder));
  const VI one = hn::Set(d, 1);
  const VI rest = hn::Sub(size, hn::Mul(k, divisor));
  k = hn::IfThenElse(hn::Lt(rest, hn::Zero(d)), hn::Sub(k, one), k);  // too high
  // Too low where rest >= divisor (integer lanes have no >= here).
  k = hn::IfThenElse(hn::Gt(rest, hn::Sub(divisor, one)), hn::Add(k, one), k);
  const VI offset = hn::IfThenElse(hn::Gt(num, hn::Zero(d)), hn::Neg(k), k);

  VI code = hn::Add(base, offset);
  code = hn::IfThenZeroElse(hn::Eq(code, hn::Set(d, kDirectionSteps)), code);
  return hn::IfThenElse(flat, hn::Set(d, kNoDirection), code);
}

// The low byte of each code, as the scalar form's cast keeps it (codes lie in 0 .. 127).
HWY_INLINE hn::Vec<hn::Rebind<uint8_t, DI> > CodeBytes(VI code) {
  const hn::Rebind<uint8_t, DI> d8;
  return hn::TruncateTo(d8, hn::BitCast(hn::RebindToUnsigned<DI>(), code));
}

void EstimateCodesImpl(const int32_t* HWY_RESTRICT horizontal,
                       const int32_t* HWY_RESTRICT diagonal1, const int32_t* HWY_RESTRICT vertical,
                       const int32_t* HWY_RESTRICT diagonal2, int count,
                       uint8_t* HWY_RESTRICT codes) {
  const DI d;
  const hn::Rebind<uint8_t, DI> d8;
  const size_t lanes = hn::Lanes(d);
  const auto total = static_cast<size_t>(count > 0 ? count : 0);
  size_t i = 0;
  for (; i + lanes <= total; i += lanes) {
    const VI h = hn::LoadU(d, horizontal + i);
    const VI d1 = hn::LoadU(d, diagonal1 + i);
    const VI v = hn::LoadU(d, vertical + i);
    const VI d2 = hn::LoadU(d, diagonal2 + i);
    // Windows without any change (the background of the binary image, a third of some prints)
    // have no direction, and whole vectors of them skip the estimate.
    if (hn::AllTrue(d, hn::Eq(hn::Or(hn::Or(h, v), hn::Or(d1, d2)), hn::Zero(d)))) {
      hn::StoreU(hn::Set(d8, kNoDirection), d8, codes + i);
      continue;
    }
    hn::StoreU(CodeBytes(EstimateCodeLanes(h, d1, v, d2)), d8, codes + i);
  }
  if (i == total) return;
  // The last partial vector through padded copies (zero sums: no direction, not stored).
  HWY_ALIGN int32_t sums[4][hn::MaxLanes(d)] = {};
  HWY_ALIGN uint8_t out[hn::MaxLanes(d)];
  const size_t rest = total - i;
  for (size_t t = 0; t < rest; ++t) {
    sums[0][t] = horizontal[i + t];
    sums[1][t] = diagonal1[i + t];
    sums[2][t] = vertical[i + t];
    sums[3][t] = diagonal2[i + t];
  }
  const VI code = EstimateCodeLanes(hn::Load(d, sums[0]), hn::Load(d, sums[1]),
                                    hn::Load(d, sums[2]), hn::Load(d, sums[3]));
  hn::Store(CodeBytes(code), d8, out);
  for (size_t t = 0; t < rest; ++t) codes[i + t] = out[t];
}
#endif

// Whether the four sums are 0 at every i < count (a window without any change).
HWY_INLINE bool AllFlat(const int32_t* HWY_RESTRICT horizontal,
                        const int32_t* HWY_RESTRICT diagonal1, const int32_t* HWY_RESTRICT vertical,
                        const int32_t* HWY_RESTRICT diagonal2, size_t count) {
  int32_t any = 0;
  for (size_t i = 0; i < count; ++i)
    any |= horizontal[i] | diagonal1[i] | vertical[i] | diagonal2[i];
  return any == 0;
}

// EstimateLanes<true> block by block, where blocks of windows without any change (the
// background of a print) take their known estimate, no direction, at once.
void EstimateRowImpl(const int32_t* HWY_RESTRICT horizontal, const int32_t* HWY_RESTRICT diagonal1,
                     const int32_t* HWY_RESTRICT vertical, const int32_t* HWY_RESTRICT diagonal2,
                     int count, uint8_t* HWY_RESTRICT codes, int32_t* HWY_RESTRICT anisotropies) {
  constexpr size_t kBlock = gradient_rows::kBlock;
  const auto total = static_cast<size_t>(count > 0 ? count : 0);
  size_t i = 0;
  for (; i + kBlock <= total; i += kBlock) {
    if (AllFlat(horizontal + i, diagonal1 + i, vertical + i, diagonal2 + i, kBlock)) {
      for (size_t t = 0; t < kBlock; ++t) {
        codes[i + t] = kNoDirection;
        anisotropies[i + t] = direction_estimate::kNoDirectionAnisotropy;
      }
      continue;
    }
    direction_estimate::EstimateLanes<true>(horizontal + i, diagonal1 + i, vertical + i,
                                            diagonal2 + i, static_cast<int>(kBlock), codes + i,
                                            anisotropies + i);
  }
  direction_estimate::EstimateLanes<true>(horizontal + i, diagonal1 + i, vertical + i,
                                          diagonal2 + i, static_cast<int>(total - i), codes + i,
                                          anisotropies + i);
}

gradient_rows::BlockRange GradientRowImpl(const uint8_t* above, const uint8_t* row,
                                          const uint8_t* below, int width, size_t stride,
                                          int radius, uint16_t* out) {
  gradient_rows::GradientRow(above, row, below, width, stride, out);
  return gradient_rows::RowSumBlocks(out, stride, width, radius);
}

void StepColumnsImpl(uint32_t* column, const uint16_t* entering, gradient_rows::BlockRange in,
                     const uint16_t* leaving, gradient_rows::BlockRange out, size_t plane_stride) {
  gradient_rows::StepColumnRanges(column, entering, in, leaving, out, plane_stride);
}

// gradient_rows::BoxRow in explicit vectors: the compiler keeps a block's accumulators in
// registers here, where the plain loops' array of them goes through the stack once per term.
template <typename T>
class BoxBlocks {
 public:
  using D = hn::ScalableTag<T>;
  static constexpr size_t kVectors = gradient_rows::kBlock / hn::MaxLanes(D());
  static_assert(gradient_rows::kBlock % hn::MaxLanes(D()) == 0);

  // The kBlock sums from p on of `terms` values each, `step` apart; p is of type S, widened.
  template <typename S>
  HWY_INLINE void Sum(const S* HWY_RESTRICT p, size_t step, int terms) {
    for (size_t v = 0; v < kVectors; ++v) lane_[v] = hn::Zero(d_);
    Add(p, step, terms);
  }
  template <typename S>
  HWY_INLINE void Add(const S* HWY_RESTRICT p, size_t step, int terms) {
    for (int i = 0; i < terms; ++i, p += step) {
      for (size_t v = 0; v < kVectors; ++v) lane_[v] = hn::Add(lane_[v], Load(p + v * Lanes()));
    }
  }
  HWY_INLINE void Store(T* HWY_RESTRICT out) const {
    for (size_t v = 0; v < kVectors; ++v) hn::StoreU(lane_[v], d_, out + v * Lanes());
  }

 private:
  size_t Lanes() const { return hn::Lanes(d_); }
  HWY_INLINE hn::Vec<D> Load(const T* HWY_RESTRICT p) const { return hn::LoadU(d_, p); }
  template <typename S>
  HWY_INLINE hn::Vec<D> Load(const S* HWY_RESTRICT p) const {
    return hn::PromoteTo(d_, hn::LoadU(hn::Rebind<S, D>(), p));
  }

  D d_;
  hn::Vec<D> lane_[kVectors];
};

template <typename T>
HWY_INLINE void BoxRowBlocks(const uint16_t* HWY_RESTRICT gradients, size_t stride,
                             gradient_rows::BlockRange blocks, gradient_rows::WindowSplit split,
                             T* HWY_RESTRICT runs, T* HWY_RESTRICT out, size_t out_stride) {
  constexpr size_t kBlock = gradient_rows::kBlock;
  const auto run = static_cast<size_t>(split.run);
  BoxBlocks<T> acc;
  if (split.run > 1) {
    const size_t runs_end = gradient_rows::RunsEnd(split, blocks.last);
    for (int g = 0; g < gradient_rows::kGradients; ++g) {
      const size_t plane_at = static_cast<size_t>(g) * stride;
      for (size_t x = blocks.first * kBlock; x < runs_end; x += kBlock) {
        acc.Sum(gradients + plane_at + x, 1, split.run);
        acc.Store(runs + plane_at + x);
      }
    }
  }
  const size_t tail = run * static_cast<size_t>(split.runs);
  for (int g = 0; g < gradient_rows::kGradients; ++g) {
    const uint16_t* HWY_RESTRICT plane = gradients + static_cast<size_t>(g) * stride;
    const T* HWY_RESTRICT run_plane = runs + static_cast<size_t>(g) * stride;
    T* HWY_RESTRICT row = out + static_cast<size_t>(g) * out_stride;
    for (size_t x = blocks.first * kBlock; x < blocks.last * kBlock; x += kBlock) {
      if (split.run > 1) {
        acc.Sum(run_plane + x, run, split.runs);
        acc.Add(plane + x + tail, 1, split.rest);
      } else {
        acc.Sum(plane + x, 1, split.runs);
      }
      acc.Store(row + x);
    }
  }
}

void BoxRow16Impl(const uint16_t* gradients, size_t stride, gradient_rows::BlockRange blocks,
                  gradient_rows::WindowSplit split, uint16_t* runs, uint16_t* out,
                  size_t out_stride) {
  BoxRowBlocks(gradients, stride, blocks, split, runs, out, out_stride);
}

void BoxRow32Impl(const uint16_t* gradients, size_t stride, gradient_rows::BlockRange blocks,
                  gradient_rows::WindowSplit split, uint32_t* runs, uint32_t* out,
                  size_t out_stride) {
  BoxRowBlocks(gradients, stride, blocks, split, runs, out, out_stride);
}

void RefreshRowImpl(const refresh_row::LevelSteps& steps, const uint8_t* codes,
                    const int32_t* anisotropies, const uint8_t* spared, int width,
                    uint8_t* direction, uint8_t* level) {
  refresh_row::RefreshRow(steps, codes, anisotropies, spared, width, direction, level);
}

void StepColumns32Impl(uint32_t* column, const uint32_t* entering, gradient_rows::BlockRange in,
                       const uint32_t* leaving, gradient_rows::BlockRange out,
                       size_t plane_stride) {
  gradient_rows::StepColumnRanges(column, entering, in, leaving, out, plane_stride);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace ridgeline
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ridgeline {

HWY_EXPORT(EstimateCodesImpl);
HWY_EXPORT(EstimateRowImpl);
HWY_EXPORT(GradientRowImpl);
HWY_EXPORT(StepColumnsImpl);
HWY_EXPORT(BoxRow16Impl);
HWY_EXPORT(BoxRow32Impl);
HWY_EXPORT(StepColumns32Impl);
HWY_EXPORT(RefreshRowImpl);

gradient_rows::BlockRange GradientRowVector(const uint8_t* above, const uint8_t* row,
                                            const uint8_t* below, int width, size_t stride,
                                            int radius, uint16_t* out) {
  return HWY_DYNAMIC_DISPATCH(GradientRowImpl)(above, row, below, width, stride, radius, out);
}

void StepColumnsVector(uint32_t* column, const uint16_t* entering, gradient_rows::BlockRange in,
                       const uint16_t* leaving, gradient_rows::BlockRange out,
                       size_t plane_stride) {
  HWY_DYNAMIC_DISPATCH(StepColumnsImpl)(column, entering, in, leaving, out, plane_stride);
}

void StepColumnsVector(uint32_t* column, const uint32_t* entering, gradient_rows::BlockRange in,
                       const uint32_t* leaving, gradient_rows::BlockRange out,
                       size_t plane_stride) {
  HWY_DYNAMIC_DISPATCH(StepColumns32Impl)(column, entering, in, leaving, out, plane_stride);
}

void RefreshRowVector(const refresh_row::LevelSteps& steps, const uint8_t* codes,
                      const int32_t* anisotropies, const uint8_t* spared, int width,
                      uint8_t* direction, uint8_t* level) {
  HWY_DYNAMIC_DISPATCH(RefreshRowImpl)(steps, codes, anisotropies, spared, width, direction, level);
}

void BoxRowVector(const uint16_t* gradients, size_t stride, gradient_rows::BlockRange blocks,
                  gradient_rows::WindowSplit split, uint16_t* runs, uint16_t* out,
                  size_t out_stride) {
  HWY_DYNAMIC_DISPATCH(BoxRow16Impl)(gradients, stride, blocks, split, runs, out, out_stride);
}

void BoxRowVector(const uint16_t* gradients, size_t stride, gradient_rows::BlockRange blocks,
                  gradient_rows::WindowSplit split, uint32_t* runs, uint32_t* out,
                  size_t out_stride) {
  HWY_DYNAMIC_DISPATCH(BoxRow32Impl)(gradients, stride, blocks, split, runs, out, out_stride);
}

void EstimateCodesVector(const int32_t* horizontal, const int32_t* diagonal1,
                         const int32_t* vertical, const int32_t* diagonal2, int count,
                         uint8_t* codes) {
  HWY_DYNAMIC_DISPATCH(EstimateCodesImpl)(horizontal, diagonal1, vertical, diagonal2, count, codes);
}

void EstimateRowVector(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                       const int32_t* diagonal2, int count, uint8_t* codes, int32_t* anisotropies) {
  HWY_DYNAMIC_DISPATCH(EstimateRowImpl)
  (horizontal, diagonal1, vertical, diagonal2, count, codes, anisotropies);
}

}  // namespace ridgeline
#endif  // HWY_ONCE
