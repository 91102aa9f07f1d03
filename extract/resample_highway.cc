// ResampleChunks with Highway: compiled once per instruction set (foreach_target.h) and
// dispatched at run time to the best one the processor supports.
#include <cstdint>

#include "extract/resample_rows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "extract/resample_highway.cc"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace ridgeline {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
// The one-lane target lacks the byte shuffle: the caller's scalar loop does every sample.
int ResampleChunksImpl(const uint8_t*, int, const int32_t*, const uint8_t*, const int16_t*,
                       uint8_t*) {
  return 0;
}
#else
// One chunk is one 128-bit block whatever the target: the 16 source bytes from base[c] hold
// both samples of every position of the chunk, picked with the in-block byte shuffle.
int ResampleChunksImpl(const uint8_t* row, int chunks, const int32_t* base, const uint8_t* offset,
                       const int16_t* scaledWeight, uint8_t* out) {
  const hn::Full128<uint8_t> d8;
  const hn::Full64<uint8_t> d8h;
  const hn::Full128<int16_t> d16;
  const auto one = hn::Set(d8, uint8_t{1});
  const auto rounding = hn::Set(d16, int16_t{16});
  for (int c = 0; c < chunks; ++c) {
    const int x = c * kResampleChunk;
    const auto source = hn::LoadU(d8, row + base[c]);
    const auto lower_index = hn::LoadU(d8, offset + x);
    const auto a8 = hn::TableLookupBytes(source, lower_index);
    const auto b8 = hn::TableLookupBytes(source, hn::Add(lower_index, one));
    const auto a_lo = hn::PromoteTo(d16, hn::LowerHalf(d8h, a8));
    const auto a_hi = hn::PromoteTo(d16, hn::UpperHalf(d8h, a8));
    const auto b_lo = hn::PromoteTo(d16, hn::LowerHalf(d8h, b8));
    const auto b_hi = hn::PromoteTo(d16, hn::UpperHalf(d8h, b8));
    const auto w_lo = hn::LoadU(d16, scaledWeight + x);
    const auto w_hi = hn::LoadU(d16, scaledWeight + x + 8);
    const auto h_lo = hn::MulHigh(hn::ShiftLeft<7>(hn::Sub(a_lo, b_lo)), w_lo);
    const auto h_hi = hn::MulHigh(hn::ShiftLeft<7>(hn::Sub(a_hi, b_hi)), w_hi);
    const auto r_lo = hn::Add(b_lo, hn::ShiftRight<5>(hn::Add(h_lo, rounding)));
    const auto r_hi = hn::Add(b_hi, hn::ShiftRight<5>(hn::Add(h_hi, rounding)));
    // Each result lies between its two samples, so the saturating narrowing keeps it.
    hn::StoreU(hn::Combine(d8, hn::DemoteTo(d8h, r_hi), hn::DemoteTo(d8h, r_lo)), d8, out + x);
  }
  return chunks * kResampleChunk;
}
#endif  // HWY_TARGET == HWY_SCALAR

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace ridgeline
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ridgeline {

HWY_EXPORT(ResampleChunksImpl);

int ResampleChunks(const uint8_t* row, int chunks, const int32_t* base, const uint8_t* offset,
                   const int16_t* scaledWeight, uint8_t* out) {
  return HWY_DYNAMIC_DISPATCH(ResampleChunksImpl)(row, chunks, base, offset, scaledWeight, out);
}

}  // namespace ridgeline
#endif  // HWY_ONCE
