// BMP, binary PGM and JPEG through stb_image, asked for one grey channel. The size is read
// from the header first so that an absurd size is refused before anything is allocated. The
// declared resolution comes from the BMP info header or the JPEG JFIF segment.
#include <stb_image.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "tools/image/print_image.h"

namespace ridgeline::tools {
namespace {

int BmpDpi(std::span<const uint8_t> bytes) {
  // The info header starts at 14 with its own size; pixels per metre is at 38 (32-bit LE).
  if (bytes.size() < 42) return 0;
  const uint32_t header_size =
      bytes[14] | (bytes[15] << 8) | (bytes[16] << 16) | (uint32_t{bytes[17]} << 24);
  if (header_size < 40) return 0;
  const int32_t per_metre = static_cast<int32_t>(bytes[38] | (bytes[39] << 8) | (bytes[40] << 16) |
                                                 (uint32_t{bytes[41]} << 24));
  return per_metre > 0 ? static_cast<int>(std::lround(per_metre * 0.0254)) : 0;
}

int JpegDpi(std::span<const uint8_t> bytes) {
  // An APP0 "JFIF" segment right after the start-of-image marker: units at 13, X density at 14.
  if (bytes.size() < 20 || bytes[2] != 0xFF || bytes[3] != 0xE0) return 0;
  if (std::memcmp(bytes.data() + 6, "JFIF\0", 5) != 0) return 0;
  const int units = bytes[13];
  const int density = (bytes[14] << 8) | bytes[15];
  if (density == 0) return 0;
  if (units == 1) return density;
  if (units == 2) return static_cast<int>(std::lround(density * 2.54));
  return 0;
}

}  // namespace

PrintImage DecodeWithStb(std::span<const uint8_t> bytes, const std::string& name,
                         const std::string& format) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) throw InputError(name + ": file too large");
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  const int length = static_cast<int>(bytes.size());
  int width = 0;
  int height = 0;
  int channels = 0;
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) {
    throw InputError(name + ": unreadable " + format + " (" + stbi_failure_reason() + ")");
  }
  CheckImageSize(width, height, name);
  // stb fills the pixels a truncated PGM lacks with zeros instead of failing; a binary PGM
  // holds at least one byte per pixel after its header.
  if (format == "PGM" && bytes.size() < static_cast<size_t>(width) * height) {
    throw InputError(name + ": truncated PGM (" + std::to_string(bytes.size()) + " bytes for " +
                     std::to_string(width) + " x " + std::to_string(height) + " pixels)");
  }
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_memory(data, length, &width, &height, &channels, 1), stbi_image_free);
  if (!pixels) {
    throw InputError(name + ": damaged or truncated " + format + " (" + stbi_failure_reason() +
                     ")");
  }
  PrintImage image;
  image.width = width;
  image.height = height;
  image.format = format;
  image.pixels.assign(pixels.get(), pixels.get() + static_cast<size_t>(width) * height);
  if (format == "BMP") image.declared_dpi = BmpDpi(bytes);
  if (format == "JPEG") image.declared_dpi = JpegDpi(bytes);
  return image;
}

}  // namespace ridgeline::tools
