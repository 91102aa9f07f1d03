// The inner form of the oriented smoothing: one line kernel applied across a block of pixels of a
// row. SmoothingWindow keeps the kernels in this form; with Highway the block is filtered by the
// widest vector unit the processor offers, chosen at run time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/constants.h"
#include "extract/oriented_kernels.h"

namespace ridgeline {

// A kernel with each tap (dy, dx) turned into the offset dy x stride + dx of a row store, padded
// with taps of weight 0 on the centre pixel to the largest tap count so that loops have a fixed
// length. (dy, dx) are kept to clip the taps at the image border.
constexpr int kFlatTaps = 15;
struct FlatTap {
  int32_t offset;
  int32_t weight;
  int16_t dy;
  int16_t dx;
};
struct FlatKernel {
  int32_t centre;
  int32_t tap_count;  // taps past it weigh 0
  int32_t reach_x;    // the largest |dx| and |dy| of its taps
  int32_t reach_y;
  FlatTap taps[kFlatTaps];
  // The weights two by two as the vector forms multiply them: centre and tap 0, then taps
  // 2i - 1 and 2i, the first of each pair in the low 16 bits. Every weight is below 2^15.
  int32_t weight_pairs[(kFlatTaps + 1) / 2];
};
static_assert(kFlatTaps % 2 == 1, "the centre and the taps pair up exactly");

// The pair (first, second) of 16-bit weights as FlatKernel::weight_pairs stores it.
constexpr int32_t WeightPair(int32_t first, int32_t second) {
  return static_cast<int32_t>(static_cast<uint32_t>(first) | (static_cast<uint32_t>(second) << 16));
}

// floor(sum / kKernelSum) for every kernel sum of 8-bit pixels, 0 <= sum <= 255 x kKernelSum,
// without a division. With sum = 256 h + l (l < 256) and M = floor(2^31 / kKernelSum) = 19137,
// the estimate q0 = floor(h M / 2^23) never exceeds sum / kKernelSum (256 h <= sum and
// M <= 2^31 / kKernelSum), and falls short of it by less than
// 255 / kKernelSum + sum / 2^31 < 0.016 (dropping l, and M's shortfall of under 1), so q0 is the
// quotient or one less, and one comparison of the remainder settles it. Every intermediate stays
// below 2^31: h M <= 111772 x 19137 < 2^31 and q0 x kKernelSum <= sum.
constexpr uint32_t kKernelSumReciprocal = (uint32_t{1} << 31) / kKernelSum;
constexpr int32_t kLargestKernelSum = 255 * kKernelSum;
constexpr uint32_t DivideByKernelSum(uint32_t sum) {
  const uint32_t estimate = ((sum >> 8) * kKernelSumReciprocal) >> 23;
  const uint32_t rest = sum - estimate * static_cast<uint32_t>(kKernelSum);
  return estimate + (rest >= static_cast<uint32_t>(kKernelSum) ? 1 : 0);
}
static_assert(kKernelSumReciprocal == 19137);
static_assert((uint64_t{kLargestKernelSum} >> 8) * kKernelSumReciprocal < (uint64_t{1} << 31));

// The smallest block KernelBlockVector takes, and its granularity.
constexpr int kKernelBlockGranule = 8;

// value[j] = floor(kernel sum around p[j] / kKernelSum) for j < n: the pixel rule of the
// smoothing for pixels whose taps all lie inside a store of 16-bit copies of 8-bit pixels, rows
// one stride apart as k's offsets assume. Picks the widest vector unit the processor has; every
// choice gives the same bytes.
// REQUIRES: n a positive multiple of kKernelBlockGranule; every tap of k around p[0 .. n - 1]
// lies in the store.
void KernelBlockVector(const uint16_t* p, int n, const FlatKernel& k, uint8_t* value);

// The code of a pixel that a span of mixed codes leaves alone (kNoDirection takes the 3 x 3
// mean, 0..126 the kernels).
constexpr uint8_t kKeepCode = 0xFF;
// The widest granule MixedSpanVector smooths at once: wider granules meet more distinct codes.
constexpr int kMixedGranuleLanes = 16;

// The kernels of all codes over one shared list of tap offsets, for granules whose pixels turn
// through several nearby codes: each offset's pixel pairs are then summed once and multiplied
// by a weight looked up per pixel by its code, rather than once per distinct code. The 120
// kernels together use 56 distinct offsets (one of each +/- pair); a window of 16 consecutive
// codes uses at most 22 of them.
constexpr int kLaneOffsetSlots = 64;
// A slot of weight 0 for every code, read at offset 0: it pads a list to whole pairs.
constexpr int kLaneNullOffset = kLaneOffsetSlots - 1;
// The codes of a granule must lie within this many consecutive codes (modulo kDirectionSteps).
constexpr int kLaneSpan = 16;
// Weights are kept for codes 0 .. kDirectionSteps + kLaneSpan - 1, the upper ones repeating the
// first, so that a window of codes never wraps inside a row of the table.
constexpr int kLaneCodes = kDirectionSteps + kLaneSpan;
// A union list: its length (odd, padded with kLaneNullOffset), then the slots.
constexpr int kLaneUnionSlots = 24;
struct LaneKernels {
  // The tap of each slot, on the stored side; kLaneNullOffset and unused slots are (0, 0).
  int8_t dy[kLaneOffsetSlots];
  int8_t dx[kLaneOffsetSlots];
  // centre[c] and weights[slot][c]: the centre weight and the weight of slot's tap in the kernel
  // of code c mod kDirectionSteps (0 where it has no such tap). Every weight is below 2^15.
  int16_t centre[kLaneCodes];
  int16_t weights[kLaneOffsetSlots][kLaneCodes];
  // unions[base][span]: the slots used by any of the codes base .. base + span (mod
  // kDirectionSteps), in increasing order.
  uint8_t unions[kDirectionSteps][kLaneSpan][kLaneUnionSlots];
};
// Built from kOrientedKernelTable on first use; the same for every image.
const LaneKernels& SharedLaneKernels();

// What MixedSpanVector reads: the kernels by code, and the shared offset list with its slots'
// offsets in the row store (dy x stride + dx, kLaneOffsetSlots of them).
struct MixedKernels {
  const FlatKernel* flat;  // codes 0..126
  const LaneKernels* lanes;
  const int32_t* lane_offsets;
};

// out[x] for xs <= x < xe: the kernel rule along codes[x] (0..126, kernels.flat[code]), the
// 3 x 3 mean for kNoDirection, untouched for kKeepCode. row is pixel 0 of the row being
// filtered in a store of 16-bit copies of 8-bit pixels, rows stride apart. Granules of pixels
// are taken whole and may reach past xe up to limit; pixels there get the value of their own
// code, so the caller may smooth them again or already have.
// any_kept false promises that no code of codes[0 .. limit - 1] is kKeepCode: the granules
// then follow one another rather than each starting at its first pixel due.
// REQUIRES: kKernelReach <= xs < xe <= limit; limit - kKernelBlockGranule >= kKernelReach;
// every tap of every kernel around the pixels kKernelReach .. limit - 1 lies in the store;
// codes and out hold limit bytes.
void MixedSpanVector(const uint16_t* row, std::ptrdiff_t stride, const uint8_t* codes,
                     const MixedKernels& kernels, int xs, int xe, int limit, bool any_kept,
                     uint8_t* out);

// MixedSpanVector's rule where taps may fall outside the image (within kKernelReach of its
// border): the store reads 0 outside the image, and ones is a store of the same layout reading
// 1 inside and 0 outside, so a kernel sum over ones is the weight of the taps inside. Each pixel
// then gets floor(sum of its inside taps / their weight), the 3 x 3 mean floor(sum / count) of
// its inside pixels: the clipped rule, exactly. Granules are placed as MixedSpanVector's.
// REQUIRES: 0 <= xs < xe <= limit; limit >= kKernelBlockGranule; every tap of every kernel
// around the pixels 0 .. limit - 1 lies in both stores; codes and out hold limit bytes.
void BorderSpanVector(const uint16_t* row, const uint16_t* ones, std::ptrdiff_t stride,
                      const uint8_t* codes, const MixedKernels& kernels, int xs, int xe, int limit,
                      bool any_kept, uint8_t* out);

}  // namespace ridgeline
