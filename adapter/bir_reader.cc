// Bounds-checked reading of the sample record.
#include "adapter/bir_reader.h"

#include <cstddef>

#include "core/byte_reader.h"
#include "platform/winbio_types.h"

namespace ridgeline {

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

static_assert(kBirStandardSizeField == kBirHeaderOffsetField + 4 &&
              kBirStandardOffsetField == kBirStandardSizeField + 4);
static_assert(kImageHeightField == kImageWidthField + 2);
static_assert(kBirHeaderFormatTypeField == kBirHeaderFormatOwnerField + 2);

bool ReadU32Le(ByteReader& reader, uint32_t* value) {
  uint16_t low = 0, high = 0;
  if (!reader.ReadU16Le(&low) || !reader.ReadU16Le(&high)) return false;
  *value = static_cast<uint32_t>(low) | static_cast<uint32_t>(high) << 16;
  return true;
}

}  // namespace

SampleRecordStatus ReadSampleRecord(std::span<const uint8_t> bytes, SampleRecord* record) {
  // Shape: the descriptors, then the two blocks they point at, all inside the record.
  uint32_t header_offset = 0, block_size = 0, block_offset = 0;
  ByteReader descriptors(bytes);
  if (bytes.size() < kBirDescriptorsSize || !descriptors.Skip(kBirHeaderOffsetField) ||
      !ReadU32Le(descriptors, &header_offset) || !ReadU32Le(descriptors, &block_size) ||
      !ReadU32Le(descriptors, &block_offset)) {
    return SampleRecordStatus::kMalformed;
  }
  // 64-bit sums of 32-bit fields cannot wrap. The kept prefix must also fit its own 32-bit
  // length, and it must carry the header.
  const uint64_t block_end = uint64_t{block_offset} + block_size;
  const uint64_t header_end = uint64_t{header_offset} + kBirHeaderSize;
  if (block_end > bytes.size() || block_end > UINT32_MAX || header_end > block_end ||
      block_size < kImagePixelsOffset) {
    return SampleRecordStatus::kMalformed;
  }

  // The standard data block: compression, line lengths, then W x H pixels within the block.
  ByteReader block(bytes.subspan(block_offset, block_size));
  uint8_t compression = 0;
  uint16_t width = 0, height = 0;
  std::span<const uint8_t> pixels;
  if (!block.Skip(kImageCompressionField) || !block.ReadU8(&compression) ||
      !block.Skip(kImageWidthField - kImageCompressionField - 1) || !block.ReadU16Le(&width) ||
      !block.ReadU16Le(&height) || !block.Skip(kImagePixelsOffset - kImageHeightField - 2)) {
    return SampleRecordStatus::kMalformed;  // unreachable: the block holds the 56 bytes
  }
  const uint64_t pixel_count = uint64_t{width} * height;
  if (pixel_count == 0 || pixel_count > block.remaining() ||
      !block.ReadBytes(static_cast<size_t>(pixel_count), &pixels)) {
    return SampleRecordStatus::kMalformed;
  }

  ByteReader header(bytes.subspan(header_offset, kBirHeaderSize));
  uint32_t biometric_type = 0;
  uint16_t format_owner = 0, format_type = 0;
  if (!header.Skip(kBirHeaderTypeField) || !ReadU32Le(header, &biometric_type) ||
      !header.Skip(kBirHeaderFormatOwnerField - kBirHeaderTypeField - 4) ||
      !header.ReadU16Le(&format_owner) || !header.ReadU16Le(&format_type)) {
    return SampleRecordStatus::kMalformed;  // unreachable: the header lies inside the record
  }

  // Content, in the order the adapter reports it.
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
