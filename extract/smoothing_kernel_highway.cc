// KernelBlockVector with Highway: compiled once per instruction set (foreach_target.h) and
// dispatched at run time to the best one the processor supports.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "extract/smoothing_kernel_block.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "extract/smoothing_kernel_highway.cc"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace ridgeline {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
// The one-lane target (processors without SSSE3, with compilers whose EMU128 is unsafe) lacks
// the lane shuffles; it takes the pixel rule as it stands.
void KernelBlockImpl(const uint16_t* p, int n, const FlatKernel& k, uint8_t* value) {
  for (int j = 0; j < n; ++j) {
    const uint16_t* c = p + j;
    auto sum = static_cast<uint32_t>(k.centre) * c[0];
    for (int t = 0; t < kFlatTaps; ++t) {
      sum += static_cast<uint32_t>(k.taps[t].weight) *
             static_cast<uint32_t>(c[-k.taps[t].offset] + c[k.taps[t].offset]);
    }
    value[j] = static_cast<uint8_t>(DivideByKernelSum(sum));
  }
}

void MixedSpanImpl(const uint16_t* row, std::ptrdiff_t stride, const uint8_t* codes,
                   const MixedKernels& kernels, int xs, int xe, int /*limit*/, bool /*any_kept*/,
                   uint8_t* out) {
  for (int x = xs; x < xe; ++x) {
    const uint8_t code = codes[x];
    if (code == kKeepCode) continue;
    if (code == kNoDirection) {
      const uint16_t* c = row + x;
      uint32_t sum = 0;
      for (const std::ptrdiff_t r : {-stride, std::ptrdiff_t{0}, stride}) {
        sum += uint32_t{c[r - 1]} + c[r] + c[r + 1];
      }
      out[x] = static_cast<uint8_t>(sum / 9);
    } else {
      KernelBlockImpl(row + x, 1, kernels.flat[code], out + x);
    }
  }
}

void BorderSpanImpl(const uint16_t* row, const uint16_t* ones, std::ptrdiff_t stride,
                    const uint8_t* codes, const MixedKernels& kernels, const BorderClip& /*clip*/,
                    int xs, int xe, int /*limit*/, bool /*any_kept*/, uint8_t* out) {
  for (int x = xs; x < xe; ++x) {
    const uint8_t code = codes[x];
    if (code == kKeepCode) continue;
    const uint16_t* c = row + x;
    const uint16_t* one = ones + x;
    uint32_t sum = 0;
    uint32_t total = 0;
    if (code == kNoDirection) {
      for (const std::ptrdiff_t r : {-stride, std::ptrdiff_t{0}, stride}) {
        sum += uint32_t{c[r - 1]} + c[r] + c[r + 1];
        total += uint32_t{one[r - 1]} + one[r] + one[r + 1];
      }
    } else {
      const FlatKernel& k = kernels.flat[code];
      sum = static_cast<uint32_t>(k.centre) * c[0];
      total = static_cast<uint32_t>(k.centre) * one[0];
      for (int t = 0; t < k.tap_count; ++t) {
        const auto weight = static_cast<uint32_t>(k.taps[t].weight);
        const std::ptrdiff_t offset = k.taps[t].offset;
        sum += weight * (uint32_t{c[-offset]} + c[offset]);
        total += weight * (uint32_t{one[-offset]} + one[offset]);
      }
    }
    out[x] = static_cast<uint8_t>(sum / total);
  }
}
#else
// Lanes(d16) pixels at p into out. Two taps at a time: their pixel pair sums (each below 2^9)
// are interleaved lane by lane with each other and multiplied by the interleaved weights (below
// 2^14) with the paired 16 x 16 -> 32-bit multiply-add, so every 32-bit lane gathers the whole
// kernel sum of one pixel (below 2^25) exactly.
//
// Lane order: InterleaveLower / InterleaveUpper work within each 128-bit block, so the lower
// accumulator holds pixels 0-3 of every block of eight and the upper one pixels 4-7; the
// multiply-add (ReorderWidenMulAccumulate followed by RearrangeToOddPlusEven) adds adjacent
// lanes, and ReorderDemote2To packs the two halves back block by block, which restores the
// pixel order. Highway leaves the lane order of those two operations to the target; the tests
// run every target the processor supports against the pixel rule.
// The kernel sums of Lanes(d16) pixels at p, as two vectors of 32-bit lanes (see above for
// the order).
template <class D16>
struct KernelSums {
  hn::Vec<hn::RepartitionToWide<D16> > lower;
  hn::Vec<hn::RepartitionToWide<D16> > upper;
};

