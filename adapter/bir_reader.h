// Reading the sample record handed to the adapter: a biometric information record (BIR) whose
// standard data block holds one uncompressed 8-bit finger image. The record is untrusted: every
// descriptor, block and the W x H pixels are checked against the record's length before any
// field is read, and nothing outside the record is ever touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ridgeline {

// Byte layout of the record (little-endian), offsets from the start of each part.
constexpr size_t kBirDescriptorsSize = 32;  // four (Size, Offset) pairs of 32-bit words
constexpr size_t kBirHeaderOffsetField = 4;
constexpr size_t kBirStandardSizeField = 8;
constexpr size_t kBirStandardOffsetField = 12;
constexpr size_t kBirHeaderSize = 48;
constexpr size_t kBirHeaderTypeField = 8;
constexpr size_t kBirHeaderFormatOwnerField = 40;
constexpr size_t kBirHeaderFormatTypeField = 42;
constexpr size_t kImageCompressionField = 35;
constexpr size_t kImageWidthField = 44;
constexpr size_t kImageHeightField = 46;
constexpr size_t kImagePixelsOffset = 56;  // 40-byte image header + 16-byte image record

constexpr uint16_t kImageFormatOwner = 27;
constexpr uint16_t kImageFormatType = 1025;
constexpr uint32_t kBiometricTypeFingerprint = 8;
constexpr uint8_t kImageUncompressed = 0;

// Why a record was refused, in the order the checks run: shape first, then the format pair,
// the biometric type and the compression.
enum class SampleRecordStatus {
  kOk,
  kMalformed,           // a descriptor, block or the pixels reach outside the record
  kWrongFormat,         // format owner / type not 27 / 1025
  kWrongBiometricType,  // not a fingerprint
  kCompressed,          // compression algorithm not 0
};

struct SampleRecord {
  uint16_t width;
  uint16_t height;
  std::span<const uint8_t> pixels;  // width x height bytes inside the record, rows top first
  uint32_t keptLength;              // standard data block offset + size: the bytes to keep
};

// Checks the record's shape and then its image format. On kOk fills *record (whose pixels
// point into the given bytes); otherwise leaves it untouched.
// A record is well formed when its 32 descriptor bytes, its 48-byte header and its standard
// data block lie inside it, the header also inside the kept prefix (which ends with the
// standard data block), the block holds the 56 bytes of image header and record, and the
// block holds W x H pixels after them with W and H not zero.
SampleRecordStatus ReadSampleRecord(std::span<const uint8_t> bytes, SampleRecord* record);

}  // namespace ridgeline
