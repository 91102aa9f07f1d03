// Owning handles for the engine's two resources: a grey image and a feature-set pair. Both hold
// biometric data, so both wipe what they own before releasing it.
#pragma once

#include <cstddef>
#include <utility>

#include "core/records.h"
#include "core/secure_wipe.h"
#include "platform/secure_zero.h"

namespace ridgeline {

// A GrayImage with its size. Empty (null) after a failed allocation or a move.
class OwnedGrayImage {
 public:
  OwnedGrayImage() = default;
  // Allocates a zeroed width x height image; null() tells whether that failed.
  OwnedGrayImage(int width, int height)
      : image_(AllocGrayImage(width, height)), width_(width), height_(height) {}
  ~OwnedGrayImage() { Release(); }
  OwnedGrayImage(OwnedGrayImage&& other) noexcept
      : image_(std::exchange(other.image_, nullptr)),
        width_(std::exchange(other.width_, 0)),
        height_(std::exchange(other.height_, 0)) {}
  OwnedGrayImage& operator=(OwnedGrayImage&& other) noexcept {
    if (this != &other) {
      Release();
      image_ = std::exchange(other.image_, nullptr);
      width_ = std::exchange(other.width_, 0);
      height_ = std::exchange(other.height_, 0);
    }
    return *this;
  }
  OwnedGrayImage(const OwnedGrayImage&) = delete;
  OwnedGrayImage& operator=(const OwnedGrayImage&) = delete;

  bool null() const { return image_ == nullptr; }
  GrayImage get() const { return image_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Row y; the pixels of all rows are one contiguous block starting at row 0.
  uint8_t* operator[](int y) const { return image_[y]; }

 private:
  void Release() {
    if (image_ == nullptr) return;
    if (width_ > 0 && height_ > 0) {
      SecureZeroMemory(image_[0], static_cast<std::size_t>(width_) * height_);
    }
    FreeGrayImage(image_);
    image_ = nullptr;
  }

  GrayImage image_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

// A FeatureSet and its FeatureSummary, made and released together (AllocFeatureRecords), wiped
// over their whole capacity on release.
class FeaturePair {
 public:
  FeaturePair() = default;
  // Allocates a zeroed pair when allocate is true; null() tells whether that failed.
  explicit FeaturePair(bool allocate) {
    if (allocate && !AllocFeatureRecords(&set_, &summary_)) set_ = nullptr, summary_ = nullptr;
  }
  ~FeaturePair() { _SecureClearFeaturePair(&set_, &summary_); }
  FeaturePair(FeaturePair&& other) noexcept
      : set_(std::exchange(other.set_, nullptr)),
        summary_(std::exchange(other.summary_, nullptr)) {}
  FeaturePair& operator=(FeaturePair&& other) noexcept {
    if (this != &other) {
      _SecureClearFeaturePair(&set_, &summary_);
      set_ = std::exchange(other.set_, nullptr);
      summary_ = std::exchange(other.summary_, nullptr);
    }
    return *this;
  }
  FeaturePair(const FeaturePair&) = delete;
  FeaturePair& operator=(const FeaturePair&) = delete;

  bool null() const { return set_ == nullptr; }
  FeatureSet* set() const { return set_; }
  FeatureSummary* summary() const { return summary_; }

 private:
  FeatureSet* set_ = nullptr;
  FeatureSummary* summary_ = nullptr;
};

}  // namespace ridgeline