template <class D16>
HWY_INLINE KernelSums<D16> KernelSumsAt(D16 d16, const int16_t* HWY_RESTRICT p,
                                        const FlatKernel& k) {
  const hn::RepartitionToWide<D16> d32;
  using V16 = hn::Vec<D16>;
  using V32 = hn::Vec<decltype(d32)>;
  auto pair_sum = [&](const FlatTap& tap) -> V16 {
    return hn::Add(hn::LoadU(d16, p - tap.offset), hn::LoadU(d16, p + tap.offset));
  };
  // Two 16-bit weights side by side in each 32-bit lane, the first in the lower half, which on a
  // little-endian processor is the lower 16-bit lane, as InterleaveLower of the two places them.
  static_assert(std::endian::native == std::endian::little);
  auto weights = [&](int pair) -> V16 {
    return hn::BitCast(d16, hn::Set(d32, k.weight_pairs[pair]));
  };
  V32 lower = hn::Zero(d32);
  V32 upper = hn::Zero(d32);
  V32 lower_odd = hn::Zero(d32);
  V32 upper_odd = hn::Zero(d32);
  auto add = [&](V16 a, V16 b, V16 w) {
    lower = hn::ReorderWidenMulAccumulate(d32, hn::InterleaveLower(d16, a, b), w, lower, lower_odd);
    upper = hn::ReorderWidenMulAccumulate(d32, hn::InterleaveUpper(d16, a, b), w, upper, upper_odd);
  };
  // The centre pixel pairs with the first tap, then taps go two by two; padding taps weigh 0.
  add(hn::LoadU(d16, p), pair_sum(k.taps[0]), weights(0));
  static_assert(kFlatTaps % 2 == 1, "taps 1 .. kFlatTaps - 1 go in whole pairs");
  for (int t = 1; t < k.tap_count; t += 2) {
    add(pair_sum(k.taps[t]), pair_sum(k.taps[t + 1]), weights((t + 1) / 2));
  }
  return {hn::RearrangeToOddPlusEven(lower, lower_odd),
          hn::RearrangeToOddPlusEven(upper, upper_odd)};
}

// DivideByKernelSum of both halves, packed back to Lanes(d16) quotients in pixel order.
template <class D16>
HWY_INLINE hn::Vec<D16> KernelQuotients(D16 d16, const KernelSums<D16>& sums) {
  const hn::RepartitionToWide<D16> d32;
  using V32 = hn::Vec<decltype(d32)>;
  // Every value is below 2^31, so signed lanes serve.
  const V32 reciprocal = hn::Set(d32, static_cast<int32_t>(kKernelSumReciprocal));
  const V32 divisor = hn::Set(d32, kKernelSum);
  const V32 largest_rest = hn::Set(d32, kKernelSum - 1);
  auto divide = [&](V32 sum) -> V32 {
    const V32 estimate = hn::ShiftRight<23>(hn::Mul(hn::ShiftRight<8>(sum), reciprocal));
    const V32 rest = hn::Sub(sum, hn::Mul(estimate, divisor));
    // A true mask is all ones, -1: subtracting it adds one.
    return hn::Sub(estimate, hn::VecFromMask(d32, hn::Gt(rest, largest_rest)));
  };
  return hn::ReorderDemote2To(d16, divide(sums.lower), divide(sums.upper));
}

template <class D16>
HWY_INLINE void KernelVector(D16 d16, const int16_t* HWY_RESTRICT p, const FlatKernel& k,
                             uint8_t* HWY_RESTRICT out) {
  const hn::Rebind<uint8_t, D16> d8;
  hn::StoreU(hn::DemoteTo(d8, KernelQuotients(d16, KernelSumsAt(d16, p, k))), d8, out);
}

// The 3 x 3 means of Lanes(d16) pixels at p. The sum of nine 8-bit pixels is at most 2295, and
// floor(s x 7282 / 2^16) = floor(s / 9) while s < 2^15: 9 x 7282 = 2^16 + 2, so the product
// overshoots s / 9 by s / (9 x 2^15) < 1 / 9, less than the gap of any non-multiple to the next
// whole number.
template <class D16>
HWY_INLINE hn::Vec<D16> Mean3Quotients(D16 d16, const int16_t* HWY_RESTRICT p,
                                       std::ptrdiff_t stride) {
  auto row_sum = [&](const int16_t* r) {
    return hn::Add(hn::Add(hn::LoadU(d16, r - 1), hn::LoadU(d16, r)), hn::LoadU(d16, r + 1));
  };
  const auto sum = hn::Add(hn::Add(row_sum(p - stride), row_sum(p)), row_sum(p + stride));
  return hn::MulHigh(sum, hn::Set(d16, int16_t{7282}));
}

