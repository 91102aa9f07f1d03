// The WSQ reference files beside the repository (interop/wsq): each WSQ file with the image a
// reference decoder made from it and the print it was encoded from. Tests skip when absent.
#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image/print_image.h"
#include "tests/support/shared_data.h"

namespace ridgeline::testing {

struct WsqReference {
  std::string file;          // the .wsq, relative to WsqReferenceDir()
  std::string decoded;       // the reference decoder's PGM
  std::string source_print;  // relative to SharedDir() / "data"
  int crop_x = 0;
  int crop_y = 0;
  int width = 0;
  int height = 0;
  int ppi = 0;
  double bitrate = 0;
};

inline std::filesystem::path WsqReferenceDir() { return SharedDir() / "interop" / "wsq"; }

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The rows of manifest.csv; empty when the folder is absent.
inline std::vector<WsqReference> WsqReferences() {
  std::vector<WsqReference> rows;
  std::ifstream in(WsqReferenceDir() / "manifest.csv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    if (cells.size() < 9) continue;
    auto number = [](const std::string& s) { return s.empty() ? 0 : std::stoi(s); };
    rows.push_back({cells[0], cells[1], cells[2], number(cells[3]), number(cells[4]),
                    number(cells[5]), number(cells[6]), number(cells[7]), std::stod(cells[8])});
  }
  return rows;
}

// The pixels of a binary PGM with the plain header "P5\n<W> <H>\n255\n".
inline std::vector<uint8_t> PgmPixels(const std::filesystem::path& path, int width, int height) {
  std::vector<uint8_t> bytes = ReadBytes(path);
  const size_t pixels = static_cast<size_t>(width) * height;
  if (bytes.size() < pixels) return {};
  return {bytes.end() - static_cast<std::ptrdiff_t>(pixels), bytes.end()};
}

// The print a reference file was encoded from (its crop), or an empty image when the print is
// not beside the tree.
inline tools::PrintImage ReferenceInput(const WsqReference& ref) {
  const std::filesystem::path path = SharedDir() / "data" / ref.source_print;
  tools::PrintImage input;
  if (!std::filesystem::is_regular_file(path)) return input;
  const tools::PrintImage print = tools::ReadPrintImage(path);
  input.width = ref.width;
  input.height = ref.height;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x)
      input.pixels.push_back(print.at(ref.crop_x + x, ref.crop_y + y));
  return input;
}

// Peak signal-to-noise ratio of `a` against `b` (same size) in dB; 99 for identical pixels.
inline double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double squares = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    squares += d * d;
  }
  if (squares == 0) return 99.0;
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / squares);
}

// Concentric ridges with a period of about 9 pixels, fading towards a light background outside
// an ellipse, like a print.
inline tools::PrintImage RidgeImage(int width, int height) {
  tools::PrintImage image;
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double r = std::hypot(x - width * 0.5, (y - height * 0.4) * 0.8);
      const double ridge = std::sin(r * 0.7 + 0.3 * std::sin(x * 0.05));
      const double fade = r < 0.45 * std::min(width, height) ? 1.0 : 0.2;
      image.pixels.push_back(static_cast<uint8_t>(150 + 90 * ridge * fade));
    }
  }
  return image;
}

}  // namespace ridgeline::testing
