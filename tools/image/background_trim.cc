// Finds the light background level (the most frequent level in the upper half of the grey
// scale) and walks in from each border while the line is blank: at most 2 % of its pixels
// darker than the background by more than kBackgroundTolerance.
#include "tools/image/background_trim.h"

#include <algorithm>
#include <array>

namespace ridgeline::tools {
namespace {

constexpr int kLightLevel = 128;          // a background mode must be at least this light
constexpr int kBackgroundTolerance = 40;  // grey levels below the mode still counted as background
constexpr int kBlankPerMille = 20;        // a blank line has at most 2 % dark pixels (dust, noise)
constexpr int kMinBackgroundPercent = 5;  // the mode must cover this share of the image

bool IsBlank(int dark, int length) {
  return int64_t{dark} * 1000 <= int64_t{kBlankPerMille} * length;
}

}  // namespace

TrimBox FindPrintBox(const PrintImage& image) {
  const TrimBox whole{0, 0, image.width, image.height};
  std::array<int64_t, 256> histogram{};
  for (uint8_t p : image.pixels) ++histogram[p];
  int mode = kLightLevel;
  for (int level = kLightLevel; level < 256; ++level) {
    if (histogram[level] > histogram[mode]) mode = level;
  }
  const int64_t total = static_cast<int64_t>(image.pixels.size());
  if (histogram[mode] * 100 < total * kMinBackgroundPercent) return whole;
  const int dark_below = mode - kBackgroundTolerance;

  std::vector<int> dark_in_row(static_cast<size_t>(image.height), 0);
  std::vector<int> dark_in_column(static_cast<size_t>(image.width), 0);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.at(x, y) < dark_below) {
        ++dark_in_row[static_cast<size_t>(y)];
        ++dark_in_column[static_cast<size_t>(x)];
      }
    }
  }
  int top = 0;
  int bottom = image.height - 1;
  int left = 0;
  int right = image.width - 1;
  while (top <= bottom && IsBlank(dark_in_row[static_cast<size_t>(top)], image.width)) ++top;
  while (bottom >= top && IsBlank(dark_in_row[static_cast<size_t>(bottom)], image.width)) --bottom;
  while (left <= right && IsBlank(dark_in_column[static_cast<size_t>(left)], image.height)) ++left;
  while (right >= left && IsBlank(dark_in_column[static_cast<size_t>(right)], image.height))
    --right;
  if (top > bottom || left > right) return whole;  // nothing but background

  top = std::max(0, top - kTrimMargin);
  left = std::max(0, left - kTrimMargin);
  bottom = std::min(image.height - 1, bottom + kTrimMargin);
  right = std::min(image.width - 1, right + kTrimMargin);
  const TrimBox box{left, top, right - left + 1, bottom - top + 1};
  if (box.width < kMinTrimmedSide || box.height < kMinTrimmedSide) return whole;
  return box;
}

PrintImage TrimBackground(const PrintImage& image) {
  const TrimBox box = FindPrintBox(image);
  if (box.width == image.width && box.height == image.height) return image;
  PrintImage out;
  out.width = box.width;
  out.height = box.height;
  out.format = image.format;
  out.declared_dpi = image.declared_dpi;
  out.pixels.reserve(static_cast<size_t>(box.width) * box.height);
  for (int y = box.top; y < box.top + box.height; ++y) {
    const auto row = image.pixels.begin() + static_cast<ptrdiff_t>(y) * image.width + box.left;
    out.pixels.insert(out.pixels.end(), row, row + box.width);
  }
  return out;
}

}  // namespace ridgeline::tools
