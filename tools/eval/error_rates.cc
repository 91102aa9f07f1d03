// Rates are counted on sorted lists with binary searches; the curve walks the merged distinct
// scores once.
#include "tools/eval/error_rates.h"

#include <algorithm>

namespace ridgeline::eval {
namespace {

// Scores at or above threshold.
size_t CountAtOrAbove(const std::vector<int>& sorted, int threshold) {
  return static_cast<size_t>(sorted.end() -
                             std::lower_bound(sorted.begin(), sorted.end(), threshold));
}

double Fraction(size_t count, size_t total) {
  return total == 0 ? 0.0 : static_cast<double>(count) / static_cast<double>(total);
}

}  // namespace

ErrorRates::ErrorRates(std::span<const int> genuine, std::span<const int> impostor)
    : genuine_(genuine.begin(), genuine.end()), impostor_(impostor.begin(), impostor.end()) {
  std::sort(genuine_.begin(), genuine_.end());
  std::sort(impostor_.begin(), impostor_.end());
}

double ErrorRates::FalseMatchRate(int threshold) const {
  return Fraction(CountAtOrAbove(impostor_, threshold), impostor_.size());
}

double ErrorRates::FalseNonMatchRate(int threshold) const {
  return Fraction(genuine_.size() - CountAtOrAbove(genuine_, threshold), genuine_.size());
}

std::vector<ErrorPoint> ErrorRates::Curve() const {
  std::vector<int> thresholds;
  thresholds.reserve(genuine_.size() + impostor_.size() + 1);
  std::merge(genuine_.begin(), genuine_.end(), impostor_.begin(), impostor_.end(),
             std::back_inserter(thresholds));
  thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
  if (thresholds.empty()) return {};
  // Nothing matches one above the highest score.
  thresholds.push_back(thresholds.back() + 1);
  std::vector<ErrorPoint> curve;
  curve.reserve(thresholds.size());
  for (int t : thresholds) curve.push_back({t, FalseMatchRate(t), FalseNonMatchRate(t)});
  return curve;
}

std::optional<double> ErrorRates::EqualErrorRate() const {
  if (genuine_.empty() || impostor_.empty()) return std::nullopt;
  const std::vector<ErrorPoint> curve = Curve();
  // The first point has FMR 1 and FNMR 0, the last FMR 0 and FNMR 1, so the difference
  // FNMR - FMR turns from negative to non-negative exactly once along the curve.
  for (size_t k = 1; k < curve.size(); ++k) {
    const double after = curve[k].fnmr - curve[k].fmr;
    if (after < 0) continue;
    const ErrorPoint& p = curve[k - 1];
    const double before = p.fnmr - p.fmr;
    const double along = before / (before - after);
    return p.fmr + along * (curve[k].fmr - p.fmr);
  }
  return std::nullopt;  // unreachable with both lists non-empty
}

std::optional<ErrorPoint> ErrorRates::FnmrAtFmr(double max_fmr) const {
  if (genuine_.empty() || impostor_.empty()) return std::nullopt;
  // Counting in whole comparisons keeps 1 % of 1000 at exactly 10 false matches.
  const double allowed = max_fmr * static_cast<double>(impostor_.size()) + 1e-9;
  for (const ErrorPoint& point : Curve()) {
    if (static_cast<double>(CountAtOrAbove(impostor_, point.threshold)) <= allowed) return point;
  }
  return std::nullopt;  // unreachable: the last point has no false match
}

}  // namespace ridgeline::eval
