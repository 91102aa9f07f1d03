// Building finger image sample records and reading and writing them as files.
#include "tools/wintest/bir_record.h"

#include <cassert>
#include <cstdio>
#include <cstring>

namespace ridgeline::wintest {
namespace {

constexpr USHORT kResolutionPpi = 500;
constexpr UCHAR kScaleUnitsPixelsPerInch = 1;
constexpr USHORT kAcquisitionLevel500Ppi = 31;
// "FIR\0" and "010\0" read as little-endian 32-bit words.
constexpr ULONG kFingerImageRecordId = 0x00524946;
constexpr ULONG kFingerImageVersion = 0x00303130;

// The structures have the same layout on every target this builds for, so their bytes are the
// record's bytes.
template <typename T>
void Put(std::vector<uint8_t>* out, size_t offset, const T& value) {
  std::memcpy(out->data() + offset, &value, sizeof(T));
}

}  // namespace

std::vector<uint8_t> BuildFingerImageBir(int width, int height, std::span<const uint8_t> pixels,
                                         const BirOptions& options) {
  assert(width >= 1 && width <= 65535 && height >= 1 && height <= 65535);
  const size_t pixel_bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
  assert(pixels.size() == pixel_bytes);
  const size_t standard_size = kBirPixelOffset - kBirStandardOffset + pixel_bytes;
  std::vector<uint8_t> bir(kBirPixelOffset + pixel_bytes, 0);

  WINBIO_BIR descriptors{};
  descriptors.HeaderBlock = {static_cast<ULONG>(sizeof(WINBIO_BIR_HEADER)),
                             static_cast<ULONG>(kBirHeaderOffset)};
  descriptors.StandardDataBlock = {static_cast<ULONG>(standard_size),
                                   static_cast<ULONG>(kBirStandardOffset)};
  Put(&bir, 0, descriptors);

  WINBIO_BIR_HEADER header{};
  header.HeaderVersion = 1;
  header.DataFlags = WINBIO_DATA_FLAG_RAW;
  header.Type = options.biometric_type;
  header.Subtype = WINBIO_SUBTYPE_NO_INFORMATION;
  header.Purpose = WINBIO_NO_PURPOSE_AVAILABLE;
  header.DataQuality = -1;  // not assessed
  header.BiometricDataFormat = {options.format_owner, options.format_type};
  Put(&bir, kBirHeaderOffset, header);

  WINBIO_BDB_ANSI_381_HEADER image_header{};
  image_header.RecordLength = standard_size;
  image_header.FormatIdentifier = kFingerImageRecordId;
  image_header.VersionNumber = kFingerImageVersion;
  image_header.ImageAcquisitionLevel = kAcquisitionLevel500Ppi;
  image_header.HorizontalScanResolution = kResolutionPpi;
  image_header.VerticalScanResolution = kResolutionPpi;
  image_header.HorizontalImageResolution = kResolutionPpi;
  image_header.VerticalImageResolution = kResolutionPpi;
  image_header.ElementCount = 1;
  image_header.ScaleUnits = kScaleUnitsPixelsPerInch;
  image_header.PixelDepth = 8;
  image_header.ImageCompressionAlg = options.compression;
  Put(&bir, kBirStandardOffset, image_header);

  WINBIO_BDB_ANSI_381_RECORD image_record{};
  image_record.BlockLength = static_cast<ULONG>(sizeof(WINBIO_BDB_ANSI_381_RECORD) + pixel_bytes);
  image_record.HorizontalLineLength = static_cast<USHORT>(width);
  image_record.VerticalLineLength = static_cast<USHORT>(height);
  image_record.CountOfViews = 1;
  image_record.ViewNumber = 1;
  Put(&bir, kBirStandardOffset + sizeof(WINBIO_BDB_ANSI_381_HEADER), image_record);

  std::memcpy(bir.data() + kBirPixelOffset, pixels.data(), pixel_bytes);
  return bir;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

bool WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace ridgeline::wintest