// The kernel sums of Lanes(d16) pixels at p, each along its own code, over the shared offset
// list: each listed offset's pixel pairs are summed once and multiplied by the weight of that
// offset in each lane's kernel, looked up by the lane's index into the codes base ..
// base + 15 (a code's kernel weighs the offsets it does not use 0, so the sums are exactly
// those of KernelSumsAt). The lookup is a byte shuffle within each 128-bit block, whose table
// holds 8 weights of 16 bits: one table serves indices 0..7, a second one 8..15.
template <bool kTwoTables, class D16>
HWY_INLINE KernelSums<D16> LaneSumsAt(D16 d16, const int16_t* HWY_RESTRICT p, hn::Vec<D16> index,
                                      int base, const uint8_t* HWY_RESTRICT list,
                                      const MixedKernels& k) {
  const hn::RepartitionToWide<D16> d32;
  const hn::Repartition<uint8_t, D16> d8;
  using V16 = hn::Vec<D16>;
  using V32 = hn::Vec<decltype(d32)>;
  // Each lane's weight is bytes 2i and 2i + 1 of an 8-entry table; a byte index with its top
  // bit set reads 0, which leaves the lanes of the other table to it.
  const V16 bytes_of =
      hn::Add(hn::Mul(index, hn::Set(d16, int16_t{0x0202})), hn::Set(d16, int16_t{0x0100}));
  const auto first_table = hn::Lt(index, hn::Set(d16, int16_t{8}));
  const V16 outside = hn::Set(d16, static_cast<int16_t>(-0x7F80));  // bytes 0x80, 0x80
  const V16 near = kTwoTables ? hn::IfThenElse(first_table, bytes_of, outside) : bytes_of;
  const V16 far =
      hn::IfThenElse(first_table, outside, hn::Sub(bytes_of, hn::Set(d16, int16_t{0x1010})));
  const LaneKernels& lanes = *k.lanes;
  auto weights = [&](const int16_t* HWY_RESTRICT row) -> V16 {
    auto lookup = [&](const int16_t* at, V16 bytes) {
      return hn::BitCast(d16, hn::TableLookupBytesOr0(hn::BitCast(d8, hn::LoadDup128(d16, at)),
                                                      hn::BitCast(d8, bytes)));
    };
    V16 w = lookup(row + base, near);
    if (kTwoTables) w = hn::Or(w, lookup(row + base + 8, far));
    return w;
  };
  auto pair_sum = [&](int slot) -> V16 {
    const std::ptrdiff_t offset = k.lane_offsets[slot];
    return hn::Add(hn::LoadU(d16, p - offset), hn::LoadU(d16, p + offset));
  };
  V32 lower = hn::Zero(d32);
  V32 upper = hn::Zero(d32);
  V32 lower_odd = hn::Zero(d32);
  V32 upper_odd = hn::Zero(d32);
  auto add = [&](V16 a, V16 b, V16 wa, V16 wb) {
    lower = hn::ReorderWidenMulAccumulate(d32, hn::InterleaveLower(d16, a, b),
                                          hn::InterleaveLower(d16, wa, wb), lower, lower_odd);
    upper = hn::ReorderWidenMulAccumulate(d32, hn::InterleaveUpper(d16, a, b),
                                          hn::InterleaveUpper(d16, wa, wb), upper, upper_odd);
  };
  // The list is odd: the centre pairs with its first slot, the rest go two by two.
  const int n = list[0];
  const uint8_t* slots = list + 1;
  add(hn::LoadU(d16, p), pair_sum(slots[0]), weights(lanes.centre),
      weights(lanes.weights[slots[0]]));
  for (int i = 1; i < n; i += 2) {
    add(pair_sum(slots[i]), pair_sum(slots[i + 1]), weights(lanes.weights[slots[i]]),
        weights(lanes.weights[slots[i + 1]]));
  }
  return {hn::RearrangeToOddPlusEven(lower, lower_odd),
          hn::RearrangeToOddPlusEven(upper, upper_odd)};
}

// The smallest and largest lane of a vector of 16-bit lanes, halving it down to one 128-bit
// block first (where a processor may have a single instruction for it).
template <class DU16>
HWY_INLINE int SmallestLane(DU16 d, hn::Vec<DU16> v) {
  if constexpr (hn::MaxLanes(d) > 8) {
    const hn::Half<DU16> half;
    return SmallestLane(half, hn::Min(hn::LowerHalf(half, v), hn::UpperHalf(half, v)));
  } else {
    return hn::GetLane(hn::MinOfLanes(d, v));
  }
}
template <class DU16>
HWY_INLINE int LargestLane(DU16 d, hn::Vec<DU16> v) {
  if constexpr (hn::MaxLanes(d) > 8) {
    const hn::Half<DU16> half;
    return LargestLane(half, hn::Max(hn::LowerHalf(half, v), hn::UpperHalf(half, v)));
  } else {
    return hn::GetLane(hn::MaxOfLanes(d, v));
  }
}

