// ANSI INCITS 381 finger image records (the big-endian interchange form): a 36-byte general
// header ("FIR\0", version, record length, resolution, pixel depth, compression) and then one
// 14-byte finger image header before the pixels. Only the first view is read, and only
// uncompressed 8-bit grey: the host has no codec for the compressed forms.
#include <optional>

#include "tools/image/print_image.h"
#include "tools/image/wsq_decoder.h"

namespace ridgeline::tools {
namespace {

constexpr size_t kGeneralHeaderBytes = 36;
constexpr size_t kImageHeaderBytes = 14;
constexpr uint32_t kCompressionWsq = 2;

// A cursor over untrusted bytes; every read fails past the end instead of reading beyond it.
class BigEndianReader {
 public:
  explicit BigEndianReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Skip(size_t n) {
    if (n > bytes_.size() - at_) return false;
    at_ += n;
    return true;
  }
  std::optional<uint32_t> Read(size_t width) {
    if (width > bytes_.size() - at_) return std::nullopt;
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes_[at_ + i];
    at_ += width;
    return value;
  }
  size_t position() const { return at_; }
  size_t remaining() const { return bytes_.size() - at_; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

int DeclaredDpi(uint32_t scale_units, uint32_t dpi) {
  if (scale_units == 1) return static_cast<int>(dpi);
  if (scale_units == 2) return static_cast<int>((dpi * 254 + 50) / 100);
  return 0;
}

// A WSQ-compressed image block: the WSQ file fills the block after its header, and its size must
// be the one the header gives.
PrintImage DecodeAnsi381Wsq(std::span<const uint8_t> rest, uint32_t block_length, int width,
                            int height, uint32_t scale_units, uint32_t dpi,
                            const std::string& name) {
  if (block_length < kImageHeaderBytes || block_length - kImageHeaderBytes > rest.size()) {
    throw InputError(name + ": the ANSI INCITS 381 image block runs past the end of the record");
  }
  PrintImage image = DecodeWsq(rest.first(block_length - kImageHeaderBytes), name);
  if (image.width != width || image.height != height) {
    throw InputError(name + ": the ANSI INCITS 381 record says " + std::to_string(width) + " x " +
                     std::to_string(height) + " pixels but its WSQ image has " +
                     std::to_string(image.width) + " x " + std::to_string(image.height));
  }
  image.format = "ANSI-381";
  image.declared_dpi = DeclaredDpi(scale_units, dpi);
  return image;
}

}  // namespace

PrintImage DecodeAnsi381(std::span<const uint8_t> bytes, const std::string& name) {
  auto truncated = [&] {
    return InputError(name + ": truncated ANSI INCITS 381 record (" + std::to_string(bytes.size()) +
                      " bytes)");
  };
  if (bytes.size() < kGeneralHeaderBytes + kImageHeaderBytes) throw truncated();
  BigEndianReader in(bytes);
  in.Skip(4);  // "FIR\0"
  in.Skip(4);  // version, e.g. "010\0"
  in.Skip(6);  // record length (48 bits)
  in.Skip(4);  // product identifier
  in.Skip(2);  // capture device
  in.Skip(2);  // acquisition level
  const uint32_t finger_count = *in.Read(1);
  const uint32_t scale_units = *in.Read(1);
  in.Skip(4);  // scan resolution
  const uint32_t image_dpi_x = *in.Read(2);
  in.Skip(2);  // vertical image resolution
  const uint32_t pixel_depth = *in.Read(1);
  const uint32_t compression = *in.Read(1);
  in.Skip(2);  // reserved
  if (finger_count == 0) throw InputError(name + ": the ANSI INCITS 381 record holds no image");
  if (compression != 0 && compression != kCompressionWsq) {
    throw InputError(name + ": the ANSI INCITS 381 record is compressed (algorithm " +
                     std::to_string(compression) +
                     "); only uncompressed and WSQ records are supported, convert it to PNG "
                     "first");
  }
  if (pixel_depth != 8) {
    throw InputError(name + ": the ANSI INCITS 381 record has " + std::to_string(pixel_depth) +
                     "-bit pixels; only 8-bit grey is supported");
  }
  const uint32_t block_length = *in.Read(4);
  in.Skip(5);  // position, view count, view number, quality, impression type
  const int width = static_cast<int>(*in.Read(2));
  const int height = static_cast<int>(*in.Read(2));
  in.Skip(1);  // reserved
  CheckImageSize(width, height, name);
  if (compression == kCompressionWsq) {
    return DecodeAnsi381Wsq(bytes.subspan(in.position()), block_length, width, height, scale_units,
                            image_dpi_x, name);
  }
  const size_t pixel_bytes = static_cast<size_t>(width) * height;
  if (block_length < kImageHeaderBytes + pixel_bytes) {
    throw InputError(name + ": the ANSI INCITS 381 image block is shorter than its " +
                     std::to_string(width) + " x " + std::to_string(height) + " pixels");
  }
  if (in.remaining() < pixel_bytes) throw truncated();
  PrintImage image;
  image.width = width;
  image.height = height;
  image.format = "ANSI-381";
  const uint8_t* pixels = bytes.data() + in.position();
  image.pixels.assign(pixels, pixels + pixel_bytes);
  if (scale_units == 1) image.declared_dpi = static_cast<int>(image_dpi_x);
  if (scale_units == 2) image.declared_dpi = static_cast<int>((image_dpi_x * 254 + 50) / 100);
  return image;
}

}  // namespace ridgeline::tools
