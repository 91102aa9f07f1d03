// BMP (Windows and OS/2 bitmaps), uncompressed: 1, 4 and 8 bits through a palette, 24 and 32
// bits of colour (32 with or without bit-field masks), rows bottom-up or top-down (negative
// height). Colour becomes grey by the usual luma weights. Every field is checked against the
// file before it is used: sizes, offsets, the palette and each palette index. A file shorter
// than its rows is refused as truncated rather than padded.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "image/byte_cursor.h"
#include "image/print_image.h"

namespace ridgeline::image {
namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;  // OS/2 1.x: 16-bit sizes, 3-byte palette entries
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;  // mask >> shift
};

Channel FromMask(uint32_t mask) {
  Channel channel;
  channel.mask = mask;
  if (mask == 0) return channel;
  while (((mask >> channel.shift) & 1u) == 0) ++channel.shift;
  channel.max = mask >> channel.shift;
  return channel;
}

uint8_t Scaled(uint32_t pixel, const Channel& channel) {
  if (channel.max == 0) return 0;
  const uint32_t value = (pixel & channel.mask) >> channel.shift;
  return static_cast<uint8_t>((uint64_t{value} * 255 + channel.max / 2) / channel.max);
}

uint8_t Luma(uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

}  // namespace

PrintImage DecodeBmp(std::span<const uint8_t> bytes, const std::string& name) {
  auto damaged = [&](const std::string& what) {
    return InputError(name + ": damaged BMP (" + what + ")");
  };
  LittleEndianCursor in(bytes);
  if (!in.Skip(10)) throw damaged("shorter than its file header");
  const uint32_t pixel_offset = in.U32().value_or(0);
  const uint32_t header_bytes = in.U32().value_or(0);
  if (header_bytes != kCoreHeaderBytes && header_bytes < kInfoHeaderBytes) {
    throw damaged("unknown header size " + std::to_string(header_bytes));
  }
  if (header_bytes > bytes.size() - std::min(bytes.size(), kFileHeaderBytes)) {
    throw damaged("truncated header");
  }
  int64_t width = 0;
  int64_t height = 0;
  uint32_t planes = 0;
  uint32_t bits = 0;
  uint32_t compression = kBiRgb;
  uint32_t palette_used = 0;
  int32_t per_metre = 0;
  if (header_bytes == kCoreHeaderBytes) {
    width = *in.U16();
    height = *in.U16();
    planes = *in.U16();
    bits = *in.U16();
  } else {
    width = static_cast<int32_t>(*in.U32());
    height = static_cast<int32_t>(*in.U32());
    planes = *in.U16();
    bits = *in.U16();
    compression = *in.U32();
    in.Skip(4);  // image size: often 0, never needed for uncompressed rows
    per_metre = static_cast<int32_t>(*in.U32());
    in.Skip(4);  // vertical resolution
    palette_used = *in.U32();
    in.Skip(4);  // important colours
  }
  const bool top_down = height < 0;
  height = std::abs(height);  // int64_t: no overflow for INT32_MIN
  if (planes != 1) throw damaged(std::to_string(planes) + " planes");
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) {
    CheckImageSize(static_cast<int>(std::clamp<int64_t>(width, -1, kMaxImageSide + 1)),
                   static_cast<int>(std::clamp<int64_t>(height, -1, kMaxImageSide + 1)), name);
  }
  const bool bitfields = compression == kBiBitfields || compression == kBiAlphaBitfields;
  if (compression != kBiRgb && !(bitfields && (bits == 16 || bits == 32))) {
    throw InputError(name + ": compressed BMP (method " + std::to_string(compression) +
                     ") is not supported; save it uncompressed");
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    throw damaged(std::to_string(bits) + " bits per pixel");
  }

  // Colour masks: in the header from version 4 on, or in the 12 bytes right after a 40-byte
  // header. Without bit fields, 16 bits are 5-5-5 and 32 bits are 8-8-8.
  Channel red = FromMask(bits == 16 ? 0x7C00u : 0xFF0000u);
  Channel green = FromMask(bits == 16 ? 0x03E0u : 0x00FF00u);
  Channel blue = FromMask(bits == 16 ? 0x001Fu : 0x0000FFu);
  size_t palette_at = kFileHeaderBytes + header_bytes;
  if (bitfields) {
    LittleEndianCursor masks(bytes);
    masks.Skip(kFileHeaderBytes + kInfoHeaderBytes);
    const auto r = masks.U32(), g = masks.U32(), b = masks.U32();
    if (!b) throw damaged("truncated colour masks");
    red = FromMask(*r), green = FromMask(*g), blue = FromMask(*b);
    if (header_bytes == kInfoHeaderBytes) palette_at += 12;
  }

  std::vector<uint8_t> palette;  // grey value of each entry
  if (bits <= 8) {
    const uint32_t entries = palette_used == 0 ? (1u << bits) : palette_used;
    if (entries > (1u << bits)) throw damaged(std::to_string(entries) + " palette entries");
    const size_t entry_bytes = header_bytes == kCoreHeaderBytes ? 3 : 4;
    if (palette_at + entries * entry_bytes > std::min<size_t>(bytes.size(), pixel_offset)) {
      throw damaged("the palette runs past the pixels or the file");
    }
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t* e = bytes.data() + palette_at + i * entry_bytes;  // blue, green, red
      palette.push_back(Luma(e[2], e[1], e[0]));
    }
  }

  const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
  const uint64_t rows_bytes = stride * static_cast<uint64_t>(height);
  if (pixel_offset < palette_at || pixel_offset > bytes.size()) {
    throw damaged("pixel data offset " + std::to_string(pixel_offset) + " outside the file");
  }
  if (rows_bytes > bytes.size() - pixel_offset) {
    throw InputError(name + ": truncated BMP (" + std::to_string(bytes.size() - pixel_offset) +
                     " of " + std::to_string(rows_bytes) + " pixel bytes)");
  }

  PrintImage image;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.format = "BMP";
  if (per_metre > 0) image.declared_dpi = static_cast<int>(std::lround(per_metre * 0.0254));
  image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int y = 0; y < image.height; ++y) {
    const int file_row = top_down ? y : image.height - 1 - y;
    const uint8_t* row = bytes.data() + pixel_offset + stride * static_cast<uint64_t>(file_row);
    uint8_t* out = image.pixels.data() + static_cast<size_t>(y) * image.width;
    for (int x = 0; x < image.width; ++x) {
      if (bits <= 8) {
        const uint32_t per_byte = 8 / bits;
        const uint32_t shift = 8 - bits - (x % per_byte) * bits;
        const uint32_t index = (row[x / per_byte] >> shift) & ((1u << bits) - 1);
        if (index >= palette.size()) throw damaged("a pixel names a colour the palette lacks");
        out[x] = palette[index];
      } else if (bits == 24) {
        const uint8_t* p = row + 3 * x;
        out[x] = Luma(p[2], p[1], p[0]);
      } else {
        const uint8_t* p = row + (bits / 8) * x;
        const uint32_t pixel = bits == 16
                                   ? (p[0] | (p[1] << 8))
                                   : (p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24));
        out[x] = Luma(Scaled(pixel, red), Scaled(pixel, green), Scaled(pixel, blue));
      }
    }
  }
  return image;
}

}  // namespace ridgeline::image
