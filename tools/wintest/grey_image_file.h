// Reading an 8-bit grey print image from a file for the sample record maker: TIFF (8 bits, one
// sample per pixel, as the evaluation prints come) or binary PGM with a maximum of 255.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ridgeline::wintest {

struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // rows top first, width bytes each; 0 is black
};

// Reads the file, recognised by its leading bytes; false with a message in *error otherwise.
bool ReadGreyImage(const std::string& path, GreyImage* image, std::string* error);

}  // namespace ridgeline::wintest
