// A cursor over untrusted bytes for the image readers: every read reports failure past the end
// instead of reading beyond it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ridgeline::image {

class LittleEndianCursor {
 public:
  explicit LittleEndianCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Skip(size_t n) {
    if (n > bytes_.size() - at_) return false;
    at_ += n;
    return true;
  }
  std::optional<uint32_t> U16() { return Read(2); }
  std::optional<uint32_t> U32() { return Read(4); }
  size_t position() const { return at_; }

 private:
  std::optional<uint32_t> Read(size_t width) {
    if (width > bytes_.size() - at_) return std::nullopt;
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) value = (value << 8) | bytes_[at_ + i];
    at_ += width;
    return value;
  }

  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace ridgeline::image
