// Error rates of a verification system from its genuine and impostor score lists: the false
// match and false non-match rates at a threshold, the equal error rate and the operating points
// that evaluations of fingerprint systems report (FMR100, FMR1000, ZeroFMR). A comparison is a
// match when its score is at or above the threshold. Rates are fractions 0..1.
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace ridgeline::eval {

// One point of the trade-off between the two error rates.
struct ErrorPoint {
  int threshold;  // a comparison matches when score >= threshold
  double fmr;     // impostor scores >= threshold, over all impostor scores
  double fnmr;    // genuine scores < threshold, over all genuine scores
};

class ErrorRates {
 public:
  // Keeps sorted copies of both lists. Either may be empty; the figures that need it are then
  // absent.
  ErrorRates(std::span<const int> genuine, std::span<const int> impostor);

  int genuine_count() const { return static_cast<int>(genuine_.size()); }
  int impostor_count() const { return static_cast<int>(impostor_.size()); }

  // 0 when the list is empty.
  double FalseMatchRate(int threshold) const;
  double FalseNonMatchRate(int threshold) const;

  // Every distinct operating point, by rising threshold: the lowest threshold (everything
  // matches, FNMR 0) and one point per distinct score above it, ending one above the highest
  // score (nothing matches, FMR 0). FMR falls and FNMR rises along the list.
  std::vector<ErrorPoint> Curve() const;

  // Where the two rates cross: between the last point with FNMR < FMR and the next one the
  // curve is taken as the straight segment joining the two points, and the rate where both are
  // equal on it is returned. Absent when either list is empty.
  std::optional<double> EqualErrorRate() const;

  // The FNMR at the lowest threshold whose FMR is at or below max_fmr (the lowest FNMR that
  // keeps the FMR there). FMR100 is FnmrAtFmr(0.01), FMR1000 FnmrAtFmr(0.001) and ZeroFMR
  // FnmrAtFmr(0). Absent when either list is empty.
  std::optional<ErrorPoint> FnmrAtFmr(double max_fmr) const;

 private:
  std::vector<int> genuine_;   // ascending
  std::vector<int> impostor_;  // ascending
};

}  // namespace ridgeline::eval
