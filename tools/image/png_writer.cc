#include "tools/image/png_writer.h"

#include "tools/fs/safe_files.h"

namespace ridgeline::tools {

void WritePng(const std::filesystem::path& path, int width, int height, int channels,
              std::span<const uint8_t> pixels) {
  WriteOutputFile(path, image::EncodePng(width, height, channels, pixels));
}

}  // namespace ridgeline::tools
