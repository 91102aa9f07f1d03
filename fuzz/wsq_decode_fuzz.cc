// Feeds arbitrary bytes to the WSQ decoder: it must decode or refuse every input with
// InputError, without reading outside it, and a decoded image must hold exactly its pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "image/wsq_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const ridgeline::image::PrintImage image =
        ridgeline::image::DecodeWsq(std::span<const uint8_t>(data, size), "fuzz.wsq");
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
      std::abort();
    }
  } catch (const ridgeline::image::InputError&) {
  }
  return 0;
}