// How a granule is smoothed, worked out for a run of granules before any is smoothed: the
// codes' reductions and the table addresses they give then no longer wait on the previous
// granule's sums.
enum class GranuleForm : uint8_t {
  kKept,         // every pixel kept: nothing to do
  kNoKernel,     // 3 x 3 means and kept pixels only
  kOneCode,      // one code: its kernel
  kLanes,        // codes within kLaneSpan consecutive ones: the shared offset list
  kLanesTurned,  // the same with the codes below 60 read as code + 120 (a window across 0)
  kEachCode,     // each distinct code over the whole granule
};
struct GranulePlan {
  int32_t g0;
  GranuleForm form;
  uint8_t base;  // the code (kOneCode) or the window's first code
  uint8_t span;  // the window's last code - base
};

template <class D16>
struct GranuleCodes {
  hn::Vec<D16> lanes;  // as stored: 0..126, kNoDirection, kKeepCode
  hn::Vec<D16> c;      // 120..126 read as code - 120
  hn::Mask<D16> keep;
  hn::Mask<D16> no_direction;
  hn::Mask<D16> direction;
};

template <class D16>
HWY_INLINE GranuleCodes<D16> LoadGranuleCodes(D16 d16, const uint8_t* HWY_RESTRICT codes) {
  const hn::Rebind<uint8_t, D16> d8;
  const hn::RebindToUnsigned<D16> du16;
  GranuleCodes<D16> g;
  g.lanes = hn::BitCast(d16, hn::PromoteTo(du16, hn::LoadU(d8, codes)));
  g.keep = hn::Eq(g.lanes, hn::Set(d16, int16_t{kKeepCode}));
  g.no_direction = hn::Eq(g.lanes, hn::Set(d16, int16_t{kNoDirection}));
  g.direction = hn::Not(hn::Or(g.keep, g.no_direction));
  const auto upper_codes = hn::Gt(g.lanes, hn::Set(d16, int16_t{kDirectionSteps - 1}));
  g.c = hn::IfThenElse(upper_codes, hn::Sub(g.lanes, hn::Set(d16, int16_t{kDirectionSteps})),
                       g.lanes);
  return g;
}

// Codes near 0 and near 119 are neighbours: the codes below 60 read as code + 120.
template <class D16>
HWY_INLINE hn::Vec<D16> TurnedCodes(D16 d16, hn::Vec<D16> c) {
  return hn::IfThenElse(hn::Lt(c, hn::Set(d16, int16_t{kDirectionSteps / 2})),
                        hn::Add(c, hn::Set(d16, int16_t{kDirectionSteps})), c);
}

// The plan of the granule holding the first pixel due from pixel from on (below xe), placed
// at most at limit - Lanes(d16); kKept when there is none. Without kMayKeep (no pixel of the
// span is kept) the granule is simply the one at from, so that where each granule starts no
// longer waits on the codes of the one before.
template <bool kMayKeep, class D16>
HWY_INLINE GranulePlan PlanGranule(D16 d16, const uint8_t* HWY_RESTRICT codes, int from, int xe,
                                   int limit) {
  const hn::RebindToUnsigned<D16> du16;
  const int lanes = static_cast<int>(hn::Lanes(d16));
  const int at = std::min(from, limit - lanes);
  GranuleCodes<D16> g = LoadGranuleCodes(d16, codes + at);
  int g0 = at;
  if (kMayKeep) {
    // Late level-smoothing passes leave most granules alone; the pixels before from, where the
    // last granule of a span moves left over them, are done already.
    const auto due = hn::Not(hn::Or(g.keep, hn::FirstN(d16, static_cast<size_t>(from - at))));
    if (hn::AllFalse(d16, due)) return {at, GranuleForm::kKept, 0, 0};
    const int first = at + static_cast<int>(hn::FindKnownFirstTrue(d16, due));
    if (first >= xe) return {at, GranuleForm::kKept, 0, 0};
    // The granule starts at its first pixel due (kept pixels before it need nothing), so a run
    // of due pixels spans as few granules as its length allows.
    g0 = std::min(first, limit - lanes);
    if (g0 != at) g = LoadGranuleCodes(d16, codes + g0);
  }
  // The smallest and largest code of the lanes with a direction (below 256).
  auto lowest = [&](hn::Vec<D16> v) -> int {
    return SmallestLane(
        du16, hn::BitCast(du16, hn::IfThenElse(g.direction, v, hn::Set(d16, int16_t{255}))));
  };
  auto highest = [&](hn::Vec<D16> v) -> int {
    return LargestLane(du16, hn::BitCast(du16, hn::IfThenElseZero(g.direction, v)));
  };
  const int base = lowest(g.c);
  const int top = highest(g.c);
  if (base > top) return {g0, GranuleForm::kNoKernel, 0, 0};
  if (base == top) return {g0, GranuleForm::kOneCode, static_cast<uint8_t>(base), 0};
  if (top - base < kLaneSpan) {
    return {g0, GranuleForm::kLanes, static_cast<uint8_t>(base), static_cast<uint8_t>(top - base)};
  }
  // Only granules wider than a window look at it turned.
  const auto turned = TurnedCodes(d16, g.c);
  const int turned_base = lowest(turned);
  const int turned_top = highest(turned);
  if (turned_top - turned_base < kLaneSpan) {
    // turned_base < kDirectionSteps: a turned window starts at 60 or more, and one starting at
    // 120 or more would have fit unturned.
    return {g0, GranuleForm::kLanesTurned, static_cast<uint8_t>(turned_base),
            static_cast<uint8_t>(turned_top - turned_base)};
  }
  return {g0, GranuleForm::kEachCode, 0, 0};
}

