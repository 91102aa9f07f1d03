// The engine's own view of a capture, for the diagnostic commands: the engine object's acceptance
// (resampling to the working image, the grey-level check, the extraction) with its images kept.
#pragma once

#include <memory>

#include "engine/engine.h"
#include "tools/host/engine_host.h"

namespace ridgeline::tools {

struct EngineView {
  int width = 0;  // working image, kEngineResolution
  int height = 0;
  OwnedGrayImage shown;       // the working image before extraction smoothed it
  OwnedGrayImage binary;      // the working image as the extraction left it: binarised ridges
  OwnedGrayImage foreground;  // the extraction's foreground mask (255 background, 0 print)
  bool check_passed = false;
  bool extracted = false;
  AcceptedSample sample;
  FeatureSet* features = nullptr;  // sample's, when extracted
  FeatureSummary* summary = nullptr;
};

constexpr int kWorkingDpi = kEngineResolution;

// Runs the engine's acceptance on the capture. Throws std::bad_alloc.
std::unique_ptr<EngineView> ExtractWithEngine(const Capture& capture);

}  // namespace ridgeline::tools
