// Writing 8-bit grey images as WSQ files: the wavelet-packet decomposition with the 9/7
// filters, a bit allocation over the 60 coded subbands for a target bit rate, scalar
// quantization, two Huffman tables built for the image, and a NISTCOM comment that records the
// size, the resolution and the bit rate. Files come out as other WSQ encoders write them for
// the same bit rate, and any WSQ decoder reads them.
#pragma once

#include <cstdint>
#include <vector>

#include "image/print_image.h"

namespace ridgeline::image {

// The bit rate the quantizer aims at, in bits per pixel. As usual for WSQ, files come out
// smaller than the rate suggests (about 0.5 to 0.7 bits per pixel for 0.75) because the
// allocation does not count what the zero runs save.
constexpr double kDefaultWsqBitrate = 0.75;
constexpr double kMinWsqBitrate = 0.1;
constexpr double kMaxWsqBitrate = 8.0;

// ppi: the resolution written into the comment, -1 when unknown. Throws InputError for an
// empty image, a side above 65535 or a bit rate outside kMinWsqBitrate .. kMaxWsqBitrate.
std::vector<uint8_t> EncodeWsq(const PrintImage& image, double bitrate, int ppi);

}  // namespace ridgeline::image
