// A bounds-checked cursor over outside bytes (stored containers, sample records). Every read
// checks the bytes it needs against the end first and fails without moving the cursor when
// they are not there, so a parser cannot read outside the buffer whatever the bytes say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ridgeline {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t offset() const { return offset_; }
  size_t remaining() const { return bytes_.size() - offset_; }

  bool ReadU8(uint8_t* value) {
    if (remaining() < 1) return false;
    *value = bytes_[offset_++];
    return true;
  }

  bool ReadU16Le(uint16_t* value) {
    if (remaining() < 2) return false;
    *value = static_cast<uint16_t>(bytes_[offset_] | (bytes_[offset_ + 1] << 8));
    offset_ += 2;
    return true;
  }

  // Hands out the next n bytes as a view into the buffer.
  bool ReadBytes(size_t n, std::span<const uint8_t>* out) {
    if (remaining() < n) return false;
    *out = bytes_.subspan(offset_, n);
    offset_ += n;
    return true;
  }

  bool Skip(size_t n) {
    if (remaining() < n) return false;
    offset_ += n;
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t offset_ = 0;
};

}  // namespace ridgeline
