// Capture-side trimming: a sensor's capture stage crops to the print, so the host does the same
// before wrapping an image into a sample. It removes border rows and columns that are (nearly)
// all light background, keeping a margin, and never removes a row or column that carries print.
#pragma once

#include "image/print_image.h"

namespace ridgeline::tools {

struct TrimBox {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// The part of the image to keep. The whole image when it has no light background mode, when
// no border line is blank, or when what would remain is smaller than kMinTrimmedSide.
TrimBox FindPrintBox(const PrintImage& image);

// The image cropped to FindPrintBox.
PrintImage TrimBackground(const PrintImage& image);

// Blank lines kept beside the print, in pixels, so that the extraction's border blocks still
// see some background.
constexpr int kTrimMargin = 16;
// A crop that would leave less than this (pixels a side) is not made.
constexpr int kMinTrimmedSide = 64;

}  // namespace ridgeline::tools