// A mask of pixels as masks of the 32-bit lanes of KernelSums that hold their sums (each pixel's
// mask doubled, in the lane order of KernelSums).
template <class D16>
struct WideMasks {
  hn::Mask<hn::RepartitionToWide<D16> > lower;
  hn::Mask<hn::RepartitionToWide<D16> > upper;
};
template <class D16>
HWY_INLINE WideMasks<D16> WidenMask(D16 d16, hn::Mask<D16> mask) {
  const hn::RepartitionToWide<D16> d32;
  const auto bits = hn::VecFromMask(d16, mask);
  return {hn::MaskFromVec(hn::BitCast(d32, hn::InterleaveLower(d16, bits, bits))),
          hn::MaskFromVec(hn::BitCast(d32, hn::InterleaveUpper(d16, bits, bits)))};
}

// The kernel sums of the granule's pixels at p (pixel plan.g0) by the plan's form; lanes
// without a kernel (kept, no direction) hold 0 or any other code's sum.
template <class D16>
HWY_INLINE KernelSums<D16> GranuleSums(D16 d16, const int16_t* HWY_RESTRICT p,
                                       const GranuleCodes<D16>& g, const MixedKernels& k,
                                       const GranulePlan& plan) {
  const hn::RepartitionToWide<D16> d32;
  const hn::RebindToUnsigned<D16> du16;
  KernelSums<D16> sums{hn::Zero(d32), hn::Zero(d32)};
  switch (plan.form) {
    case GranuleForm::kKept:
    case GranuleForm::kNoKernel:
      break;
    case GranuleForm::kOneCode:
      sums = KernelSumsAt(d16, p, k.flat[plan.base]);
      break;
    case GranuleForm::kLanes:
    case GranuleForm::kLanesTurned: {
      const auto lane_codes = plan.form == GranuleForm::kLanes ? g.c : TurnedCodes(d16, g.c);
      const auto index = hn::IfThenElseZero(
          g.direction, hn::Sub(lane_codes, hn::Set(d16, static_cast<int16_t>(plan.base))));
      const uint8_t* list = k.lanes->unions[plan.base][plan.span];
      sums = plan.span < 8 ? LaneSumsAt<false>(d16, p, index, plan.base, list, k)
                           : LaneSumsAt<true>(d16, p, index, plan.base, list, k);
      break;
    }
    case GranuleForm::kEachCode: {
      // Codes spread wider than one window (noisy directions turn through a dozen codes in a
      // granule): windows of kLaneSpan consecutive codes from the lowest code pending, each
      // through the shared offset list for the lanes whose codes it holds, or through its
      // code's own kernel when it holds one code only. Each window's sums replace those of its
      // lanes; a lane's 32-bit sums sit in the order of KernelSums (its mask doubled).
      auto pending = g.direction;
      while (!hn::AllFalse(d16, pending)) {
        const int base = SmallestLane(
            du16, hn::BitCast(du16, hn::IfThenElse(pending, g.c, hn::Set(d16, int16_t{255}))));
        const auto in_window =
            hn::And(pending, hn::Lt(g.c, hn::Set(d16, static_cast<int16_t>(base + kLaneSpan))));
        const int top = LargestLane(du16, hn::BitCast(du16, hn::IfThenElseZero(in_window, g.c)));
        KernelSums<D16> these;
        if (top == base) {
          these = KernelSumsAt(d16, p, k.flat[base]);
        } else {
          const auto index =
              hn::IfThenElseZero(in_window, hn::Sub(g.c, hn::Set(d16, static_cast<int16_t>(base))));
          const uint8_t* list = k.lanes->unions[base][top - base];
          these = top - base < 8 ? LaneSumsAt<false>(d16, p, index, base, list, k)
                                 : LaneSumsAt<true>(d16, p, index, base, list, k);
        }
        const WideMasks<D16> lanes = WidenMask(d16, in_window);
        sums.lower = hn::IfThenElse(lanes.lower, these.lower, sums.lower);
        sums.upper = hn::IfThenElse(lanes.upper, these.upper, sums.upper);
        pending = hn::AndNot(in_window, pending);
      }
      break;
    }
  }
  return sums;
}

