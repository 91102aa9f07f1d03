// TIFF through libtiff, read from memory. 8-bit grey strips are copied as they are (inverted for
// white-is-zero); every other layout goes through libtiff's RGBA reader and becomes grey by the
// usual luma weights. Only the first directory (page) is read.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "image/print_image.h"

namespace ridgeline::image {
namespace {

// libtiff reads through these callbacks; the cursor never moves past the end of the bytes.
struct MemoryFile {
  std::span<const uint8_t> bytes;
  toff_t position = 0;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (size < 0 || file->position >= file->bytes.size()) return 0;
  const size_t n = std::min<size_t>(static_cast<size_t>(size), file->bytes.size() - file->position);
  std::memcpy(buffer, file->bytes.data() + file->position, n);
  file->position += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return 0; }
toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  toff_t base = 0;
  if (whence == SEEK_CUR) base = file->position;
  if (whence == SEEK_END) base = file->bytes.size();
  file->position = base + offset;
  return file->position;
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff reports through process-wide handlers; the last error text is kept per thread and
// warnings (unknown tags and the like) are dropped.
thread_local std::string last_tiff_error;
void ErrorHandler(const char*, const char* format, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  last_tiff_error = text;
}
void WarningHandler(const char*, const char*, va_list) {}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

int DeclaredDpi(TIFF* tiff) {
  float resolution = 0;
  uint16_t unit = RESUNIT_INCH;
  if (!TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &resolution) || !(resolution > 0)) return 0;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (unit == RESUNIT_INCH) return static_cast<int>(std::lround(resolution));
  if (unit == RESUNIT_CENTIMETER) return static_cast<int>(std::lround(resolution * 2.54));
  return 0;  // no absolute unit: an aspect ratio only
}

}  // namespace

PrintImage DecodeTiff(std::span<const uint8_t> bytes, const std::string& name) {
  TIFFSetErrorHandler(ErrorHandler);
  TIFFSetWarningHandler(WarningHandler);
  last_tiff_error.clear();
  MemoryFile file{bytes};
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpen(name.c_str(), "rm", &file, ReadProc,
                                                        WriteProc, SeekProc, CloseProc, SizeProc,
                                                        MapProc, UnmapProc));
  auto fail = [&](const std::string& what) {
    return InputError(name + ": " + what +
                      (last_tiff_error.empty() ? "" : " (" + last_tiff_error + ")"));
  };
  if (!tiff) throw fail("unreadable TIFF");
  uint32_t width = 0;
  uint32_t height = 0;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  CheckImageSize(static_cast<int>(std::min<uint32_t>(width, kMaxImageSide + 1)),
                 static_cast<int>(std::min<uint32_t>(height, kMaxImageSide + 1)), name);

  uint16_t bits = 1;
  uint16_t samples = 1;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);

  PrintImage image;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.format = "TIFF";
  image.declared_dpi = DeclaredDpi(tiff.get());
  image.pixels.resize(static_cast<size_t>(width) * height);

  const bool plain_grey =
      bits == 8 && samples == 1 && !TIFFIsTiled(tiff.get()) &&
      (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE);
  if (plain_grey && TIFFScanlineSize(tiff.get()) == static_cast<tmsize_t>(width)) {
    for (uint32_t y = 0; y < height; ++y) {
      if (TIFFReadScanline(tiff.get(), image.pixels.data() + static_cast<size_t>(y) * width, y) <
          0) {
        throw fail("damaged or truncated TIFF at row " + std::to_string(y));
      }
    }
    if (photometric == PHOTOMETRIC_MINISWHITE) {
      for (uint8_t& p : image.pixels) p = static_cast<uint8_t>(255 - p);
    }
    return image;
  }
  std::vector<uint32_t> rgba(static_cast<size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
    throw fail("unsupported or damaged TIFF");
  }
  for (size_t i = 0; i < rgba.size(); ++i) {
    const uint32_t p = rgba[i];
    const uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
    const uint32_t luma = (299 * r + 587 * g + 114 * b + 500) / 1000;
    // Transparent parts show the white platen.
    image.pixels[i] = static_cast<uint8_t>((luma * a + 255 * (255 - a) + 127) / 255);
  }
  return image;
}

}  // namespace ridgeline::image
