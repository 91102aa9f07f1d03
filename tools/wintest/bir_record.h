// Sample records as the sensor side hands them to the engine: a WINBIO_BIR whose standard data
// block holds one uncompressed 8-bit finger image in the framework's native ANSI INCITS 381
// form (image header, one image record, then the pixels), and the files the host keeps them in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/winbio_types.h"

namespace ridgeline::wintest {

// Byte offsets of the record built by BuildFingerImageBir: the four block descriptors, the
// 48-byte header block, then the standard data block (40-byte image header, 16-byte image
// record, width x height pixels). The header and standard blocks stay 8-byte aligned.
constexpr size_t kBirHeaderOffset = sizeof(WINBIO_BIR);
constexpr size_t kBirStandardOffset = kBirHeaderOffset + sizeof(WINBIO_BIR_HEADER);
constexpr size_t kBirPixelOffset =
    kBirStandardOffset + sizeof(WINBIO_BDB_ANSI_381_HEADER) + sizeof(WINBIO_BDB_ANSI_381_RECORD);

// The fields a test may want to spoil; the defaults make a record the engine accepts.
struct BirOptions {
  USHORT format_owner = WINBIO_ANSI_381_FORMAT_OWNER;
  USHORT format_type = WINBIO_ANSI_381_FORMAT_TYPE;
  WINBIO_BIOMETRIC_TYPE biometric_type = WINBIO_TYPE_FINGERPRINT;
  UCHAR compression = WINBIO_ANSI_381_IMG_UNCOMPRESSED;
};

// A record for a width x height grey image at 500 pixels per inch, rows top first.
// REQUIRES: 1 <= width, height <= 65535 and pixels.size() == width * height.
std::vector<uint8_t> BuildFingerImageBir(int width, int height, std::span<const uint8_t> pixels,
                                         const BirOptions& options = {});

// Whole-file reads and writes; false when the file cannot be read or written.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes);
bool WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace ridgeline::wintest
