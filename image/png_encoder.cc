#include "image/png_encoder.h"

#include <png.h>

#include <cassert>
#include <stdexcept>
#include <string>

namespace ridgeline::image {
namespace {

png_image Describe(int width, int height, int channels) {
  assert(channels == 1 || channels == 3);
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  return png;
}

}  // namespace

std::vector<uint8_t> EncodePng(int width, int height, int channels,
                               std::span<const uint8_t> pixels) {
  assert(pixels.size() == static_cast<size_t>(width) * height * channels);
  png_image png = Describe(width, height, channels);
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, pixels.data(), 0, nullptr)) {
    throw std::runtime_error(std::string("cannot encode the PNG (") + png.message + ")");
  }
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, pixels.data(), 0, nullptr)) {
    throw std::runtime_error(std::string("cannot encode the PNG (") + png.message + ")");
  }
  out.resize(size);
  return out;
}

}  // namespace ridgeline::image
