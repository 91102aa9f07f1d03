#include "tools/host/capture_preparation.h"

#include <utility>

#include "tools/image/background_trim.h"
#include "tools/image/resolution.h"

namespace ridgeline::tools {
namespace {

std::string Size(const PrintImage& image) {
  return std::to_string(image.width) + " x " + std::to_string(image.height);
}

}  // namespace

Capture PrepareCapture(const std::filesystem::path& path, const CaptureOptions& options,
                       std::vector<std::string>* notes) {
  return PrepareCapture(ReadPrintImage(path), path.string(), options, notes);
}

Capture PrepareCapture(PrintImage decoded, std::string name, const CaptureOptions& options,
                       std::vector<std::string>* notes) {
  Capture capture;
  capture.name = std::move(name);
  capture.image = std::move(decoded);
  auto note = [&](const std::string& text) {
    if (notes != nullptr) notes->push_back(capture.name + ": " + text);
  };
  int dpi = options.dpi;
  if (dpi == 0 && capture.image.declared_dpi != 0) {
    dpi = capture.image.declared_dpi;
    if (dpi < kMinPlausibleDpi || dpi > kMaxPlausibleDpi) {
      note("ignoring the declared resolution of " + std::to_string(dpi) +
           " dpi; taking it as 500 dpi (use --dpi to say otherwise)");
      dpi = kEngineDpi;
    }
  }
  // A small image declaring a low resolution must not become a huge one: its size at 500 dpi is
  // checked before anything of that size is allocated.
  if (dpi > 0 && dpi < kEngineDpi) {
    const int width = ScaledCaptureSide(capture.image.width, dpi, kEngineDpi);
    const int height = ScaledCaptureSide(capture.image.height, dpi, kEngineDpi);
    if (width > kMaxImageSide || height > kMaxImageSide) {
      throw InputError(capture.name + ": " + Size(capture.image) + " pixels at " +
                       std::to_string(dpi) + " dpi would be " + std::to_string(width) + " x " +
                       std::to_string(height) + " at 500 dpi; larger than " +
                       std::to_string(kMaxImageSide) + " pixels a side is refused");
    }
  }

  if (dpi != 0 && dpi != kEngineDpi) {
    const std::string before = Size(capture.image);
    capture.image = Resample(capture.image, dpi, kEngineDpi);
    capture.frame.file_per_capture = static_cast<double>(dpi) / kEngineDpi;
    note("resampled from " + std::to_string(dpi) + " dpi (" + before + ") to 500 dpi (" +
         Size(capture.image) + ")");
  }
  if (options.trim) {
    const std::string before = Size(capture.image);
    const TrimBox box = FindPrintBox(capture.image);
    if (box.width != capture.image.width || box.height != capture.image.height) {
      capture.image = TrimBackground(capture.image);
      capture.frame.trim_left = box.left;
      capture.frame.trim_top = box.top;
      note("trimmed blank margins: " + before + " -> " + Size(capture.image));
    }
  }
  const PrintImage& image = capture.image;
  if (image.width < kMinEngineSide || image.height < kMinEngineSide ||
      image.width > kMaxEngineSide || image.height > kMaxEngineSide) {
    throw InputError(capture.name + ": " + Size(image) +
                     " pixels at 500 dpi; the engine takes images of " +
                     std::to_string(kMinEngineSide) + " to " + std::to_string(kMaxEngineSide) +
                     " pixels a side (use --dpi if the resolution is wrong)");
  }
  return capture;
}

}  // namespace ridgeline::tools
