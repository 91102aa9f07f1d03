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
  return PrepareImage(ReadPrintImage(path), path.string(), options, notes);
}

Capture PrepareImage(PrintImage decoded, const std::string& name, const CaptureOptions& options,
                     std::vector<std::string>* notes) {
  Capture capture;
  capture.name = name;
  capture.image = std::move(decoded);
  capture.frame.source_width = capture.image.width;
  capture.frame.source_height = capture.image.height;
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
  if (dpi != 0) capture.frame.source_dpi = dpi;
  const bool resampled = dpi != 0 && dpi != kEngineDpi;
  if (resampled) {
    // The resampled size is bounded like a decoded one, and before the resampling allocates
    // it: a small file declaring 20 dpi would otherwise become a gigapixel image.
    const int64_t width = ResampledSide(capture.image.width, dpi, kEngineDpi);
    const int64_t height = ResampledSide(capture.image.height, dpi, kEngineDpi);
    if (width > kMaxImageSide || height > kMaxImageSide) {
      throw InputError(capture.name + ": " + Size(capture.image) + " pixels at " +
                       std::to_string(dpi) + " dpi would be " + std::to_string(width) + " x " +
                       std::to_string(height) + " at 500 dpi; images larger than " +
                       std::to_string(kMaxImageSide) +
                       " pixels a side at 500 dpi are refused (is the resolution right?)");
    }
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
    const bool small = image.width < kMinEngineSide || image.height < kMinEngineSide;
    const std::string window = "the engine takes " + std::to_string(kMinEngineSide) + " to " +
                               std::to_string(kMaxEngineSide) + " pixels a side at 500 dpi";
    if (resampled) {
      throw InputError(capture.name + ": " + Size(image) + " pixels after resampling from " +
                       std::to_string(dpi) + " to 500 dpi; " + window);
    }
    // A 500-dpi image is never shrunk on a guess: a print this size did not come from a
    // 500-dpi sensor, and a file that is really at another resolution should declare it.
    throw InputError(capture.name + ": " + Size(image) + " pixels is too " +
                     (small ? "small" : "large") + " for a print from a 500-dpi sensor; " + window);
  }
  return capture;
}

}  // namespace ridgeline::tools
