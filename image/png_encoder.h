// Encoding 8-bit grey and RGB pictures as PNG bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "image/print_image.h"

namespace ridgeline::image {

// Throws std::runtime_error when the encoder fails. REQUIRES: pixels holds
// width x height x channels bytes, channels 1 (grey) or 3 (RGB).
std::vector<uint8_t> EncodePng(int width, int height, int channels,
                               std::span<const uint8_t> pixels);

}  // namespace ridgeline::image
