// Wrapping a 500-dpi grey image into the biometric information record the engine accepts: the
// four block descriptors, a header block (fingerprint, the ANSI INCITS 381 image format 27/1025)
// and a standard data block holding the framework's native image header, one image record and
// the pixels, uncompressed, row by row.
#pragma once

#include <cstdint>
#include <vector>

#include "image/print_image.h"
#include "platform/winbio_types.h"

namespace ridgeline::tools {

// Byte offsets of the record's parts; each part starts on an 8-byte boundary.
constexpr size_t kBirHeaderOffset = sizeof(WINBIO_BIR);
constexpr size_t kBirDataOffset = kBirHeaderOffset + sizeof(WINBIO_BIR_HEADER);
constexpr size_t kBirPixelOffset =
    sizeof(WINBIO_BDB_ANSI_381_HEADER) + sizeof(WINBIO_BDB_ANSI_381_RECORD);

// The record for image, with the purpose and finger (subfactor) in its header. The buffer is
// held as 64-bit words so that the record is 8-byte aligned, as the framework requires.
// REQUIRES: image sides fit 16 bits.
struct SampleRecord {
  std::vector<uint64_t> words;
  size_t size = 0;  // bytes

  WINBIO_BIR* bir() { return reinterpret_cast<WINBIO_BIR*>(words.data()); }
};
SampleRecord BuildSampleRecord(const PrintImage& image, WINBIO_BIR_PURPOSE purpose,
                               WINBIO_BIOMETRIC_SUBTYPE sub_factor);

}  // namespace ridgeline::tools
