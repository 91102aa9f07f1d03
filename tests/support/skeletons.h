// Tiny synthetic skeletons for the skeleton and minutiae stage tests: a white image with
// one-pixel black lines drawn along rows, columns or exact diagonals.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/images.h"

namespace ridgeline::testing {

constexpr uint8_t kRidge = 0;
constexpr uint8_t kPaper = 255;

// A white width x height skeleton.
class Skeleton : public TestImage {
 public:
  Skeleton(int width, int height) : TestImage(width, height, kPaper) {}

  // Draws the black line from (x1, y1) to (x2, y2), both included.
  // REQUIRES: the line is horizontal, vertical or at 45 degrees.
  Skeleton& Line(int x1, int y1, int x2, int y2) {
    const int sx = (x2 > x1) - (x2 < x1);
    const int sy = (y2 > y1) - (y2 < y1);
    const int n = std::max(std::abs(x2 - x1), std::abs(y2 - y1));
    for (int i = 0; i <= n; ++i) at(x1 + i * sx, y1 + i * sy) = kRidge;
    return *this;
  }

  // All pixels, row by row, for comparing a whole image before and after a stage.
  std::vector<uint8_t> Pixels() const {
    std::vector<uint8_t> out;
    for (int y = 0; y < height(); ++y)
      for (int x = 0; x < width(); ++x) out.push_back(get()[y][x]);
    return out;
  }
  // The pixels where the two skeletons differ, as "(x,y)=got/want " entries; empty when equal.
  std::string DiffFrom(const Skeleton& want) const {
    std::string out;
    for (int y = 0; y < height(); ++y)
      for (int x = 0; x < width(); ++x)
        if (get()[y][x] != want.get()[y][x])
          // Appended piece by piece: g++ 12 at -O3 sees a false overlap in `"(" + std::string`.
          out.append("(")
              .append(std::to_string(x))
              .append(",")
              .append(std::to_string(y))
              .append(")=")
              .append(std::to_string(get()[y][x]))
              .append("/")
              .append(std::to_string(want.get()[y][x]))
              .append(" ");
    return out;
  }
  int CountRidge() const {
    int n = 0;
    for (uint8_t p : Pixels()) n += p == kRidge ? 1 : 0;
    return n;
  }
};

}  // namespace ridgeline::testing
