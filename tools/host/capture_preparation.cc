#include "tools/host/capture_preparation.h"

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
  Capture capture;
  capture.name = path.string();
  capture.image = ReadPrintImage(path);
  capture.source_width = capture.image.width;
  capture.source_height = capture.image.height;
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
  if (dpi != 0) capture.source_dpi = dpi;
  if (dpi != 0 && dpi != kEngineDpi) {
    const std::string before = Size(capture.image);
    capture.image = Resample(capture.image, dpi, kEngineDpi);
    note("resampled from " + std::to_string(dpi) + " dpi (" + before + ") to 500 dpi (" +
         Size(capture.image) + ")");
  }
  if (options.trim) {
    const std::string before = Size(capture.image);
    const TrimBox box = FindPrintBox(capture.image);
    PrintImage trimmed = TrimBackground(capture.image);
    if (trimmed.width != capture.image.width || trimmed.height != capture.image.height) {
      capture.trim_left = box.left;
      capture.trim_top = box.top;
      capture.image = std::move(trimmed);
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
