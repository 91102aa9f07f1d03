// Reading WSQ (wavelet scalar quantization) compressed grey-scale fingerprint images: the
// marker segments, the Huffman-coded quantized wavelet coefficients, and their reconstruction
// into 8-bit pixels. The resolution comes from the NISTCOM comment's PPI line when present.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/print_image.h"

namespace ridgeline::image {

// True when bytes start with the WSQ start-of-image marker (0xFF 0xA0).
bool StartsLikeWsq(std::span<const uint8_t> bytes);

// Decodes a whole WSQ file. The input is untrusted: every length, table index and count is
// checked, and a damaged file throws InputError naming `name` and the fault.
PrintImage DecodeWsq(std::span<const uint8_t> bytes, const std::string& name);

}  // namespace ridgeline::image
