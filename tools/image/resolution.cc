// The host's resampling of a file's image to the sensor's resolution, through the engine's own
// capture conversion so that the library and the tools give the same pixels.
#include "tools/image/resolution.h"

#include <cassert>

#include "engine/capture_resolution.h"

namespace ridgeline::tools {

PrintImage Resample(const PrintImage& image, int from_dpi, int to_dpi) {
  assert(from_dpi > 0 && to_dpi > 0 && image.width > 0 && image.height > 0);
  if (from_dpi == to_dpi) return image;
  PrintImage out;
  out.format = image.format;
  out.declared_dpi = to_dpi;
  ResampleCapture(image.pixels.data(), image.width, image.height, image.width, from_dpi, to_dpi,
                  &out.pixels, &out.width, &out.height);
  return out;
}

}  // namespace ridgeline::tools
