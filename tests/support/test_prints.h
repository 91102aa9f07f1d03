// Synthetic prints for the adapter's comparison tests: a print, a genuine capture of it, an
// impostor, the print turned upside down, and two captures that score just at and just below
// the default threshold against the print's template.
#pragma once

#include <cstdint>

#include "match/match_coord.h"
#include "tests/support/features.h"

namespace ridgeline::testing {

constexpr int kPrintGrid = 20;  // blocks a side: the whole grid fits a template uncropped
constexpr int kPrintMinutiae = 36;
constexpr int kPrintSpacing = 14;

inline void MakePrint(uint32_t seed, TestFeatureSet* out) {
  MakeSyntheticPrint(seed, kPrintMinutiae, kPrintGrid, kPrintGrid, kPrintSpacing, out);
}

// The print seen again: turned by 8 degrees, shifted, one pixel of noise.
inline void MakeGenuineCapture(const FeatureSet& print, TestFeatureSet* out) {
  MakeMovedCopy(print, {8, 5, -3, 0, 1, 3}, out);
}

inline void MakeUpsideDown(const FeatureSet& print, TestFeatureSet* out) {
  RotateFeatureSet180(out->get(), print);
}

// A print of 40 minutiae (seed 20) and a capture that shares only 11 of them with it, the rest
// coming from another print. With these motions the capture scores exactly 325 (kAtThreshold)
// or 324 (kBelowThreshold) against the print's template at the default match parameters.
struct Borderline {
  int degrees;
  int jitter;
};
constexpr Borderline kAtThreshold = {0, 3};
constexpr Borderline kBelowThreshold = {6, 0};

inline void MakeBorderlinePrint(TestFeatureSet* out) {
  MakeSyntheticPrint(20, 40, kPrintGrid, kPrintGrid, kPrintSpacing, out);
}

inline void MakeBorderlineCapture(const FeatureSet& print, Borderline how, TestFeatureSet* out) {
  constexpr int kShared = 11;
  MakeMovedCopy(print, {how.degrees, 5, -3, 0, how.jitter, 7}, out);
  out->Truncate(kShared);
  TestFeatureSet other(kPrintGrid, kPrintGrid);
  MakeSyntheticPrint(1020, 40, kPrintGrid, kPrintGrid, kPrintSpacing, &other);
  for (int j = 0; j < 40 - kShared; ++j) {
    out->Add(
        {(*other).X[j], (*other).Y[j], (*other).Angle[j], (*other).Variation[j], (*other).Type[j]});
  }
}

}  // namespace ridgeline::testing
