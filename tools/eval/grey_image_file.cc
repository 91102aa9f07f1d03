// Colour and 16-bit images are brought to 8-bit grey by the libraries' own conversions.
#include "tools/eval/grey_image_file.h"

#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "tools/eval/fvc_protocol.h"

namespace ridgeline::eval {
namespace {

constexpr int kMaxSide = 4000;  // a print is a few hundred pixels a side

void CheckSize(long width, long height, const std::string& name) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
    throw EvalError(name + ": unusable image size " + std::to_string(width) + " x " +
                    std::to_string(height));
  }
}

GreyImage ReadTiff(const std::filesystem::path& path) {
  const std::string name = path.string();
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(name.c_str(), "r"), TIFFClose);
  if (!tiff) throw EvalError(name + ": unreadable TIFF");
  uint32_t width = 0, height = 0;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  CheckSize(width, height, name);
  std::vector<uint32_t> rgba(static_cast<size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
    throw EvalError(name + ": unsupported or damaged TIFF");
  }
  GreyImage image{static_cast<int>(width), static_cast<int>(height), {}};
  image.pixels.resize(rgba.size());
  for (size_t i = 0; i < rgba.size(); ++i) {
    const uint32_t p = rgba[i];
    image.pixels[i] = static_cast<uint8_t>(
        (299 * TIFFGetR(p) + 587 * TIFFGetG(p) + 114 * TIFFGetB(p) + 500) / 1000);
  }
  return image;
}

GreyImage ReadPng(const std::filesystem::path& path) {
  const std::string name = path.string();
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, name.c_str())) {
    throw EvalError(name + ": unreadable PNG (" + png.message + ")");
  }
  png.format = PNG_FORMAT_GRAY;
  CheckSize(png.width, png.height, name);
  GreyImage image{static_cast<int>(png.width), static_cast<int>(png.height), {}};
  image.pixels.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
    const std::string message = png.message;
    png_image_free(&png);
    throw EvalError(name + ": damaged PNG (" + message + ")");
  }
  return image;
}

GreyImage ReadPgm(const std::filesystem::path& path) {
  const std::string name = path.string();
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  long width = 0, height = 0, maxval = 0;
  in >> magic >> width >> height >> maxval;
  if (!in || magic != "P5" || maxval != 255) {
    throw EvalError(name + ": only binary 8-bit PGM (P5, maxval 255) is read");
  }
  CheckSize(width, height, name);
  in.get();  // the single white space after maxval
  GreyImage image{static_cast<int>(width), static_cast<int>(height), {}};
  image.pixels.resize(static_cast<size_t>(width) * height);
  if (!in.read(reinterpret_cast<char*>(image.pixels.data()),
               static_cast<std::streamsize>(image.pixels.size()))) {
    throw EvalError(name + ": truncated PGM");
  }
  return image;
}

}  // namespace

GreyImage ReadGreyImageFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  char head[8] = {};
  if (!in.read(head, sizeof head)) throw EvalError(path.string() + ": unreadable or too short");
  if (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0) {
    return ReadTiff(path);
  }
  if (std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) return ReadPng(path);
  if (std::memcmp(head, "P5", 2) == 0) return ReadPgm(path);
  throw EvalError(path.string() + ": not a TIFF, PNG or binary PGM image");
}

}  // namespace ridgeline::eval
