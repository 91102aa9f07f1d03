// The row form of the direction estimate and the row loops of its gradient windows, compiled
// once per instruction set (foreach_target.h) and dispatched at run time to the best one the
// processor supports: the loops are the same, the vectoriser makes them as wide as each set
// allows.
#include <algorithm>
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

// The anisotropies of a row clamped to 0 .. 255, all that the refresh reads of them.
HWY_INLINE void ClampAnisotropies(int32_t* HWY_RESTRICT anisotropies, int count) {
  for (int i = 0; i < count; ++i) {
    anisotropies[i] = std::clamp(anisotropies[i], int32_t{0}, refresh_row::kTopAnisotropy);
  }
}

#if HWY_TARGET == HWY_SCALAR
void EstimateCodesImpl(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                       const int32_t* diagonal2, int count, uint8_t* codes) {
  direction_estimate::EstimateLanes<false>(horizontal, diagonal1, vertical, diagonal2, count, codes,
                                           nullptr);
}

void EstimateRowImpl(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                     const int32_t* diagonal2, int count, uint8_t* codes, int32_t* anisotropies) {
  direction_estimate::EstimateLanes<true>(horizontal, diagonal1, vertical, diagonal2, count, codes,
                                          anisotropies);
  ClampAnisotropies(anisotropies, count);
}
#else
using DI = hn::ScalableTag<int32_t>;
using VI = hn::Vec<DI>;

// The high half of x times m, for x and m taken as unsigned: two multiplies of 32 by 32 bits
// (even and odd lanes), the odd lanes' high halves already in place.
template <uint32_t m>
HWY_INLINE VI MulHigh32(VI x) {
  const DI d;
  const hn::RebindToUnsigned<DI> du;
  const hn::Repartition<uint64_t, DI> d64;
  const auto factor = hn::Set(du, m);
  const auto xu = hn::BitCast(du, x);
  const auto even = hn::ShiftRight<32>(hn::MulEven(xu, factor));
  const auto odd = hn::MulEven(hn::BitCast(du, hn::ShiftRight<32>(hn::BitCast(d64, xu))), factor);
  return hn::BitCast(d, hn::OddEven(hn::BitCast(du, odd), hn::BitCast(du, even)));
}

// floor(71 x / 100) (the diagonals' scaling) for 0 <= x < 2^24 is the high half of x times
// 0.71 x 2^32 rounded up: that overshoots 71 x / 100 by under 0.84 x / 2^32 < 0.004, and
// 71 x / 100 lies at least 0.01 below the next whole number, so the whole part is exact.
constexpr uint32_t kScale71 = 3049426781u;
static_assert(uint64_t{kScale71} * 100 >= uint64_t{71} << 32 &&
                  uint64_t{kScale71 - 1} * 100 < uint64_t{71} << 32,
              "kScale71 must be 0.71 x 2^32 rounded up");
// floor(x / 30) for 0 <= x < 2^28 likewise: 2^32 / 30 rounded up overshoots by under
// 0.47 x / 2^32 < 1 / 30.
constexpr uint32_t kOver30 = 143165577u;
static_assert(uint64_t{kOver30} * 30 >= uint64_t{1} << 32 &&
                  uint64_t{kOver30 - 1} * 30 < uint64_t{1} << 32,
              "kOver30 must be 2^32 / 30 rounded up");

// 3 x + y.
HWY_INLINE VI TriplePlus(VI x, VI y) { return hn::Add(hn::Add(hn::Add(x, x), x), y); }

// floor(size / divisor) for 0 <= size < 2^31 and 0 < divisor, where the quotient is below
// 256 and k divisor stays below 2^32 for k up to one past it: the float quotient from the
// approximate reciprocal (relative error under 2^-11 on every x86 set, so within 256 x 2^-10
// < 0.5 of the true one counting the conversions) rounded to the nearest whole number by
// adding 2^23 (one add instead of a conversion with its overflow fix-ups) is within one of the
// floor, and is corrected by one step either way as in SmallQuotient: the remainder
// size - k divisor, exact in 32 bits as it lies in [-divisor, 2 divisor), says whether k is one
// too high or too low.
HWY_INLINE VI FloorQuotient(VI size, VI divisor) {
  const DI d;
  const hn::RebindToFloat<DI> df;
  const auto rounder = hn::Set(df, 8388608.0f);
  const auto estimate = hn::MulAdd(hn::ConvertTo(df, size),
                                   hn::ApproximateReciprocal(hn::ConvertTo(df, divisor)), rounder);
  VI k = hn::Sub(hn::BitCast(d, estimate), hn::BitCast(d, rounder));
  const VI one = hn::Set(d, 1);
  const VI rest = hn::Sub(size, hn::Mul(k, divisor));
  k = hn::IfThenElse(hn::Lt(rest, hn::Zero(d)), hn::Sub(k, one), k);  // too high
  // Too low where rest >= divisor (integer lanes have no >= here).
  return hn::IfThenElse(hn::Gt(rest, hn::Sub(divisor, one)), hn::Add(k, one), k);
}

