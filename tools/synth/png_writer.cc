// 8-bit grey PNG output through libpng. Only IHDR, IDAT and IEND are written, so a file depends
// on nothing but the pixels (and the zlib build that compresses them).
#include <png.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "tools/synth/synth.h"

namespace ridgeline::synth {
void WritePng(std::FILE* file, const std::string& path, const Image& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
    throw std::runtime_error("cannot write " + path + ": the image is empty or inconsistent");
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    throw std::runtime_error("cannot write " + path + ": out of memory");
  }
  // libpng reports errors by longjmp; nothing with a destructor is created past this point.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("cannot write " + path + ": libpng error");
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y) {
    png_write_row(png, &image.pixels[static_cast<size_t>(y) * image.width]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file) != 0 || std::ferror(file) != 0) {
    throw std::runtime_error("cannot write " + path + ": write error");
  }
}

}  // namespace ridgeline::synth
