// Finger image records in their two big-endian interchange forms, which start with the same
// bytes ("FIR\0", version, a 48-bit record length) and differ in the general header: 36 bytes
// with a 4-byte product identifier (ANSI INCITS 381) or 32 bytes without it (ISO/IEC
// 19794-4:2005). The form is told by structure: the record length must equal the general
// header plus the finger image blocks that follow it, each of which gives its own length.
// Each block is a 14-byte finger image header and then the image data. Only the first view is
// read; its data may be uncompressed 8-bit grey or a JPEG, JPEG 2000 or PNG file.
#include <optional>

#include "image/print_image.h"
#include "image/wsq_decoder.h"

namespace ridgeline::image {
namespace {

constexpr size_t kAnsiHeaderBytes = 36;
constexpr size_t kIsoHeaderBytes = 32;
constexpr size_t kImageHeaderBytes = 14;
constexpr size_t kRecordLengthAt = 8;

// Compression codes of the general header, shared by both forms.
enum Compression : uint32_t {
  kUncompressed = 0,
  kBitPacked = 1,
  kWsq = 2,
  kJpeg = 3,
  kJpeg2000 = 4,
  kPng = 5,
};

uint64_t BigEndian(std::span<const uint8_t> bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes[at + i];
  return value;
}

// The field offsets of one form; everything after the product identifier moves by 4 bytes.
struct Layout {
  const char* format;
  size_t header_bytes;
  size_t finger_count_at;
};
constexpr Layout kAnsi{"ANSI-381", kAnsiHeaderBytes, 22};
constexpr Layout kIso{"ISO-19794-4", kIsoHeaderBytes, 18};

// True when the record's length is exactly this form's header and its finger blocks.
bool Fits(std::span<const uint8_t> record, const Layout& layout) {
  if (record.size() < layout.header_bytes + kImageHeaderBytes) return false;
  const uint64_t fingers = record[layout.finger_count_at];
  if (fingers == 0) return false;
  uint64_t at = layout.header_bytes;
  for (uint64_t i = 0; i < fingers; ++i) {
    if (at + 4 > record.size()) return false;
    const uint64_t block = BigEndian(record, static_cast<size_t>(at), 4);
    if (block < kImageHeaderBytes || block > record.size() - at) return false;
    at += block;
  }
  return at == record.size();
}

}  // namespace

PrintImage DecodeAnsi381(std::span<const uint8_t> bytes, const std::string& name) {
  if (bytes.size() < kIsoHeaderBytes + kImageHeaderBytes) {
    throw InputError(name + ": truncated finger image record (" + std::to_string(bytes.size()) +
                     " bytes)");
  }
  const uint64_t record_length = BigEndian(bytes, kRecordLengthAt, 6);
  if (record_length > bytes.size()) {
    throw InputError(name + ": truncated finger image record (" + std::to_string(bytes.size()) +
                     " of " + std::to_string(record_length) + " bytes)");
  }
  const std::span<const uint8_t> record = bytes.first(static_cast<size_t>(record_length));
  const bool ansi = Fits(record, kAnsi);
  if (!ansi && !Fits(record, kIso)) {
    throw InputError(name +
                     ": damaged finger image record (its length does not match its finger "
                     "image blocks in either the ANSI INCITS 381 or the ISO/IEC 19794-4 form)");
  }
  const Layout& layout = ansi ? kAnsi : kIso;
  const std::string form = ansi ? "ANSI INCITS 381" : "ISO/IEC 19794-4";
  // After the finger count: scale units, 4 bytes of scan resolution, the image resolution
  // (horizontal, vertical), pixel depth, compression.
  const size_t after_count = layout.finger_count_at + 1;
  const uint64_t scale_units = record[after_count];
  const uint64_t image_dpi_x = BigEndian(record, after_count + 5, 2);
  const uint64_t pixel_depth = record[after_count + 9];
  const uint64_t compression = record[after_count + 10];

  const size_t block_at = layout.header_bytes;
  const uint64_t block_length = BigEndian(record, block_at, 4);
  const int width = static_cast<int>(BigEndian(record, block_at + 9, 2));
  const int height = static_cast<int>(BigEndian(record, block_at + 11, 2));
  CheckImageSize(width, height, name);
  const std::span<const uint8_t> data =
      record.subspan(block_at + kImageHeaderBytes, block_length - kImageHeaderBytes);

  PrintImage image;
  switch (compression) {
    case kUncompressed: {
      if (pixel_depth != 8) {
        throw InputError(name + ": the " + form + " record has " + std::to_string(pixel_depth) +
                         "-bit pixels; only 8-bit grey is supported");
      }
      const size_t pixel_bytes = static_cast<size_t>(width) * height;
      if (data.size() < pixel_bytes) {
        throw InputError(name + ": the " + form + " image block is shorter than its " +
                         std::to_string(width) + " x " + std::to_string(height) + " pixels");
      }
      image.width = width;
      image.height = height;
      image.pixels.assign(data.begin(), data.begin() + static_cast<ptrdiff_t>(pixel_bytes));
      break;
    }
    case kJpeg:
      image = DecodeJpeg(data, name);
      break;
    case kJpeg2000:
      image = DecodeJpeg2000(data, name);
      break;
    case kPng:
      image = DecodePng(data, name);
      break;
    case kWsq:
      image = DecodeWsq(data, name);
      break;
    case kBitPacked:
    default:
      throw InputError(name + ": the " + form + " record's image is compressed with method " +
                       std::to_string(compression) +
                       ", which is not supported (uncompressed, WSQ, JPEG, JPEG 2000 and PNG are)");
  }
  if (image.width != width || image.height != height) {
    throw InputError(name + ": damaged " + form + " record (its header says " +
                     std::to_string(width) + " x " + std::to_string(height) +
                     " pixels, its image holds " + std::to_string(image.width) + " x " +
                     std::to_string(image.height) + ")");
  }
  image.format = layout.format;
  image.declared_dpi = 0;
  if (scale_units == 1) image.declared_dpi = static_cast<int>(image_dpi_x);
  if (scale_units == 2) image.declared_dpi = static_cast<int>((image_dpi_x * 254 + 50) / 100);
  return image;
}

}  // namespace ridgeline::image
