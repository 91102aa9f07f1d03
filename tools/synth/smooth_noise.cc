#include "tools/synth/smooth_noise.h"

#include <cmath>

#include "tools/synth/portable_math.h"

namespace ridgeline::synth {

SmoothNoise::SmoothNoise(Rng& rng, double width, double height, double cell)
    : cell_(cell),
      cols_(static_cast<int>(width / cell) + 3),
      rows_(static_cast<int>(height / cell) + 3),
      lattice_(static_cast<size_t>(cols_) * rows_) {
  for (double& value : lattice_) value = rng.Uniform(-1.0, 1.0);
}

double SmoothNoise::At(double x, double y) const {
  const double gx = Clamp(x / cell_, 0.0, cols_ - 1.0);
  const double gy = Clamp(y / cell_, 0.0, rows_ - 1.0);
  int ix = static_cast<int>(gx);
  int iy = static_cast<int>(gy);
  if (ix > cols_ - 2) ix = cols_ - 2;
  if (iy > rows_ - 2) iy = rows_ - 2;
  const double fx = SmoothStep(0.0, 1.0, gx - ix);
  const double fy = SmoothStep(0.0, 1.0, gy - iy);
  const double* row0 = &lattice_[static_cast<size_t>(iy) * cols_ + ix];
  const double* row1 = row0 + cols_;
  const double top = row0[0] + (row0[1] - row0[0]) * fx;
  const double bottom = row1[0] + (row1[1] - row1[0]) * fx;
  return top + (bottom - top) * fy;
}

}  // namespace ridgeline::synth
