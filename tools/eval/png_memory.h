// Encoding an 8-bit grey image as PNG bytes, for pictures embedded in the report.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/eval/print_features.h"

namespace ridgeline::eval {

// Throws std::runtime_error when libpng fails. REQUIRES: a non-empty image.
std::vector<uint8_t> EncodeGreyPng(const GreyImage& image);

}  // namespace ridgeline::eval
