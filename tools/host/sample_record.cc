#include "tools/host/sample_record.h"

#include <cassert>
#include <cstring>
#include <ctime>

namespace ridgeline::tools {

SampleRecord BuildSampleRecord(const PrintImage& image, WINBIO_BIR_PURPOSE purpose,
                               WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  assert(image.width > 0 && image.width <= 0xFFFF && image.height > 0 && image.height <= 0xFFFF);
  const size_t pixels = static_cast<size_t>(image.width) * image.height;
  const size_t data_size = kBirPixelOffset + pixels;
  SampleRecord record;
  record.size = kBirDataOffset + data_size;
  record.words.assign((record.size + 7) / 8, 0);
  auto* bytes = reinterpret_cast<uint8_t*>(record.words.data());

  WINBIO_BIR bir{};
  bir.HeaderBlock = {static_cast<ULONG>(sizeof(WINBIO_BIR_HEADER)),
                     static_cast<ULONG>(kBirHeaderOffset)};
  bir.StandardDataBlock = {static_cast<ULONG>(data_size), static_cast<ULONG>(kBirDataOffset)};
  std::memcpy(bytes, &bir, sizeof bir);

  WINBIO_BIR_HEADER header{};
  header.HeaderVersion = 1;
  header.DataFlags = WINBIO_DATA_FLAG_RAW;
  header.Type = WINBIO_TYPE_FINGERPRINT;
  header.Subtype = sub_factor;
  header.Purpose = purpose;
  header.DataQuality = -1;  // not assessed by the capture side
  header.CreationDate.QuadPart = static_cast<int64_t>(std::time(nullptr));
  header.BiometricDataFormat = {WINBIO_ANSI_381_FORMAT_OWNER, WINBIO_ANSI_381_FORMAT_TYPE};
  std::memcpy(bytes + kBirHeaderOffset, &header, sizeof header);

  WINBIO_BDB_ANSI_381_HEADER image_header{};
  image_header.RecordLength = data_size;
  std::memcpy(&image_header.FormatIdentifier, "FIR", 4);
  std::memcpy(&image_header.VersionNumber, "010", 4);
  image_header.HorizontalScanResolution = 500;
  image_header.VerticalScanResolution = 500;
  image_header.HorizontalImageResolution = 500;
  image_header.VerticalImageResolution = 500;
  image_header.ElementCount = 1;
  image_header.ScaleUnits = 1;  // pixels per inch
  image_header.PixelDepth = 8;
  image_header.ImageCompressionAlg = WINBIO_ANSI_381_IMG_UNCOMPRESSED;
  std::memcpy(bytes + kBirDataOffset, &image_header, sizeof image_header);

  WINBIO_BDB_ANSI_381_RECORD image_record{};
  image_record.BlockLength = static_cast<ULONG>(sizeof(WINBIO_BDB_ANSI_381_RECORD) + pixels);
  image_record.HorizontalLineLength = static_cast<USHORT>(image.width);
  image_record.VerticalLineLength = static_cast<USHORT>(image.height);
  image_record.Position = sub_factor;
  image_record.CountOfViews = 1;
  image_record.ViewNumber = 1;
  std::memcpy(bytes + kBirDataOffset + sizeof image_header, &image_record, sizeof image_record);

  std::memcpy(bytes + kBirDataOffset + kBirPixelOffset, image.pixels.data(), pixels);
  return record;
}

}  // namespace ridgeline::tools
