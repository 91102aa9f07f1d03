// Reads the 8-bit grey TIFF files of the shared print databases: little- or big-endian, one
// sample of 8 bits, no compression, the pixels in one or more strips. Every offset and count the
// file states is checked against its size; anything else is refused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace ridgeline::testing {

struct GrayPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // row by row, 0 black
};

// False when the file cannot be read or is not such a TIFF.
inline bool ReadGrayTiff(const std::filesystem::path& path, GrayPicture* out) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> b((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
  if (b.size() < 8 || (b[0] != b[1]) || (b[0] != 'I' && b[0] != 'M')) return false;
  const bool little = b[0] == 'I';
  auto u16 = [&](size_t at) -> uint32_t {
    return little ? b[at] | b[at + 1] << 8 : b[at] << 8 | b[at + 1];
  };
  auto u32 = [&](size_t at) -> uint32_t {
    return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
  };
  const size_t ifd = u32(4);
  if (ifd + 2 > b.size()) return false;
  const size_t entries = u16(ifd);
  if (ifd + 2 + 12 * entries > b.size()) return false;
  uint32_t width = 0, height = 0, bits = 8, compression = 1, photometric = 1, samples = 1;
  std::vector<uint32_t> offsets, counts;
  for (size_t i = 0; i < entries; ++i) {
    const size_t e = ifd + 2 + 12 * i;
    const uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
    const size_t width_of = type == 3 ? 2 : type == 4 ? 4 : 0;
    if (width_of == 0) continue;
    auto value = [&](uint32_t k) -> uint32_t {
      const size_t at = width_of * count <= 4 ? e + 8 + width_of * k : u32(e + 8) + width_of * k;
      if (at + width_of > b.size()) return UINT32_MAX;
      return width_of == 2 ? u16(at) : u32(at);
    };
    std::vector<uint32_t> values;
    for (uint32_t k = 0; k < count && k < 65536; ++k) values.push_back(value(k));
    if (values.empty()) continue;
    switch (tag) {
      case 256:
        width = values[0];
        break;
      case 257:
        height = values[0];
        break;
      case 258:
        bits = values[0];
        break;
      case 259:
        compression = values[0];
        break;
      case 262:
        photometric = values[0];
        break;
      case 273:
        offsets = values;
        break;
      case 277:
        samples = values[0];
        break;
      case 279:
        counts = values;
        break;
    }
  }
  if (width == 0 || height == 0 || width > 4096 || height > 4096 || bits != 8 || compression != 1 ||
      samples != 1 || photometric > 1 || offsets.empty() || offsets.size() != counts.size()) {
    return false;
  }
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  out->pixels.clear();
  const size_t total = static_cast<size_t>(width) * height;
  for (size_t s = 0; s < offsets.size() && out->pixels.size() < total; ++s) {
    if (offsets[s] > b.size() || counts[s] > b.size() - offsets[s]) return false;
    out->pixels.insert(out->pixels.end(), b.begin() + offsets[s],
                       b.begin() + offsets[s] + counts[s]);
  }
  if (out->pixels.size() < total) return false;
  out->pixels.resize(total);
  if (photometric == 0) {
    for (uint8_t& p : out->pixels) p = static_cast<uint8_t>(255 - p);
  }
  return true;
}

}  // namespace ridgeline::testing