// The granule's results into out, the kept lanes as they were.
template <class D16>
HWY_INLINE void StoreGranule(D16 d16, hn::Vec<D16> result, hn::Mask<D16> keep,
                             uint8_t* HWY_RESTRICT out) {
  const hn::Rebind<uint8_t, D16> d8;
  const hn::RebindToUnsigned<D16> du16;
  if (!hn::AllFalse(d16, keep)) {
    const auto before = hn::BitCast(d16, hn::PromoteTo(du16, hn::LoadU(d8, out)));
    // As bit operations rather than a select: GCC 12 fails to compile the select of a widening
    // load under AVX-512 masks.
    const auto keep_bits = hn::VecFromMask(d16, keep);
    result = hn::Or(hn::And(keep_bits, before), hn::AndNot(keep_bits, result));
  }
  hn::StoreU(hn::DemoteTo(d8, result), d8, out);
}

// Lanes(d16) pixels from plan.g0 on, each along its own code, kKeepCode lanes kept out. One
// division serves the granule whichever form gave its sums.
template <class D16>
HWY_INLINE void MixedGranule(D16 d16, const int16_t* HWY_RESTRICT row, std::ptrdiff_t stride,
                             const uint8_t* HWY_RESTRICT codes, const MixedKernels& k,
                             const GranulePlan& plan, uint8_t* HWY_RESTRICT out) {
  if (plan.form == GranuleForm::kKept) return;
  const int g0 = plan.g0;
  const GranuleCodes<D16> g = LoadGranuleCodes(d16, codes + g0);
  const int16_t* p = row + g0;
  const KernelSums<D16> sums = GranuleSums(d16, p, g, k, plan);
  // Lanes without a kernel get any quotient before the blends below.
  auto result = KernelQuotients(d16, sums);
  if (!hn::AllFalse(d16, g.no_direction)) {
    result = hn::IfThenElse(g.no_direction, Mean3Quotients(d16, p, stride), result);
  }
  StoreGranule(d16, result, g.keep, out + g0);
}

// The 3 x 3 sums of Lanes(d16) pixels at p (at most 2295).
template <class D16>
HWY_INLINE hn::Vec<D16> Mean3Sums(D16 d16, const int16_t* HWY_RESTRICT p, std::ptrdiff_t stride) {
  auto row_sum = [&](const int16_t* r) {
    return hn::Add(hn::Add(hn::LoadU(d16, r - 1), hn::LoadU(d16, r)), hn::LoadU(d16, r + 1));
  };
  return hn::Add(hn::Add(row_sum(p - stride), row_sum(p)), row_sum(p + stride));
}

// floor(num / den) lane by lane, for 0 <= num < 2^25 and 0 < den < 2^17, in double: the
// quotient of two such integers rounds to within 2^-45 of the true one, short of the next whole
// number by at least 1 / den, and a whole quotient comes out exact, so truncation gives the
// floor.
template <class D32>
HWY_INLINE hn::Vec<D32> DivideExactly(D32 d32, hn::Vec<D32> num, hn::Vec<D32> den) {
  const hn::Half<D32> dh;
  const hn::Rebind<double, decltype(dh)> df;
  auto half = [&](hn::Vec<decltype(dh)> n, hn::Vec<decltype(dh)> d) {
    return hn::DemoteTo(dh, hn::Div(hn::PromoteTo(df, n), hn::PromoteTo(df, d)));
  };
  return hn::Combine(d32, half(hn::UpperHalf(dh, num), hn::UpperHalf(dh, den)),
                     half(hn::LowerHalf(dh, num), hn::LowerHalf(dh, den)));
}

