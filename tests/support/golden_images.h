// The recorded stage images of the golden prints, for tests that compare a fast path with its
// plain reference on real inputs. Tests skip when the shared data is absent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/images.h"
#include "tests/support/shared_data.h"

namespace ridgeline::testing {

// A binary PGM (P5, maxval 255) without comments, as the golden vectors are written; nullptr
// when the file is missing or not of that form.
inline std::unique_ptr<TestImage> ReadGoldenPgm(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  if (!(in >> magic >> w >> h >> maxval) || magic != "P5" || maxval != 255 || w <= 0 || h <= 0) {
    return nullptr;
  }
  in.get();
  std::vector<char> bytes(static_cast<size_t>(w) * static_cast<size_t>(h));
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return nullptr;
  return std::make_unique<TestImage>(w, h, [&](int x, int y) {
    return static_cast<uint8_t>(
        bytes[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)]);
  });
}

// The image `name` of every golden case that has it.
inline std::vector<std::unique_ptr<TestImage>> GoldenStageImages(const std::string& name) {
  std::vector<std::unique_ptr<TestImage>> images;
  if (!HaveGolden()) return images;
  for (const auto& entry : std::filesystem::directory_iterator(GoldenDir() / "cases")) {
    if (auto image = ReadGoldenPgm(entry.path() / name)) images.push_back(std::move(image));
  }
  return images;
}

}  // namespace ridgeline::testing
