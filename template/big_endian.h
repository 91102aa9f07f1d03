// Big-endian fields of the standard minutiae records: reads through the checked ByteReader (a
// read that would pass the end fails without moving), writes by appending to a byte vector.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/byte_reader.h"

namespace ridgeline {

inline bool ReadU16Be(ByteReader& reader, uint16_t* value) {
  std::span<const uint8_t> bytes;
  if (!reader.ReadBytes(2, &bytes)) return false;
  *value = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
  return true;
}

inline bool ReadU32Be(ByteReader& reader, uint32_t* value) {
  std::span<const uint8_t> bytes;
  if (!reader.ReadBytes(4, &bytes)) return false;
  *value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
  return true;
}

// The value of bytes [offset, offset + 2) or 0 when they are not all there.
inline uint16_t PeekU16Be(std::span<const uint8_t> bytes, size_t offset) {
  if (offset + 2 > bytes.size()) return 0;
  return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

inline uint32_t PeekU32Be(std::span<const uint8_t> bytes, size_t offset) {
  if (offset + 4 > bytes.size()) return 0;
  return (uint32_t{PeekU16Be(bytes, offset)} << 16) | PeekU16Be(bytes, offset + 2);
}

inline void AppendU8(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(static_cast<uint8_t>(value));
}

inline void AppendU16Be(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

inline void AppendU32Be(std::vector<uint8_t>& out, uint32_t value) {
  AppendU16Be(out, value >> 16);
  AppendU16Be(out, value & 0xFFFF);
}

inline void PatchU32Be(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
  out[offset] = static_cast<uint8_t>(value >> 24);
  out[offset + 1] = static_cast<uint8_t>(value >> 16);
  out[offset + 2] = static_cast<uint8_t>(value >> 8);
  out[offset + 3] = static_cast<uint8_t>(value);
}

}  // namespace ridgeline
