// Recognises an image file by its leading bytes and hands it to the reader of its format.
#include <cstring>
#include <fstream>

#include "image/print_image.h"
#include "image/wsq_decoder.h"

namespace ridgeline::image {
namespace {

bool StartsWith(std::span<const uint8_t> bytes, const char* magic, size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

}  // namespace

void CheckImageSize(int width, int height, const std::string& name) {
  if (width <= 0 || height <= 0) {
    throw InputError(name + ": the image has no pixels (" + std::to_string(width) + " x " +
                     std::to_string(height) + ")");
  }
  if (width > kMaxImageSide || height > kMaxImageSide) {
    throw InputError(name + ": the image is " + std::to_string(width) + " x " +
                     std::to_string(height) + " pixels; fingerprint images larger than " +
                     std::to_string(kMaxImageSide) + " pixels a side are refused");
  }
}

PrintImage DecodePrintImage(std::span<const uint8_t> bytes, const std::string& name) {
  if (bytes.empty()) throw InputError(name + ": the file is empty");
  if (StartsWith(bytes, "\x89PNG\r\n\x1a\n", 8)) return DecodePng(bytes, name);
  if (StartsWith(bytes, "II*\0", 4) || StartsWith(bytes, "MM\0*", 4)) {
    return DecodeTiff(bytes, name);
  }
  if (StartsWith(bytes, "FIR\0", 4)) return DecodeAnsi381(bytes, name);
  if (StartsWith(bytes, "BM", 2)) return DecodeBmp(bytes, name);
  if (StartsWith(bytes, "\xFF\xD8\xFF", 3)) return DecodeJpeg(bytes, name);
  if (StartsWith(bytes, "\xFF\x4F\xFF\x51", 4) ||
      StartsWith(bytes, "\0\0\0\x0CjP  \r\n\x87\n", 12)) {
    return DecodeJpeg2000(bytes, name);
  }
  if (StartsLikeWsq(bytes)) return DecodeWsq(bytes, name);
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7') {
    return DecodePnm(bytes, name);
  }
  throw InputError(name +
                   ": not a recognised image (expected PNG, BMP, PGM, JPEG, JPEG 2000, TIFF, WSQ "
                   "or a finger image record)");
}

PrintImage ReadPrintImage(const std::filesystem::path& path) {
  const std::string name = path.string();
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw InputError(name + ": is a directory, not an image file");
  }
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throw InputError(name + ": cannot read the file (" + error.message() + ")");
  if (size > kMaxImageFileBytes) {
    throw InputError(name + ": the file is " + std::to_string(size >> 20) +
                     " MiB; image files over " + std::to_string(kMaxImageFileBytes >> 20) +
                     " MiB are refused");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(name + ": cannot open the file for reading");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!bytes.empty() &&
      !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    throw InputError(name + ": cannot read the file");
  }
  return DecodePrintImage(bytes, name);
}

}  // namespace ridgeline::image
