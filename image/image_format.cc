#include "image/image_format.h"

#include <algorithm>
#include <cctype>

namespace ridgeline::image {

std::optional<ImageFileFormat> ImageFormatNamed(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "pgm") return ImageFileFormat::kPgm;
  if (lower == "png") return ImageFileFormat::kPng;
  if (lower == "wsq") return ImageFileFormat::kWsq;
  return std::nullopt;
}

std::optional<ImageFileFormat> ImageFormatOf(const std::filesystem::path& path) {
  const std::string extension = path.extension().string();
  if (extension.size() < 2) return std::nullopt;
  return ImageFormatNamed(extension.substr(1));
}

std::vector<uint8_t> EncodePgm(const PrintImage& image) {
  const std::string header =
      "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
  std::vector<uint8_t> out(header.begin(), header.end());
  out.insert(out.end(), image.pixels.begin(), image.pixels.end());
  return out;
}

}  // namespace ridgeline::image
