// One print as the adapter sees it: the capture at 500 dpi goes through the sample acceptance
// (resampling to 550 dpi, the grey-level test, the extraction with a 1024-byte template budget),
// and the accepted feature set is enrolled the way an enrollment stores it (encoded into a
// 1024-byte template, then decoded back as a verification reads it).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/owned_records.h"
#include "engine/engine_settings.h"

namespace ridgeline::eval {

// A FeatureSet and its FeatureSummary, wiped and released together.
using FeatureRecords = FeaturePair;

// Why a print takes no real part in its comparisons.
enum class PrintStatus {
  kAccepted,        // features extracted; the print is compared
  kUnusableFile,    // the file could not be read, or the host refuses the image
  kBadCapture,      // refused by the grey-level test (a bad capture)
  kSizeRefused,     // resampled size outside what the extraction accepts
  kTooFewMinutiae,  // the extraction kept fewer minutiae than it requires
};

const char* PrintStatusName(PrintStatus status);

// An 8-bit grey image, rows of exactly width bytes, top row first.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

struct PrintFeatures {
  PrintStatus status = PrintStatus::kUnusableFile;
  std::string reason;  // for people; empty when accepted
  int minutiae = 0;    // kept by the extraction (also when too few)
  int quality = 0;     // the extraction's quality score, 0..100
  int template_bytes = 0;
  double extraction_ms = 0;  // resampling, grey-level test and extraction
  // Pixels cut from the 550-dpi image's left and top by the template crops: a minutia at
  // (X, Y) lies at (X + crop, Y + crop) of the resampled image. Probe and reference apart,
  // since enrolling may crop again.
  int probe_crop_x = 0;
  int probe_crop_y = 0;
  int reference_crop_x = 0;
  int reference_crop_y = 0;
  // Present only when accepted: the accepted feature set (the probe side of a comparison) and
  // the decoded template (the reference side).
  std::unique_ptr<FeatureRecords> probe;
  std::unique_ptr<FeatureRecords> reference;
};

// The resampled width or height that the acceptance gives a 500-dpi side.
int AcceptanceSide(int side);

// The capture resampled to 550 dpi as the acceptance does, before the extraction alters it.
// REQUIRES: a non-empty image.
GreyImage AcceptanceImage(const GreyImage& capture);

// Runs the acceptance and the enrollment on capture. Never throws for a refused print; the
// status says what happened. bands: the extraction's row bands (1 where prints are extracted in
// parallel); the features do not depend on it.
PrintFeatures ExtractPrint(const GreyImage& capture, int bands = CaptureExtractionBands());

}  // namespace ridgeline::eval