// EstimateLanes of one vector of window sums, in explicit vectors (with kAnisotropy, the
// anisotropy clamped to 0 .. 255 as well): the loop the compiler makes of it works 64 pixels at
// a time (to fill a vector of byte codes), keeps half its values on the stack and divides in
// double. Here each sector's interpolation numerator is formed from two shared differences and
// selected with its base, and the quotients are FloorQuotient's: the sector offset's is at
// most 15 (the chosen pair's sum is the smallest, which bounds |3 (p - s) - q + r| by -n), the
// anisotropy's is taken only where it is below 256, the rest clamped.
template <bool kAnisotropy>
HWY_INLINE VI EstimateLanesVector(VI h, VI diagonal1, VI v, VI diagonal2, VI* anisotropy) {
  const DI d;
  const VI d1 = MulHigh32<kScale71>(diagonal1);
  const VI d2 = MulHigh32<kScale71>(diagonal2);
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
  const VI k = FloorQuotient(size, divisor);
  const VI offset = hn::IfThenElse(hn::Gt(num, hn::Zero(d)), hn::Neg(k), k);

  VI code = hn::Add(base, offset);
  code = hn::IfThenZeroElse(hn::Eq(code, hn::Set(d, kDirectionSteps)), code);
  code = hn::IfThenElse(flat, hn::Set(d, kNoDirection), code);
  if constexpr (kAnisotropy) {
    // The sector's p and s (as EstimateLanes selects them), and of them and q, r lo and hi.
    VI p = d2, q = d1, r = v, s = h;
    p = hn::IfThenElse(second, h, p);
    q = hn::IfThenElse(second, v, q);
    r = hn::IfThenElse(second, d2, r);
    s = hn::IfThenElse(second, d1, s);
    p = hn::IfThenElse(third, d1, p);
    q = hn::IfThenElse(third, d2, q);
    r = hn::IfThenElse(third, h, r);
    s = hn::IfThenElse(third, v, s);
    p = hn::IfThenElse(fourth, v, p);
    q = hn::IfThenElse(fourth, h, q);
    r = hn::IfThenElse(fourth, d1, r);
    s = hn::IfThenElse(fourth, d2, s);
    const VI lo = hn::Min(r, q);
    const VI hi = hn::IfThenElse(hn::Lt(r, q), s, p);
    // The chosen pair q + r is the smallest, so q <= p and r <= s, and lo <= hi; with
    // |offset| <= 15, c = (15 - |offset|) (hi - lo) / 30 rounded toward zero is >= 0, an
    // unsigned division of a product below 2^26. So max(lo - c, 0) <= hi + c: the
    // anisotropy max(lo - c, 0) 255 / (hi + c) is at most 255 (255 where hi + c is 0 or there
    // is no direction), FloorQuotient's bounds.
    const VI spread = hn::Mul(hn::Sub(hn::Set(d, direction_estimate::kSectorHalf), hn::Abs(offset)),
                              hn::Sub(hi, lo));
    const VI spread_c = MulHigh32<kOver30>(spread);
    const VI top = hn::Add(hi, spread_c);
    const VI low = hn::Max(hn::Sub(lo, spread_c), hn::Zero(d));
    const VI scaled = hn::Sub(hn::ShiftLeft<8>(low), low);
    const VI result = FloorQuotient(scaled, hn::Max(top, hn::Set(d, 1)));
    *anisotropy = hn::IfThenElse(hn::Or(flat, hn::Eq(top, hn::Zero(d))),
                                 hn::Set(d, refresh_row::kTopAnisotropy), result);
  } else {
    (void)anisotropy;
  }
  return code;
}

