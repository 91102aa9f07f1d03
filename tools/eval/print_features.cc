// The acceptance path of one print (resample, grey-level test, extraction) and the enrollment's
// template round trip, with the engine's own routines and the adapter's constants.
#include "tools/eval/print_features.h"

#include <chrono>
#include <new>
#include <utility>
#include <vector>

#include "adapter/check_image.h"
#include "adapter/resample_image.h"
#include "extract/constants.h"
#include "extract/engine_params.h"
#include "extract/features_extraction.h"
#include "match/template_decode.h"
#include "match/template_encode.h"
#include "match/template_layout.h"

namespace ridgeline::eval {
namespace {

// What the adapter passes: captures are taken at 500 dpi and extracted at 550 dpi, at their own
// scale, into a template of at most 1024 bytes, with the type-3 quality score.
constexpr int kCaptureDpi = 500;
constexpr int kEngineDpi = 550;
constexpr int kResolutionPercent = 100;
constexpr int kTemplateCapacity = 1024;
constexpr int kExtractionType = 3;
constexpr int kMinExtractionSide = 34;

// Owns a GrayImage.
struct ImageOwner {
  GrayImage image;
  ~ImageOwner() { FreeGrayImage(image); }
};

}  // namespace

FeatureRecords::FeatureRecords() {
  if (!AllocFeatureRecords(&set_, &summary_)) throw std::bad_alloc();
}

FeatureRecords::~FeatureRecords() { FreeFeatureRecords(set_, summary_); }

FeatureRecords::FeatureRecords(FeatureRecords&& other) noexcept
    : set_(std::exchange(other.set_, nullptr)), summary_(std::exchange(other.summary_, nullptr)) {}

FeatureRecords& FeatureRecords::operator=(FeatureRecords&& other) noexcept {
  if (this != &other) {
    FreeFeatureRecords(set_, summary_);
    set_ = std::exchange(other.set_, nullptr);
    summary_ = std::exchange(other.summary_, nullptr);
  }
  return *this;
}

const char* PrintStatusName(PrintStatus status) {
  switch (status) {
    case PrintStatus::kAccepted:
      return "accepted";
    case PrintStatus::kUnusableFile:
      return "unusable file";
    case PrintStatus::kBadCapture:
      return "bad capture";
    case PrintStatus::kSizeRefused:
      return "size refused";
    case PrintStatus::kTooFewMinutiae:
      return "too few minutiae";
  }
  return "?";
}

int AcceptanceSide(int side) { return side * kEngineDpi / kCaptureDpi; }

GreyImage AcceptanceImage(const GreyImage& capture) {
  GreyImage out;
  out.width = AcceptanceSide(capture.width);
  out.height = AcceptanceSide(capture.height);
  if (out.width < 1 || out.height < 1) return out;
  ImageOwner owner{AllocGrayImage(out.width, out.height)};
  if (owner.image == nullptr) throw std::bad_alloc();
  if (!ResampleImage(capture.pixels.data(), capture.width, capture.height, kCaptureDpi, owner.image,
                     out.width, out.height, kEngineDpi)) {
    return GreyImage{};
  }
  out.pixels.assign(owner.image[0], owner.image[0] + static_cast<size_t>(out.width) * out.height);
  return out;
}

PrintFeatures ExtractPrint(const GreyImage& capture) {
  PrintFeatures print;
  const int width = AcceptanceSide(capture.width);
  const int height = AcceptanceSide(capture.height);
  if (width < kMinExtractionSide || height < kMinExtractionSide || width > kMaxImageSide ||
      height > kMaxImageSide) {
    print.status = PrintStatus::kSizeRefused;
    print.reason = std::to_string(capture.width) + " x " + std::to_string(capture.height) +
                   " pixels become " + std::to_string(width) + " x " + std::to_string(height) +
                   " at 550 dpi; the extraction takes 34 to 1024 a side";
    return print;
  }

  const auto start = std::chrono::steady_clock::now();
  ImageOwner owner{AllocGrayImage(width, height)};
  if (owner.image == nullptr) throw std::bad_alloc();
  if (!ResampleImage(capture.pixels.data(), capture.width, capture.height, kCaptureDpi, owner.image,
                     width, height, kEngineDpi)) {
    throw std::bad_alloc();  // the sizes were checked, so only an allocation can fail
  }
  if (!CheckImage(owner.image, width, height)) {
    print.status = PrintStatus::kBadCapture;
    print.reason =
        "refused by the grey-level test (too few grey levels, or one level covers "
        "more than 80 % of the image)";
    return print;
  }
  EngineParams params{};
  InitEngineParams(&params);
  auto probe = std::make_unique<FeatureRecords>();
  const int extracted =
      FeaturesExtractionEx(&params, width, height, owner.image, kResolutionPercent, probe->set(),
                           probe->summary(), kTemplateCapacity, kExtractionType);
  print.extraction_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  print.minutiae = probe->set()->Count;
  print.quality = probe->summary()->Quality;
  if (extracted == 0) {
    print.status = PrintStatus::kTooFewMinutiae;
    print.reason = "the extraction kept " + std::to_string(print.minutiae) + " minutiae";
    return print;
  }
  print.probe_crop_x = params.CropX;
  print.probe_crop_y = params.CropY;

  // The enrollment encodes the accepted sample itself (and may crop it); the probe stays as
  // accepted, so the template is written from a copy. The same parameter block carries on from
  // the extraction to the encoding, as in one engine context.
  FeatureRecords enrolled;
  CopyFeatureSet(enrolled.set(), probe->set());
  std::vector<uint8_t> record(kTemplateCapacity);
  EncodeTemplate(&params, enrolled.set(), probe->summary()->BoundaryDensity, record);
  print.template_bytes = TemplateRecordSize(record);
  if (print.template_bytes < kTemplateHeaderSize) {  // an empty record: nothing was encoded
    print.status = PrintStatus::kTooFewMinutiae;
    print.reason = "the enrolled template holds no minutiae";
    return print;
  }
  auto reference = std::make_unique<FeatureRecords>();
  DecodeTemplate(reference->set(), reference->summary(),
                 std::span<const uint8_t>(record.data(), print.template_bytes));
  print.reference_crop_x = params.CropX;
  print.reference_crop_y = params.CropY;

  print.status = PrintStatus::kAccepted;
  print.probe = std::move(probe);
  print.reference = std::move(reference);
  return print;
}

}  // namespace ridgeline::eval
