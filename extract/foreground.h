// The foreground mask: pixels whose neighbourhood holds too few clearly oriented pixels, and
// that lie away from every singular point, are marked as background in the direction image.
#pragma once

#include <cstdint>
#include <optional>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// A pixel is foreground when more than half of the (2 halfWindow + 1)^2 window around it
// (clipped at the image, the half rounded down) has isotropy below params.IsotropyLimit, or when
// a singular point lies within 16 pixels (squared distance below 256). Every other pixel gets
// bit 7 set in directionImage; bits 0-6 are kept. Returns MeanIsotropy: the truncated mean
// isotropy over the foreground, 255 when there is none; nullopt, with nothing marked, when the
// column counts cannot be allocated. Only the first min(Count, 100) singular points are read.
// REQUIRES: halfWindow >= 0; both images at least width x height, and not the same rows.
std::optional<uint8_t> MarkForeground(const EngineParams& params, int width, int height,
                                      GrayImage directionImage, const uint8_t* const* isotropyImage,
                                      const SingularPointList& singularPoints, int halfWindow);

}  // namespace ridgeline