// The low byte of each code, as the scalar form's cast keeps it (codes lie in 0 .. 127).
HWY_INLINE hn::Vec<hn::Rebind<uint8_t, DI> > CodeBytes(VI code) {
  const hn::Rebind<uint8_t, DI> d8;
  return hn::TruncateTo(d8, hn::BitCast(hn::RebindToUnsigned<DI>(), code));
}

// EstimateLanesVector over a row; anisotropies is null without kAnisotropy.
template <bool kAnisotropy>
HWY_INLINE void EstimateRowVectors(const int32_t* HWY_RESTRICT horizontal,
                                   const int32_t* HWY_RESTRICT diagonal1,
                                   const int32_t* HWY_RESTRICT vertical,
                                   const int32_t* HWY_RESTRICT diagonal2, int count,
                                   uint8_t* HWY_RESTRICT codes,
                                   int32_t* HWY_RESTRICT anisotropies) {
  const DI d;
  const hn::Rebind<uint8_t, DI> d8;
  const size_t lanes = hn::Lanes(d);
  const auto total = static_cast<size_t>(count > 0 ? count : 0);
  const VI no_anisotropy = hn::Set(d, direction_estimate::kNoDirectionAnisotropy);
  VI anisotropy = no_anisotropy;
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
      if constexpr (kAnisotropy) hn::StoreU(no_anisotropy, d, anisotropies + i);
      continue;
    }
    hn::StoreU(CodeBytes(EstimateLanesVector<kAnisotropy>(h, d1, v, d2, &anisotropy)), d8,
               codes + i);
    if constexpr (kAnisotropy) hn::StoreU(anisotropy, d, anisotropies + i);
  }
  if (i == total) return;
  // The last partial vector through padded copies (zero sums: no direction, not stored).
  HWY_ALIGN int32_t sums[4][hn::MaxLanes(d)] = {};
  HWY_ALIGN uint8_t out[hn::MaxLanes(d)];
  HWY_ALIGN int32_t out_anisotropies[hn::MaxLanes(d)];
  const size_t rest = total - i;
  for (size_t t = 0; t < rest; ++t) {
    sums[0][t] = horizontal[i + t];
    sums[1][t] = diagonal1[i + t];
    sums[2][t] = vertical[i + t];
    sums[3][t] = diagonal2[i + t];
  }
  const VI code =
      EstimateLanesVector<kAnisotropy>(hn::Load(d, sums[0]), hn::Load(d, sums[1]),
                                       hn::Load(d, sums[2]), hn::Load(d, sums[3]), &anisotropy);
  hn::Store(CodeBytes(code), d8, out);
  hn::Store(anisotropy, d, out_anisotropies);
  for (size_t t = 0; t < rest; ++t) {
    codes[i + t] = out[t];
    if constexpr (kAnisotropy) anisotropies[i + t] = out_anisotropies[t];
  }
}

void EstimateCodesImpl(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                       const int32_t* diagonal2, int count, uint8_t* codes) {
  EstimateRowVectors<false>(horizontal, diagonal1, vertical, diagonal2, count, codes, nullptr);
}

void EstimateRowImpl(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                     const int32_t* diagonal2, int count, uint8_t* codes, int32_t* anisotropies) {
  EstimateRowVectors<true>(horizontal, diagonal1, vertical, diagonal2, count, codes, anisotropies);
}
#endif

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

// The pipeline's window of 25 (five runs of five) with its split known here, so that each
// block's sums unroll into independent adds without a loop per term.
constexpr gradient_rows::WindowSplit kSplit25{5, 5, 0};
static_assert(gradient_rows::SplitWindow(25).run == kSplit25.run &&
              gradient_rows::SplitWindow(25).runs == kSplit25.runs &&
              gradient_rows::SplitWindow(25).rest == kSplit25.rest);

void BoxRow16Impl(const uint16_t* gradients, size_t stride, gradient_rows::BlockRange blocks,
                  gradient_rows::WindowSplit split, uint16_t* runs, uint16_t* out,
                  size_t out_stride) {
  if (split.run == kSplit25.run && split.runs == kSplit25.runs && split.rest == kSplit25.rest) {
    BoxRowBlocks(gradients, stride, blocks, kSplit25, runs, out, out_stride);
    return;
  }
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