// The divisors of the granule at g0 from clip's table, in the lane order of KernelSums (the
// indices widened as the 3 x 3 sums are below); false for a granule clipped on two sides (a
// corner), which the table does not cover.
template <class D16>
HWY_INLINE bool TableTotals(D16 d16, const GranuleCodes<D16>& g, const BorderClip& clip, int g0,
                            KernelSums<D16>& totals) {
  const hn::RepartitionToWide<D16> d32;
  const bool left = g0 <= kKernelReach;
  const bool right = g0 >= clip.width - kBorderEndColumns;
  // Kept lanes read the no-direction entry; their quotients are blended out.
  auto index = hn::Min(g.lanes, hn::Set(d16, int16_t{kNoDirection}));
  const int32_t* base = nullptr;
  if (!left && !right) {
    base = clip.table->rows[clip.row_state];
  } else if (clip.row_state == kKernelReach) {
    // A granule at either end lies within the first or last kBorderEndColumns columns, which
    // are consecutive entries of ends.
    base = clip.table->ends[0] + (left ? g0 : 2 * kBorderEndColumns - (clip.width - g0));
    index = hn::Add(hn::Mul(index, hn::Set(d16, int16_t{2 * kBorderEndColumns})), hn::Iota(d16, 0));
  } else {
    return false;
  }
  const auto zero = hn::Zero(d16);
  totals.lower =
      hn::GatherIndex(d32, base, hn::BitCast(d32, hn::InterleaveLower(d16, index, zero)));
  totals.upper =
      hn::GatherIndex(d32, base, hn::BitCast(d32, hn::InterleaveUpper(d16, index, zero)));
  return true;
}

// MixedGranule's pixels near the image border: the same sums over the pixels (0 outside the
// image), divided exactly by the weight of the inside taps, which clip's table gives or a sum
// over the ones store.
template <class D16>
HWY_INLINE void BorderGranule(D16 d16, const int16_t* HWY_RESTRICT row,
                              const int16_t* HWY_RESTRICT ones, std::ptrdiff_t stride,
                              const uint8_t* HWY_RESTRICT codes, const MixedKernels& k,
                              const BorderClip& clip, const GranulePlan& plan,
                              uint8_t* HWY_RESTRICT out) {
  if (plan.form == GranuleForm::kKept) return;
  const hn::RepartitionToWide<D16> d32;
  const int g0 = plan.g0;
  const GranuleCodes<D16> g = LoadGranuleCodes(d16, codes + g0);
  KernelSums<D16> sums = GranuleSums(d16, row + g0, g, k, plan);
  KernelSums<D16> totals{hn::Zero(d32), hn::Zero(d32)};
  const bool tabled = clip.table != nullptr && TableTotals(d16, g, clip, g0, totals);
  if (!tabled) totals = GranuleSums(d16, ones + g0, g, k, plan);
  if (!hn::AllFalse(d16, g.no_direction)) {
    // The 3 x 3 sums and counts widened to 32 bits in the lane order of KernelSums.
    const auto zero = hn::Zero(d16);
    const auto pixels = Mean3Sums(d16, row + g0, stride);
    const WideMasks<D16> none = WidenMask(d16, g.no_direction);
    sums.lower = hn::IfThenElse(
        none.lower, hn::BitCast(d32, hn::InterleaveLower(d16, pixels, zero)), sums.lower);
    sums.upper = hn::IfThenElse(
        none.upper, hn::BitCast(d32, hn::InterleaveUpper(d16, pixels, zero)), sums.upper);
    if (!tabled) {
      const auto count = Mean3Sums(d16, ones + g0, stride);
      totals.lower = hn::IfThenElse(
          none.lower, hn::BitCast(d32, hn::InterleaveLower(d16, count, zero)), totals.lower);
      totals.upper = hn::IfThenElse(
          none.upper, hn::BitCast(d32, hn::InterleaveUpper(d16, count, zero)), totals.upper);
    }
  }
  // Kept lanes may weigh 0 (they are blended out below); every other lane weighs at least its
  // centre pixel's weight or count.
  const auto one = hn::Set(d32, 1);
  const auto result =
      hn::ReorderDemote2To(d16, DivideExactly(d32, sums.lower, hn::Max(totals.lower, one)),
                           DivideExactly(d32, sums.upper, hn::Max(totals.upper, one)));
  StoreGranule(d16, result, g.keep, out + g0);
}

