// The engine's own view of a capture, for the diagnostic commands (extract, the score of
// match): the adapter's resampling to the 550-dpi working image, its grey-level check and the
// feature extraction, run with the engine linked into the tool.
#pragma once

#include <memory>

#include "extract/records.h"
#include "tools/host/engine_host.h"

namespace ridgeline::tools {

struct GreyDeleter {
  void operator()(uint8_t** image) const { FreeGrayImage(image); }
};
using OwnedGrey = std::unique_ptr<uint8_t*, GreyDeleter>;

struct EngineView {
  EngineView() = default;
  ~EngineView() { FreeFeatureRecords(features, summary); }
  EngineView(const EngineView&) = delete;
  EngineView& operator=(const EngineView&) = delete;

  int width = 0;  // working image, 550 dpi
  int height = 0;
  OwnedGrey shown;       // the working image before extraction smoothed it
  OwnedGrey binary;      // the working image as the extraction left it: binarised ridges
  OwnedGrey foreground;  // the extraction's foreground mask (255 background, 0 print)
  int crop_x = 0;        // where the features' origin lies in the working image (template crop)
  int crop_y = 0;
  bool check_passed = false;
  bool extracted = false;
  FeatureSet* features = nullptr;
  FeatureSummary* summary = nullptr;
};

constexpr int kWorkingDpi = 550;

// Runs the engine's preparation and extraction on the capture. Throws std::bad_alloc.
std::unique_ptr<EngineView> ExtractWithEngine(const Capture& capture);

}  // namespace ridgeline::tools
