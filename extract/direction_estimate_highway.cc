// The row form of the direction estimate and the row loops of its gradient windows, compiled
// once per instruction set (foreach_target.h) and dispatched at run time to the best one the
// processor supports: the loops are the same, the vectoriser makes them as wide as each set
// allows.
#include <cstddef>
#include <cstdint>

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
                     size_t stride, uint16_t* out) {
  gradient_rows::GradientRow(above, row, below, width, stride, out);
}

void StepColumnsImpl(uint32_t* column, const uint16_t* entering, const uint16_t* leaving,
                     size_t lanes) {
  gradient_rows::StepColumns(column, entering, leaving, lanes);
}

namespace hn = hwy::HWY_NAMESPACE;

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
HWY_INLINE void BoxRowBlocks(const uint16_t* HWY_RESTRICT gradients, size_t stride, int width,
                             gradient_rows::WindowSplit split, T* HWY_RESTRICT runs,
                             T* HWY_RESTRICT out, size_t out_stride) {
  constexpr size_t kBlock = gradient_rows::kBlock;
  const auto run = static_cast<size_t>(split.run);
  BoxBlocks<T> acc;
  if (split.run > 1) {
    const size_t lanes = gradient_rows::kGradients * stride;
    for (size_t j = 0; j < lanes; j += kBlock) {
      acc.Sum(gradients + j, 1, split.run);
      acc.Store(runs + j);
    }
  }
  const size_t tail = run * static_cast<size_t>(split.runs);
  for (int g = 0; g < gradient_rows::kGradients; ++g) {
    const uint16_t* HWY_RESTRICT plane = gradients + static_cast<size_t>(g) * stride;
    const T* HWY_RESTRICT run_plane = runs + static_cast<size_t>(g) * stride;
    T* HWY_RESTRICT row = out + static_cast<size_t>(g) * out_stride;
    for (size_t x = 0; x < static_cast<size_t>(width); x += kBlock) {
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

void BoxRow16Impl(const uint16_t* gradients, size_t stride, int width,
                  gradient_rows::WindowSplit split, uint16_t* runs, uint16_t* out,
                  size_t out_stride) {
  BoxRowBlocks(gradients, stride, width, split, runs, out, out_stride);
}

void BoxRow32Impl(const uint16_t* gradients, size_t stride, int width,
                  gradient_rows::WindowSplit split, uint32_t* runs, uint32_t* out,
                  size_t out_stride) {
  BoxRowBlocks(gradients, stride, width, split, runs, out, out_stride);
}

void RefreshRowImpl(const refresh_row::LevelSteps& steps, const uint8_t* codes,
                    const int32_t* anisotropies, const uint8_t* spared, int width,
                    uint8_t* direction, uint8_t* level) {
  refresh_row::RefreshRow(steps, codes, anisotropies, spared, width, direction, level);
}

void StepColumns32Impl(uint32_t* column, const uint32_t* entering, const uint32_t* leaving,
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
HWY_EXPORT(BoxRow16Impl);
HWY_EXPORT(BoxRow32Impl);
HWY_EXPORT(StepColumns32Impl);
HWY_EXPORT(RefreshRowImpl);

void GradientRowVector(const uint8_t* above, const uint8_t* row, const uint8_t* below, int width,
                       size_t stride, uint16_t* out) {
  HWY_DYNAMIC_DISPATCH(GradientRowImpl)(above, row, below, width, stride, out);
}

void StepColumnsVector(uint32_t* column, const uint16_t* entering, const uint16_t* leaving,
                       size_t lanes) {
  HWY_DYNAMIC_DISPATCH(StepColumnsImpl)(column, entering, leaving, lanes);
}

void StepColumnsVector(uint32_t* column, const uint32_t* entering, const uint32_t* leaving,
                       size_t lanes) {
  HWY_DYNAMIC_DISPATCH(StepColumns32Impl)(column, entering, leaving, lanes);
}

void RefreshRowVector(const refresh_row::LevelSteps& steps, const uint8_t* codes,
                      const int32_t* anisotropies, const uint8_t* spared, int width,
                      uint8_t* direction, uint8_t* level) {
  HWY_DYNAMIC_DISPATCH(RefreshRowImpl)(steps, codes, anisotropies, spared, width, direction, level);
}

void BoxRowVector(const uint16_t* gradients, size_t stride, int width,
                  gradient_rows::WindowSplit split, uint16_t* runs, uint16_t* out,
                  size_t out_stride) {
  HWY_DYNAMIC_DISPATCH(BoxRow16Impl)(gradients, stride, width, split, runs, out, out_stride);
}

void BoxRowVector(const uint16_t* gradients, size_t stride, int width,
                  gradient_rows::WindowSplit split, uint32_t* runs, uint32_t* out,
                  size_t out_stride) {
  HWY_DYNAMIC_DISPATCH(BoxRow32Impl)(gradients, stride, width, split, runs, out, out_stride);
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
