// Smooth random fields for the synthesiser: values on a coarse lattice, drawn from the caller's
// generator, joined by cubic Hermite interpolation. Used for the gentle wander of ridge
// direction and period, the wobble of the contact border and the patches of dry skin.
#pragma once

#include <vector>

#include "tools/synth/random.h"

namespace ridgeline::synth {

class SmoothNoise {
 public:
  // Covers [0, width) x [0, height) with lattice spacing cell (pixels); outside it the nearest
  // lattice cells continue. Values lie in [-1, 1].
  SmoothNoise(Rng& rng, double width, double height, double cell);

  double At(double x, double y) const;

 private:
  double cell_;
  int cols_;
  int rows_;
  std::vector<double> lattice_;
};

}  // namespace ridgeline::synth
