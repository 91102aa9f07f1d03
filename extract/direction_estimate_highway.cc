// The row form of the direction estimate and the row loops of its gradient windows, compiled
// once per instruction set (foreach_target.h) and dispatched at run time to the best one the
// processor supports: the loops are the same, the vectoriser makes them as wide as each set
// allows.
#include <cstddef>
#include <cstdint>

#include "extract/direction_estimate_row.h"
#include "extract/direction_estimate_vector.h"
#include "extract/gradient_window_rows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "extract/direction_estimate_highway.cc"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace ridgeline {
namespace HWY_NAMESPACE {

void EstimateCodesImpl(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                       const int32_t* diagonal2, int count, uint8_t* codes) {
  direction_estimate::EstimateLanes<false>(horizontal, diagonal1, vertical, diagonal2, count, codes,
                                           nullptr);
}

void EstimateRowImpl(const int32_t* horizontal, const int32_t* diagonal1, const int32_t* vertical,
                     const int32_t* diagonal2, int count, uint8_t* codes, int32_t* anisotropies) {
  direction_estimate::EstimateLanes<true>(horizontal, diagonal1, vertical, diagonal2, count, codes,
                                          anisotropies);
}

void GradientRowImpl(const uint8_t* above, const uint8_t* row, const uint8_t* below, int width,
                     uint16_t* out) {
  gradient_rows::GradientRow(above, row, below, width, out);
}

void StepColumnsImpl(uint32_t* column, const uint16_t* entering, const uint16_t* leaving,
                     size_t lanes) {
  gradient_rows::StepColumns(column, entering, leaving, lanes);
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

void GradientRowVector(const uint8_t* above, const uint8_t* row, const uint8_t* below, int width,
                       uint16_t* out) {
  HWY_DYNAMIC_DISPATCH(GradientRowImpl)(above, row, below, width, out);
}

void StepColumnsVector(uint32_t* column, const uint16_t* entering, const uint16_t* leaving,
                       size_t lanes) {
  HWY_DYNAMIC_DISPATCH(StepColumnsImpl)(column, entering, leaving, lanes);
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
