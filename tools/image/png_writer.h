// Writing 8-bit grey and RGB pictures as PNG files (overlays, stage maps, test fixtures).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "image/png_encoder.h"

namespace ridgeline::tools {

// Writes a user-named output (safe_files.h: a link is followed only when the user made it).
// Throws OutputError when the file cannot be written. REQUIRES: pixels holds
// width x height x channels bytes, channels 1 (grey) or 3 (RGB).
void WritePng(const std::filesystem::path& path, int width, int height, int channels,
              std::span<const uint8_t> pixels);

}  // namespace ridgeline::tools
