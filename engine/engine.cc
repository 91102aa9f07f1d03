// One engine object over the extraction, the template and the matcher, with the acceptance the
// adapter performs for a sample and the encoding it performs for an enrollment.
#include "engine/engine.h"

#include <algorithm>

#include "extract/check_image.h"
#include "extract/features_extraction.h"
#include "extract/resample_image.h"
#include "match/match_coord.h"
#include "match/match_result.h"
#include "template/template_container.h"
#include "template/template_decode.h"
#include "template/template_encode.h"
#include "template/template_layout.h"

namespace ridgeline {

const char* AcceptStatusText(AcceptStatus status) {
  switch (status) {
    case AcceptStatus::kAccepted:
      return "accepted";
    case AcceptStatus::kSizeRefused:
      return "image size outside what the extraction takes";
    case AcceptStatus::kBadCapture:
      return "too few grey levels, or one level covers more than 80 % of the image";
    case AcceptStatus::kTooFewMinutiae:
      return "too few minutiae";
    case AcceptStatus::kOutOfMemory:
      return "out of memory";
  }
  return "?";
}

std::unique_ptr<Engine> Engine::Create() {
  std::unique_ptr<Engine> engine(new (std::nothrow) Engine());
  if (!engine) return nullptr;
  InitEngineParams(&engine->params_);
  engine->work_ = BuildDefaultMatchWork();
  if (!engine->work_) return nullptr;
  return engine;
}

AcceptStatus Engine::Accept(std::span<const uint8_t> pixels, int width, int height,
                            AcceptedSample* sample, AcceptanceImages* images) {
  *sample = AcceptedSample{};
  if (width < 1 || height < 1 ||
      pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
    return AcceptStatus::kSizeRefused;
  }
  const int working_width = WorkingSide(width);
  const int working_height = WorkingSide(height);
  if (working_width < kMinImageSide || working_height < kMinImageSide ||
      working_width > kMaxImageSide || working_height > kMaxImageSide) {
    return AcceptStatus::kSizeRefused;
  }
  OwnedGrayImage working(working_width, working_height);
  if (working.null()) return AcceptStatus::kOutOfMemory;
  if (!ResampleImage(pixels.data(), width, height, kSensorResolution, working.get(), working_width,
                     working_height, kEngineResolution)) {
    return AcceptStatus::kOutOfMemory;  // the sizes were checked, so only an allocation fails
  }
  if (images != nullptr) {
    images->working = OwnedGrayImage(working_width, working_height);
    if (images->working.null()) return AcceptStatus::kOutOfMemory;
    CopyGrayImage(working_width, working_height, working.get(), images->working.get());
  }
  if (!CheckImage(working.get(), working_width, working_height)) return AcceptStatus::kBadCapture;

  FeaturePair features(/*allocate=*/true);
  if (features.null()) return AcceptStatus::kOutOfMemory;
  // The mask export is read by the extraction alone; it changes none of its results.
  OwnedGrayImage foreground;
  if (images != nullptr) {
    foreground = OwnedGrayImage(working_width, working_height);
    if (foreground.null()) return AcceptStatus::kOutOfMemory;
  }
  params_.ExportMask = images != nullptr ? 1 : 0;
  params_.MaskImage = foreground.get();
  const int extracted = FeaturesExtractionInBands(
      &params_, working_width, working_height, working.get(), kExtractionResolutionPercent,
      features.set(), features.summary(), static_cast<int32_t>(kTemplateCapacity),
      kExtractionQualityType, extraction_bands_);
  params_.ExportMask = 0;
  params_.MaskImage = nullptr;
  if (images != nullptr) {
    images->binary = std::move(working);
    images->foreground = std::move(foreground);
  }
  sample->working_width = working_width;
  sample->working_height = working_height;
  sample->crop_x = params_.CropX;
  sample->crop_y = params_.CropY;
  sample->features = std::move(features);
  return extracted != 0 ? AcceptStatus::kAccepted : AcceptStatus::kTooFewMinutiae;
}

EncodedTemplate Engine::EncodeTemplate(const FeaturePair& sample) {
  EncodedTemplate encoded;
  FeaturePair copy(/*allocate=*/true);
  if (copy.null() || sample.null()) return encoded;
  CopyFeatureSet(copy.set(), sample.set());
  std::vector<uint8_t> record(kTemplateCapacity);
  ridgeline::EncodeTemplate(&params_, copy.set(), sample.summary()->BoundaryDensity, record);
  const std::size_t size = TemplateRecordSize(record);
  if (size >= kTemplateHeaderSize && size <= record.size()) {
    record.resize(size);
    encoded.bytes = std::move(record);
  }
  encoded.crop_x = params_.CropX;
  encoded.crop_y = params_.CropY;
  return encoded;
}

bool Engine::DecodeTemplate(std::span<const uint8_t> minutiaTemplate, FeaturePair* features) {
  if (!CheckMinutiaTemplate(minutiaTemplate)) return false;
  FeaturePair decoded(/*allocate=*/true);
  if (decoded.null()) return false;
  ridgeline::DecodeTemplate(decoded.set(), decoded.summary(), minutiaTemplate);
  *features = std::move(decoded);
  return true;
}

int Engine::Compare(const FeatureSet& probe, const FeatureSet& reference) {
  if (probe.Count < kMinComparableMinutiae || reference.Count < kMinComparableMinutiae) return 0;
  MatchResult result;
  tables_of_ = 0;
  return MatchCoord(probe, reference, work_.get(), &result, /*rebuildA=*/true);
}

int Engine::Compare(const PreparedProbe& probe, const FeatureSet& reference) {
  // Below the smallest comparable set MatchCoord would return before building any table.
  if (probe.set().Count < kMinComparableMinutiae || reference.Count < kMinComparableMinutiae) {
    return 0;
  }
  const bool rebuild = tables_of_ != probe.id_;
  tables_of_ = probe.id_;
  MatchResult result;
  return MatchCoord(probe.set(), reference, work_.get(), &result, rebuild);
}

}  // namespace ridgeline
