// Writing 8-bit grey images as WSQ files: the wavelet-packet decomposition with the 9/7
// filters, a bit allocation over the 60 coded subbands for a target bit rate, scalar
// quantization, two Huffman tables built for the image, and a NISTCOM comment that records the
// size, the resolution and the bit rate. Any WSQ decoder reads the files.
#pragma once

#include <cstdint>
#include <vector>

#include "image/print_image.h"

namespace ridgeline::image {

// Bit rates in bits per pixel of the image (8 x file bytes / pixels).
constexpr double kDefaultWsqBitrate = 0.75;
constexpr double kMinWsqBitrate = 0.1;
constexpr double kMaxWsqBitrate = 8.0;

enum class WsqRateControl {
  // The file's size is made to meet the bit rate: the quantization is searched for the largest
  // file that does not exceed it (to within 2 %, or as near as the quantizer can come for tiny
  // or nearly flat images).
  kFileSize,
  // The bit rate only drives the usual bit allocation, as other WSQ encoders do: files come out
  // smaller than the rate suggests (about 0.5 to 0.7 bits per pixel for 0.75) because the
  // allocation does not count what the zero runs save. Byte for byte what those encoders write.
  kReference,
};

// ppi: the resolution written into the comment, -1 when unknown. Throws InputError for an
// empty image, a side above 65535 or a bit rate outside kMinWsqBitrate .. kMaxWsqBitrate.
std::vector<uint8_t> EncodeWsq(const PrintImage& image, double bitrate, int ppi,
                               WsqRateControl control = WsqRateControl::kFileSize);

}  // namespace ridgeline::image
