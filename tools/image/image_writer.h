// Writing image files: binary PGM, PNG or WSQ, chosen by name, written so that a reader never
// sees half a file and no one else can read it while it is being made.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "image/image_format.h"

namespace ridgeline::tools {

// Writes bytes to path through a private temporary file beside it that is then renamed over
// path (which replaces a symbolic link there rather than following it). The file is readable by
// its owner only. Throws InputError when the file cannot be written.
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace ridgeline::tools
