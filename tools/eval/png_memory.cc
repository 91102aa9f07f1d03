#include "tools/eval/png_memory.h"

#include <png.h>

#include <cstring>
#include <stdexcept>

namespace ridgeline::eval {

std::vector<uint8_t> EncodeGreyPng(const GreyImage& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), 0, nullptr)) {
    throw std::runtime_error(std::string("PNG encoding failed: ") + png.message);
  }
  std::vector<uint8_t> bytes(size);
  if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, image.pixels.data(), 0, nullptr)) {
    throw std::runtime_error(std::string("PNG encoding failed: ") + png.message);
  }
  bytes.resize(size);
  return bytes;
}

}  // namespace ridgeline::eval
