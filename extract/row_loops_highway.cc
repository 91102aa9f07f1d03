// The row loops of row_loops.h compiled once per instruction set (foreach_target.h) and
// dispatched at run time to the best one the processor supports. The loops are the shared
// plain ones (row_loops_inl.h): inside each target's namespace the compiler vectorises them
// with that target's lanes and instructions.
#include <cstdint>

#include "extract/direction_from_variations.h"
#include "extract/row_loops.h"

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

void BinarizeThreeWindowsImpl(const uint8_t* source, const uint8_t* chosen,
                              const int32_t* const* sums, const int32_t* const* columns,
                              const int32_t* rows, int width, uint8_t* out) {
  BinarizeThreeWindowsLoop(source, chosen, sums[0], sums[1], sums[2], columns[0], columns[1],
                           columns[2], rows[0], rows[1], rows[2], width, out);
}

void BinarizeOneWindowImpl(const uint8_t* source, const int32_t* sum, const int32_t* columns,
                           int32_t rows, int width, uint8_t* out) {
  BinarizeOneWindowLoop(source, sum, columns, rows, width, out);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace ridgeline
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ridgeline {

HWY_EXPORT(EstimateWholeWindowsImpl);
HWY_EXPORT(BinarizeThreeWindowsImpl);
HWY_EXPORT(BinarizeOneWindowImpl);

void EstimateWholeWindows(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                          const int32_t* w90, int begin, int end, int32_t threshold,
                          uint8_t* dir_out, uint8_t* iso_out) {
  HWY_DYNAMIC_DISPATCH(EstimateWholeWindowsImpl)
  (w0, w30, w60, w90, begin, end, threshold, dir_out, iso_out);
}

void BinarizeThreeWindows(const uint8_t* source, const uint8_t* chosen,
                          const int32_t* const sums[3], const int32_t* const columns[3],
                          const int32_t rows[3], int width, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BinarizeThreeWindowsImpl)(source, chosen, sums, columns, rows, width, out);
}

void BinarizeOneWindow(const uint8_t* source, const int32_t* sum, const int32_t* columns,
                       int32_t rows, int width, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(BinarizeOneWindowImpl)(source, sum, columns, rows, width, out);
}

}  // namespace ridgeline
#endif  // HWY_ONCE
