// Netpbm grey and colour maps: P5 and P6 (binary), P2 and P3 (plain text). Samples of one or
// two bytes (maxval up to 65535, two bytes big-endian above 255) are scaled to 8 bits against
// the file's own maxval, so a 16-bit or a 4-bit map keeps its full range; colour becomes grey
// by the usual luma weights. A sample above maxval, a header number out of range and a file
// shorter than its raster are refused as damaged.
#include <array>
#include <cctype>
#include <limits>

#include "image/print_image.h"

namespace ridgeline::image {
namespace {

constexpr uint32_t kMaxMaxval = 65535;

class PnmParser {
 public:
  PnmParser(std::span<const uint8_t> bytes, const std::string& name) : bytes_(bytes), name_(name) {}

  InputError Damaged(const std::string& what) const {
    return InputError(name_ + ": damaged PNM (" + what + ")");
  }
  InputError Truncated() const { return InputError(name_ + ": truncated PNM"); }

  // Skips whitespace and '#' comments, then reads a decimal number. Numbers beyond `limit`
  // are refused as they are read, so no digit string can overflow.
  uint32_t Number(uint32_t limit, const char* what) {
    for (;;) {
      while (at_ < bytes_.size() && std::isspace(bytes_[at_])) ++at_;
      if (at_ < bytes_.size() && bytes_[at_] == '#') {
        while (at_ < bytes_.size() && bytes_[at_] != '\n' && bytes_[at_] != '\r') ++at_;
        continue;
      }
      break;
    }
    if (at_ >= bytes_.size()) throw Truncated();
    if (!std::isdigit(bytes_[at_])) throw Damaged(std::string("no number for the ") + what);
    uint64_t value = 0;
    while (at_ < bytes_.size() && std::isdigit(bytes_[at_])) {
      value = value * 10 + (bytes_[at_++] - '0');
      if (value > limit) throw Damaged(std::string(what) + " out of range");
    }
    return static_cast<uint32_t>(value);
  }

  // The single whitespace byte that ends the header of a binary map.
  void EndOfHeader() {
    if (at_ >= bytes_.size()) throw Truncated();
    if (!std::isspace(bytes_[at_])) throw Damaged("no whitespace after the header");
    ++at_;
  }

  // The next n bytes of a binary raster, checked to be there before any is read.
  std::span<const uint8_t> Raster(size_t n) {
    if (n > bytes_.size() - at_) throw Truncated();
    const std::span<const uint8_t> raster = bytes_.subspan(at_, n);
    at_ += n;
    return raster;
  }

  uint32_t BinarySample(bool wide) {
    const size_t width = wide ? 2 : 1;
    if (width > bytes_.size() - at_) throw Truncated();
    const uint32_t value = wide ? (bytes_[at_] << 8) | bytes_[at_ + 1] : bytes_[at_];
    at_ += width;
    return value;
  }

 private:
  std::span<const uint8_t> bytes_;
  const std::string& name_;
  size_t at_ = 2;  // after the magic number
};

}  // namespace

PrintImage DecodePnm(std::span<const uint8_t> bytes, const std::string& name) {
  if (bytes.size() < 2 || bytes[0] != 'P') throw InputError(name + ": not a PNM file");
  const char kind = static_cast<char>(bytes[1]);
  const bool plain = kind == '2' || kind == '3';
  const bool colour = kind == '3' || kind == '6';
  if (kind != '2' && kind != '3' && kind != '5' && kind != '6') {
    throw InputError(name + ": PNM type P" + std::string(1, kind) +
                     " is not supported (grey or colour maps, P2, P3, P5 or P6)");
  }
  PnmParser in(bytes, name);
  // Sides are read with a bound just past the limit so that the size message can be given.
  const int width = static_cast<int>(in.Number(kMaxImageSide + 1, "width"));
  const int height = static_cast<int>(in.Number(kMaxImageSide + 1, "height"));
  CheckImageSize(width, height, name);
  const uint32_t maxval = in.Number(kMaxMaxval, "maximum value");
  if (maxval == 0) throw in.Damaged("maximum value 0");
  if (!plain) in.EndOfHeader();

  const bool wide = maxval > 255;
  PrintImage image;
  image.width = width;
  image.height = height;
  image.format = colour ? "PPM" : "PGM";
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  image.pixels.resize(count);

  // One-byte binary samples, the common case, go through a table of the 256 possible values
  // (the scaled value, or kAboveMaxval) instead of a division per sample.
  if (!plain && !wide) {
    constexpr uint16_t kAboveMaxval = 0xFFFF;
    std::array<uint16_t, 256> scaled{};
    for (uint32_t v = 0; v < scaled.size(); ++v) {
      scaled[v] =
          v > maxval ? kAboveMaxval : static_cast<uint16_t>((v * 255 + maxval / 2) / maxval);
    }
    const size_t channels = colour ? 3 : 1;
    const std::span<const uint8_t> raster = in.Raster(count * channels);
    uint16_t seen = 0;  // or of every scaled sample: kAboveMaxval sets the bits no scaled value has
    for (size_t i = 0; i < count; ++i) {
      if (colour) {
        const uint16_t r = scaled[raster[3 * i]], g = scaled[raster[3 * i + 1]],
                       b = scaled[raster[3 * i + 2]];
        seen = static_cast<uint16_t>(seen | r | g | b);
        image.pixels[i] = static_cast<uint8_t>((299u * r + 587u * g + 114u * b + 500u) / 1000u);
      } else {
        const uint16_t v = scaled[raster[i]];
        seen = static_cast<uint16_t>(seen | v);
        image.pixels[i] = static_cast<uint8_t>(v);
      }
    }
    if (seen > 255) throw in.Damaged("a sample above the maximum value");
    return image;
  }

  auto sample = [&]() {
    const uint32_t value = plain ? in.Number(kMaxMaxval, "sample") : in.BinarySample(wide);
    if (value > maxval) throw in.Damaged("a sample above the maximum value");
    return static_cast<uint32_t>((uint64_t{value} * 255 + maxval / 2) / maxval);
  };
  for (uint8_t& pixel : image.pixels) {
    if (colour) {
      const uint32_t r = sample(), g = sample(), b = sample();
      pixel = static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
    } else {
      pixel = static_cast<uint8_t>(sample());
    }
  }
  return image;
}

}  // namespace ridgeline::image
