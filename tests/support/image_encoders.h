// Encoders for test fixtures in the formats the image readers take, built in memory so that a
// test can then cut, damage or wrap the bytes: baseline JPEG and JPEG 2000 codestreams of 8-bit
// grey pixels.
#pragma once

#include <cstdint>
#include <vector>

namespace ridgeline::testing {

// A baseline JPEG; a JFIF density in dots per inch when dpi > 0.
std::vector<uint8_t> EncodeJpeg(int width, int height, const std::vector<uint8_t>& pixels,
                                int dpi = 0, int quality = 95);

// A lossless (reversible 5/3) JPEG 2000 codestream.
std::vector<uint8_t> EncodeJpeg2000(int width, int height, const std::vector<uint8_t>& pixels);

}  // namespace ridgeline::testing
