// PNG through libpng's simplified reader: any colour type and depth becomes 8-bit grey,
// transparency is composited onto white (the colour of an empty platen). The resolution comes
// from the pHYs chunk when its unit is the metre.
#include <png.h>

#include <cmath>
#include <cstring>

#include "image/print_image.h"

namespace ridgeline::image {
namespace {

uint32_t ReadBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Walks the chunk list after the signature; every length is checked against the end.
int DeclaredDpi(std::span<const uint8_t> bytes) {
  size_t at = 8;
  while (at + 8 <= bytes.size()) {
    const uint32_t length = ReadBigEndian32(bytes.data() + at);
    const uint8_t* type = bytes.data() + at + 4;
    if (length > bytes.size() - at - 8) return 0;
    if (std::memcmp(type, "pHYs", 4) == 0 && length >= 9) {
      const uint8_t* data = type + 4;
      const uint32_t per_metre = ReadBigEndian32(data);
      if (data[8] != 1 || per_metre == 0) return 0;
      return static_cast<int>(std::lround(per_metre * 0.0254));
    }
    if (std::memcmp(type, "IDAT", 4) == 0) return 0;  // pHYs must come before the image data
    at += 12 + static_cast<size_t>(length);
  }
  return 0;
}

}  // namespace

PrintImage DecodePng(std::span<const uint8_t> bytes, const std::string& name) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
    const std::string reason = png.message;
    png_image_free(&png);
    throw InputError(name + ": unreadable PNG (" + reason + ")");
  }
  const int width = static_cast<int>(png.width);
  const int height = static_cast<int>(png.height);
  try {
    CheckImageSize(width, height, name);
  } catch (...) {
    png_image_free(&png);
    throw;
  }
  png.format = PNG_FORMAT_GRAY;
  PrintImage image;
  image.width = width;
  image.height = height;
  image.format = "PNG";
  image.pixels.resize(static_cast<size_t>(width) * height);
  const png_color white{255, 255, 255};
  if (!png_image_finish_read(&png, &white, image.pixels.data(), width, nullptr)) {
    const std::string reason = png.message;
    png_image_free(&png);
    throw InputError(name + ": damaged or truncated PNG (" + reason + ")");
  }
  image.declared_dpi = DeclaredDpi(bytes);
  return image;
}

}  // namespace ridgeline::image