// Granules of Lanes(d16) pixels from xs on, placed by PlanGranule, each smoothed by
// BorderGranule (kBorder, ones the ones store) or MixedGranule. Written out rather than with a
// callback: GCC would not inline a lambda's granule into the loop.
template <bool kBorder, class D16>
HWY_INLINE void Granules(D16 d16, const int16_t* HWY_RESTRICT row, const int16_t* HWY_RESTRICT ones,
                         std::ptrdiff_t stride, const uint8_t* HWY_RESTRICT codes,
                         const MixedKernels& kernels, const BorderClip* clip, int xs, int xe,
                         int limit, bool any_kept, uint8_t* HWY_RESTRICT out) {
  const int lanes = static_cast<int>(hn::Lanes(d16));
  constexpr int kPlans = 32;
  GranulePlan plans[kPlans];
  for (int g = xs; g < xe;) {
    int n = 0;
    for (; n < kPlans && g < xe; ++n) {
      plans[n] = any_kept ? PlanGranule<true>(d16, codes, g, xe, limit)
                          : PlanGranule<false>(d16, codes, g, xe, limit);
      g = plans[n].g0 + lanes;
    }
    for (int i = 0; i < n; ++i) {
      if (kBorder) {
        BorderGranule(d16, row, ones, stride, codes, kernels, *clip, plans[i], out);
      } else {
        MixedGranule(d16, row, stride, codes, kernels, plans[i], out);
      }
    }
  }
}

void MixedSpanImpl(const uint16_t* row, std::ptrdiff_t stride, const uint8_t* codes,
                   const MixedKernels& kernels, int xs, int xe, int limit, bool any_kept,
                   uint8_t* out) {
  const auto* pixels = reinterpret_cast<const int16_t*>(row);
  const hn::CappedTag<int16_t, kMixedGranuleLanes> wide;
  const hn::CappedTag<int16_t, kKernelBlockGranule> narrow;
  if (limit - static_cast<int>(hn::Lanes(wide)) >= kKernelReach) {
    Granules<false>(wide, pixels, nullptr, stride, codes, kernels, nullptr, xs, xe, limit, any_kept,
                    out);
  } else {
    Granules<false>(narrow, pixels, nullptr, stride, codes, kernels, nullptr, xs, xe, limit,
                    any_kept, out);
  }
}

void BorderSpanImpl(const uint16_t* row, const uint16_t* ones, std::ptrdiff_t stride,
                    const uint8_t* codes, const MixedKernels& kernels, const BorderClip& clip,
                    int xs, int xe, int limit, bool any_kept, uint8_t* out) {
  const auto* pixels = reinterpret_cast<const int16_t*>(row);
  const auto* inside = reinterpret_cast<const int16_t*>(ones);
  const hn::CappedTag<int16_t, kMixedGranuleLanes> wide;
  const hn::CappedTag<int16_t, kKernelBlockGranule> narrow;
  // The spans at the ends of a row (kKernelReach pixels) take the narrow granule: a wide one
  // would smooth ten pixels more by the border rule, which the inner span smooths again.
  if (limit >= static_cast<int>(hn::Lanes(wide)) && xe - xs > static_cast<int>(hn::Lanes(narrow))) {
    Granules<true>(wide, pixels, inside, stride, codes, kernels, &clip, xs, xe, limit, any_kept,
                   out);
  } else {
    Granules<true>(narrow, pixels, inside, stride, codes, kernels, &clip, xs, xe, limit, any_kept,
                   out);
  }
}

void KernelBlockImpl(const uint16_t* p, int n, const FlatKernel& k, uint8_t* value) {
  // The 16-bit copies hold 8-bit pixels, so they read the same as signed lanes.
  const auto* pixels = reinterpret_cast<const int16_t*>(p);
  const hn::ScalableTag<int16_t> d;
  const hn::CappedTag<int16_t, kKernelBlockGranule> granule;
  const int lanes = static_cast<int>(hn::Lanes(d));
  int j = 0;
  for (; j + lanes <= n; j += lanes) KernelVector(d, pixels + j, k, value + j);
  for (; j < n; j += kKernelBlockGranule) KernelVector(granule, pixels + j, k, value + j);
}
#endif  // HWY_TARGET == HWY_SCALAR

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace ridgeline
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ridgeline {

HWY_EXPORT(KernelBlockImpl);
HWY_EXPORT(MixedSpanImpl);
HWY_EXPORT(BorderSpanImpl);

void MixedSpanVector(const uint16_t* row, std::ptrdiff_t stride, const uint8_t* codes,
                     const MixedKernels& kernels, int xs, int xe, int limit, bool any_kept,
                     uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(MixedSpanImpl)(row, stride, codes, kernels, xs, xe, limit, any_kept, out);
}

void BorderSpanVector(const uint16_t* row, const uint16_t* ones, std::ptrdiff_t stride,
                      const uint8_t* codes, const MixedKernels& kernels, const BorderClip& clip,
                      int xs, int xe, int limit, bool any_kept, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BorderSpanImpl)
  (row, ones, stride, codes, kernels, clip, xs, xe, limit, any_kept, out);
}

void KernelBlockVector(const uint16_t* p, int n, const FlatKernel& k, uint8_t* value) {
  HWY_DYNAMIC_DISPATCH(KernelBlockImpl)(p, n, k, value);
}

}  // namespace ridgeline
#endif  // HWY_ONCE
