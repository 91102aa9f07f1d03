// The sensor side of the host: an image file becomes a Capture the engine can take, at 500 dpi
// (resampled when the file declares another resolution, or when --dpi says so) and trimmed to
// the print unless trimming is off. Each step that changed the image is reported in `notes`.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/host/engine_host.h"

namespace ridgeline::tools {

struct CaptureOptions {
  int dpi = 0;       // the image's resolution when given; 0 trusts what the file declares
  bool trim = true;  // crop blank light margins
};

// The engine takes source sides of 31 to 931 pixels (its own 500 to 550 dpi step must give
// 34 to 1024); the host refuses anything else before it reaches the engine.
constexpr int kMinEngineSide = 31;
constexpr int kMaxEngineSide = 931;

// Throws InputError for an unreadable file or an image the engine cannot take.
Capture PrepareCapture(const std::filesystem::path& path, const CaptureOptions& options,
                       std::vector<std::string>* notes);

// The same for an image already decoded (from memory, or handed over by a program); `name` is
// used in messages.
Capture PrepareCapture(PrintImage decoded, std::string name, const CaptureOptions& options,
                       std::vector<std::string>* notes);

}  // namespace ridgeline::tools
