// Where the wavelet transform of a WSQ image keeps its coefficients: the rectangles of the 20
// two-dimensional split steps ("nodes") and of the 64 subbands they leave, for any image size.
// Encoder and decoder share this geometry; both derive it from the width and height alone.
#pragma once

#include <array>

namespace ridgeline::image::wsq {

constexpr int kNodes = 20;
constexpr int kSubbands = 64;
// Subbands 60..63 (the quarters of the first split's high/high quadrant) are never coded.
constexpr int kCodedSubbands = 60;
// The coded subbands fall into three blocks, each with its own block header: 0..18, 19..51,
// 52..59. The block boundaries are the subbands that start blocks 2 and 3.
constexpr int kSecondBlockStart = 19;
constexpr int kThirdBlockStart = 52;

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int area() const { return width * height; }
};

// A split step: its rectangle and whether each axis is spectrally inverted (highpass part
// first), which is the case for a segment that was the second part of its parent.
struct Node {
  Rect rect;
  bool invert_x = false;
  bool invert_y = false;
};

struct Geometry {
  std::array<Node, kNodes> nodes;
  std::array<Rect, kSubbands> subbands;
};

// REQUIRES: width >= 1, height >= 1. Short sides give empty rectangles, never negative ones.
Geometry ComputeGeometry(int width, int height);

}  // namespace ridgeline::image::wsq
