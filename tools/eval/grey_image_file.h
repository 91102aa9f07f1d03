// Reading a print image file into 8-bit grey: TIFF (through libtiff), PNG (through libpng) and
// binary PGM, recognised by their leading bytes.
#pragma once

#include <filesystem>

#include "tools/eval/print_features.h"

namespace ridgeline::eval {

// Throws EvalError naming the file when it cannot be read or is not a supported image.
GreyImage ReadGreyImageFile(const std::filesystem::path& path);

}  // namespace ridgeline::eval
