// Fuzzes every image reader of the tools and the capture preparation after them: the bytes are
// recognised and decoded as a file would be (PNG, TIFF, BMP, PNM, JPEG, JPEG 2000, finger image
// records), and a decoded image is brought to 500 dpi and trimmed under one of several
// resolution settings. Outside files may be refused (InputError), never read or written
// beyond, and a result must be whole and within the engine's window.
//
// Input: one byte choosing the resolution option and trimming, then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>

#include "image/print_image.h"
#include "tools/host/capture_preparation.h"

namespace {

using namespace ridgeline::tools;

// 0 trusts what the file declares; the others stand for --dpi.
constexpr int kDpiChoices[] = {0, 0, 0, 50, 100, 333, 500, 1000, 5000};

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  CaptureOptions options;
  options.dpi = kDpiChoices[data[0] % std::size(kDpiChoices)];
  options.trim = (data[0] & 0x80) == 0;
  // An exact heap copy, so that a read one byte past the file is caught.
  auto* copy = static_cast<uint8_t*>(std::malloc(size - 1 == 0 ? 1 : size - 1));
  if (size > 1) std::memcpy(copy, data + 1, size - 1);
  const std::span<const uint8_t> file(copy, size - 1);
  try {
    PrintImage image = DecodePrintImage(file, "fuzz");
    Require(image.width > 0 && image.height > 0 && image.width <= kMaxImageSide &&
            image.height <= kMaxImageSide);
    Require(image.pixels.size() == static_cast<size_t>(image.width) * image.height);
    const Capture capture = PrepareImage(std::move(image), "fuzz", options, nullptr);
    Require(capture.image.width >= kMinEngineSide && capture.image.width <= kMaxEngineSide);
    Require(capture.image.height >= kMinEngineSide && capture.image.height <= kMaxEngineSide);
    Require(capture.image.pixels.size() ==
            static_cast<size_t>(capture.image.width) * capture.image.height);
  } catch (const InputError&) {
  }
  std::free(copy);
  return 0;
}
