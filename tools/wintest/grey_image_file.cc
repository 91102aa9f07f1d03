// TIFF and PGM readers for the sample record maker.
#include "tools/wintest/grey_image_file.h"

#include <tiffio.h>

#include <cstdio>
#include <cstring>

#include "tools/wintest/bir_record.h"

namespace ridgeline::wintest {
namespace {

// A print is a few hundred pixels a side; the limit also fits the record's 16-bit sides.
constexpr int kMaxSide = 4000;

bool SizeOk(int width, int height) {
  return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

bool ReadTiff(const std::string& path, GreyImage* image, std::string* error) {
  TIFFSetWarningHandler(nullptr);
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) {
    *error = "not a readable TIFF file";
    return false;
  }
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  bool ok = bits == 8 && samples == 1 &&
            (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
            SizeOk(static_cast<int>(width), static_cast<int>(height)) &&
            TIFFScanlineSize(tiff) == static_cast<tmsize_t>(width);
  if (!ok) {
    *error = "not an 8-bit single-channel grey TIFF of a usable size";
  } else {
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    image->pixels.assign(static_cast<size_t>(width) * height, 0);
    for (uint32_t y = 0; ok && y < height; ++y) {
      ok = TIFFReadScanline(tiff, image->pixels.data() + static_cast<size_t>(y) * width, y) >= 0;
    }
    if (!ok) *error = "truncated or unreadable TIFF image data";
    if (ok && photometric == PHOTOMETRIC_MINISWHITE) {
      for (uint8_t& pixel : image->pixels) pixel = static_cast<uint8_t>(255 - pixel);
    }
  }
  TIFFClose(tiff);
  return ok;
}

// Skips blanks and comments, then reads one decimal header field of a PGM.
bool PgmField(const std::vector<uint8_t>& bytes, size_t* at, int* value) {
  while (*at < bytes.size()) {
    if (bytes[*at] == '#') {
      while (*at < bytes.size() && bytes[*at] != '\n') ++*at;
    } else if (std::strchr(" \t\r\n", bytes[*at]) != nullptr) {
      ++*at;
    } else {
      break;
    }
  }
  long parsed = 0;
  const size_t start = *at;
  while (*at < bytes.size() && bytes[*at] >= '0' && bytes[*at] <= '9' && parsed <= kMaxSide) {
    parsed = parsed * 10 + (bytes[*at] - '0');
    ++*at;
  }
  *value = static_cast<int>(parsed);
  return *at > start && parsed <= kMaxSide;
}

bool ReadPgm(const std::vector<uint8_t>& bytes, GreyImage* image, std::string* error) {
  size_t at = 2;
  int width = 0, height = 0, max_value = 0;
  if (!PgmField(bytes, &at, &width) || !PgmField(bytes, &at, &height) ||
      !PgmField(bytes, &at, &max_value) || max_value != 255 || !SizeOk(width, height) ||
      at >= bytes.size()) {
    *error = "not a binary 8-bit PGM of a usable size";
    return false;
  }
  ++at;  // the single blank after the header
  const size_t pixel_bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (bytes.size() - at < pixel_bytes) {
    *error = "PGM pixel data is truncated";
    return false;
  }
  image->width = width;
  image->height = height;
  image->pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + pixel_bytes));
  return true;
}

}  // namespace

bool ReadGreyImage(const std::string& path, GreyImage* image, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, &bytes)) {
    *error = "cannot read the file";
    return false;
  }
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] == '5') return ReadPgm(bytes, image, error);
  if (bytes.size() >= 4 &&
      ((bytes[0] == 'I' && bytes[1] == 'I') || (bytes[0] == 'M' && bytes[1] == 'M'))) {
    return ReadTiff(path, image, error);
  }
  *error = "neither a TIFF nor a binary PGM file";
  return false;
}

}  // namespace ridgeline::wintest
