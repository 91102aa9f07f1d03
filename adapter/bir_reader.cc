// Bounds-checked reading of the sample record.
#include "adapter/bir_reader.h"

#include <cstddef>

#include "platform/winbio_types.h"

namespace ridgeline {

bool ByteReader::Seek(uint64_t offset) {
  if (offset > size()) return false;
  cursor_ = begin_ + offset;
  return true;
}

bool ByteReader::Skip(uint64_t count) {
  if (count > remaining()) return false;
  cursor_ += count;
  return true;
}

bool ByteReader::ReadU8(uint8_t* value) {
  if (remaining() < 1) return false;
  *value = *cursor_++;
  return true;
}

bool ByteReader::ReadU16(uint16_t* value) {
  if (remaining() < 2) return false;
  *value = static_cast<uint16_t>(cursor_[0] | cursor_[1] << 8);
  cursor_ += 2;
  return true;
}

bool ByteReader::ReadU32(uint32_t* value) {
  if (remaining() < 4) return false;
  *value = static_cast<uint32_t>(cursor_[0]) | static_cast<uint32_t>(cursor_[1]) << 8 |
           static_cast<uint32_t>(cursor_[2]) << 16 | static_cast<uint32_t>(cursor_[3]) << 24;
  cursor_ += 4;
  return true;
}

bool ByteReader::ReadBytes(uint64_t count, std::span<const uint8_t>* bytes) {
  if (count > remaining()) return false;
  *bytes = std::span<const uint8_t>(cursor_, static_cast<size_t>(count));
  cursor_ += count;
  return true;
}

namespace {

// The byte offsets are those of the platform's record structures.
static_assert(kBirDescriptorsSize == sizeof(WINBIO_BIR));
static_assert(kBirHeaderOffsetField ==
              offsetof(WINBIO_BIR, HeaderBlock) + offsetof(WINBIO_BIR_DATA, Offset));
static_assert(kBirStandardSizeField ==
              offsetof(WINBIO_BIR, StandardDataBlock) + offsetof(WINBIO_BIR_DATA, Size));
static_assert(kBirStandardOffsetField ==
              offsetof(WINBIO_BIR, StandardDataBlock) + offsetof(WINBIO_BIR_DATA, Offset));
static_assert(kBirHeaderSize == sizeof(WINBIO_BIR_HEADER));
static_assert(kBirHeaderTypeField == offsetof(WINBIO_BIR_HEADER, Type));
static_assert(kBirHeaderFormatOwnerField == offsetof(WINBIO_BIR_HEADER, BiometricDataFormat) +
                                                offsetof(WINBIO_REGISTERED_FORMAT, Owner));
static_assert(kBirHeaderFormatTypeField == offsetof(WINBIO_BIR_HEADER, BiometricDataFormat) +
                                               offsetof(WINBIO_REGISTERED_FORMAT, Type));
static_assert(kImageCompressionField == offsetof(WINBIO_BDB_ANSI_381_HEADER, ImageCompressionAlg));
static_assert(kImageWidthField == sizeof(WINBIO_BDB_ANSI_381_HEADER) +
                                      offsetof(WINBIO_BDB_ANSI_381_RECORD, HorizontalLineLength));
static_assert(kImageHeightField == sizeof(WINBIO_BDB_ANSI_381_HEADER) +
                                       offsetof(WINBIO_BDB_ANSI_381_RECORD, VerticalLineLength));
static_assert(kImagePixelsOffset ==
              sizeof(WINBIO_BDB_ANSI_381_HEADER) + sizeof(WINBIO_BDB_ANSI_381_RECORD));

bool ReadU16At(ByteReader& reader, uint64_t offset, uint16_t* value) {
  return reader.Seek(offset) && reader.ReadU16(value);
}
bool ReadU32At(ByteReader& reader, uint64_t offset, uint32_t* value) {
  return reader.Seek(offset) && reader.ReadU32(value);
}

}  // namespace

SampleRecordStatus ReadSampleRecord(std::span<const uint8_t> bytes, SampleRecord* record) {
  ByteReader reader(bytes);
  const uint64_t size = reader.size();

  // Shape: the descriptors, then the two blocks they point at, all inside the record.
  uint32_t header_offset = 0, block_size = 0, block_offset = 0;
  if (size < kBirDescriptorsSize || !ReadU32At(reader, kBirHeaderOffsetField, &header_offset) ||
      !ReadU32At(reader, kBirStandardSizeField, &block_size) ||
      !ReadU32At(reader, kBirStandardOffsetField, &block_offset)) {
    return SampleRecordStatus::kMalformed;
  }
  // 64-bit sums of 32-bit fields cannot wrap. The kept prefix must also fit its own 32-bit
  // length, and it must carry the header.
  const uint64_t block_end = uint64_t{block_offset} + block_size;
  const uint64_t header_end = uint64_t{header_offset} + kBirHeaderSize;
  if (block_end > size || block_end > UINT32_MAX || header_end > block_end ||
      block_size < kImagePixelsOffset) {
    return SampleRecordStatus::kMalformed;
  }
  uint16_t width = 0, height = 0;
  if (!ReadU16At(reader, uint64_t{block_offset} + kImageWidthField, &width) ||
      !ReadU16At(reader, uint64_t{block_offset} + kImageHeightField, &height)) {
    return SampleRecordStatus::kMalformed;
  }
  const uint64_t pixel_count = uint64_t{width} * height;
  std::span<const uint8_t> pixels;
  if (pixel_count == 0 || pixel_count > block_size - kImagePixelsOffset ||
      !reader.Seek(uint64_t{block_offset} + kImagePixelsOffset) ||
      !reader.ReadBytes(pixel_count, &pixels)) {
    return SampleRecordStatus::kMalformed;
  }

  // Content, in the order the adapter reports it.
  uint16_t format_owner = 0, format_type = 0;
  uint32_t biometric_type = 0;
  uint8_t compression = 0;
  if (!ReadU16At(reader, header_offset + kBirHeaderFormatOwnerField, &format_owner) ||
      !ReadU16At(reader, header_offset + kBirHeaderFormatTypeField, &format_type) ||
      !ReadU32At(reader, header_offset + kBirHeaderTypeField, &biometric_type) ||
      !reader.Seek(uint64_t{block_offset} + kImageCompressionField) ||
      !reader.ReadU8(&compression)) {
    return SampleRecordStatus::kMalformed;  // unreachable after the shape checks
  }
  if (format_owner != kImageFormatOwner || format_type != kImageFormatType) {
    return SampleRecordStatus::kWrongFormat;
  }
  if (biometric_type != kBiometricTypeFingerprint) return SampleRecordStatus::kWrongBiometricType;
  if (compression != kImageUncompressed) return SampleRecordStatus::kCompressed;

  record->width = width;
  record->height = height;
  record->pixels = pixels;
  record->keptLength = static_cast<uint32_t>(block_end);
  return SampleRecordStatus::kOk;
}

}  // namespace ridgeline
