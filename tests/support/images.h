// Small image fixtures for stage tests.
#pragma once

#include <cstdint>
#include <functional>

#include "core/records.h"

namespace ridgeline::testing {

// Owns a GrayImage for the length of a test.
class TestImage {
 public:
  TestImage(int width, int height, uint8_t fill = 0)
      : width_(width), height_(height), image_(AllocGrayImage(width, height)) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) image_[y][x] = fill;
  }
  // Fills pixel (x, y) with f(x, y).
  TestImage(int width, int height, const std::function<uint8_t(int, int)>& f)
      : TestImage(width, height) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) image_[y][x] = f(x, y);
  }
  ~TestImage() { FreeGrayImage(image_); }
  TestImage(const TestImage&) = delete;
  TestImage& operator=(const TestImage&) = delete;

  GrayImage get() const { return image_; }
  uint8_t& at(int x, int y) { return image_[y][x]; }
  int width() const { return width_; }
  int height() const { return height_; }
  ImageView view() const { return {image_, width_, height_}; }

 private:
  int width_;
  int height_;
  GrayImage image_;
};

}  // namespace ridgeline::testing
