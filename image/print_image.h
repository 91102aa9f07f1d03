// An image as the host hands it towards the sensor side: 8-bit grey, one byte per pixel, rows of
// exactly `width` bytes, top row first, with the resolution its file declared (0 when none).
// Every reader of an outside file reports a bad file by throwing InputError with a message
// that names the file and says what is wrong with it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace ridgeline::image {

// A file that cannot be used as a fingerprint image: the tool reports it and exits with 2.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PrintImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width x height bytes
  int declared_dpi = 0;         // horizontal resolution from the file; 0 when it declares none
  std::string format;           // "PNG", "BMP", "PGM", "PPM", "JPEG", "JPEG2000", "TIFF", "WSQ",
                                // "ANSI-381", "ISO-19794-4"

  uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Limits on what the readers accept. A fingerprint image is a few hundred pixels a side; the
// side limit keeps a hostile header from asking for gigabytes.
constexpr int kMaxImageSide = 4000;
constexpr uintmax_t kMaxImageFileBytes = 64u << 20;

// Reads a PNG, BMP, PGM/PPM, JPEG, JPEG 2000, TIFF, WSQ or finger image record (ANSI INCITS 381
// or ISO/IEC 19794-4), recognised by its leading bytes (not its name), and converts it to 8-bit
// grey.
PrintImage ReadPrintImage(const std::filesystem::path& path);

// The same from bytes already in memory; `name` is used in messages.
PrintImage DecodePrintImage(std::span<const uint8_t> bytes, const std::string& name);

// Format readers; each takes the whole file. REQUIRES: bytes start with the format's signature.
PrintImage DecodePng(std::span<const uint8_t> bytes, const std::string& name);
PrintImage DecodeTiff(std::span<const uint8_t> bytes, const std::string& name);
// Finger image records of either interchange form.
PrintImage DecodeAnsi381(std::span<const uint8_t> bytes, const std::string& name);
PrintImage DecodeBmp(std::span<const uint8_t> bytes, const std::string& name);
// P2, P3, P5 and P6 maps.
PrintImage DecodePnm(std::span<const uint8_t> bytes, const std::string& name);
PrintImage DecodeJpeg(std::span<const uint8_t> bytes, const std::string& name);
// A JPEG 2000 codestream or JP2 file.
PrintImage DecodeJpeg2000(std::span<const uint8_t> bytes, const std::string& name);

// Checks a decoded size against the limits; throws InputError naming the file otherwise.
void CheckImageSize(int width, int height, const std::string& name);

}  // namespace ridgeline::image

// The tools (the command, the host, the evaluation) read and write images through this layer
// and use its names as their own.
namespace ridgeline::tools {
using namespace ridgeline::image;
}  // namespace ridgeline::tools
