// The acceptance path of one print and the enrollment's template round trip, through the
// engine object: what the adapter does with a sample and with an enrollment.
#include "tools/eval/print_features.h"

#include <chrono>
#include <new>
#include <utility>
#include <vector>

#include "core/constants.h"
#include "engine/engine.h"
#include "extract/resample_image.h"

namespace ridgeline::eval {

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

int AcceptanceSide(int side) { return Engine::WorkingSide(side); }

GreyImage AcceptanceImage(const GreyImage& capture) {
  GreyImage out;
  out.width = AcceptanceSide(capture.width);
  out.height = AcceptanceSide(capture.height);
  if (out.width < 1 || out.height < 1) return out;
  OwnedGrayImage owner(out.width, out.height);
  if (owner.null()) throw std::bad_alloc();
  if (!ResampleImage(capture.pixels.data(), capture.width, capture.height, kSensorResolution,
                     owner.get(), out.width, out.height, kEngineResolution)) {
    return GreyImage{};
  }
  out.pixels.assign(owner[0], owner[0] + static_cast<size_t>(out.width) * out.height);
  return out;
}

PrintFeatures ExtractPrint(const GreyImage& capture, int bands) {
  PrintFeatures print;
  const int width = AcceptanceSide(capture.width);
  const int height = AcceptanceSide(capture.height);
  // One engine per print keeps prints independent of each other, as in separate contexts.
  const std::unique_ptr<Engine> engine = Engine::Create();
  if (!engine) throw std::bad_alloc();
  engine->SetExtractionBands(bands);
  const auto start = std::chrono::steady_clock::now();
  AcceptedSample sample;
  const AcceptStatus status =
      engine->Accept(capture.pixels, capture.width, capture.height, &sample);
  print.extraction_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  switch (status) {
    case AcceptStatus::kAccepted:
      break;
    case AcceptStatus::kOutOfMemory:
      throw std::bad_alloc();
    case AcceptStatus::kSizeRefused:
      print.status = PrintStatus::kSizeRefused;
      print.reason = std::to_string(capture.width) + " x " + std::to_string(capture.height) +
                     " pixels become " + std::to_string(width) + " x " + std::to_string(height) +
                     " at 550 dpi; the extraction takes " + std::to_string(kMinImageSide) + " to " +
                     std::to_string(kMaxImageSide) + " a side";
      return print;
    case AcceptStatus::kBadCapture:
      print.status = PrintStatus::kBadCapture;
      print.reason =
          std::string("refused by the grey-level test (") + AcceptStatusText(status) + ")";
      return print;
    case AcceptStatus::kTooFewMinutiae:
      print.status = PrintStatus::kTooFewMinutiae;
      print.minutiae = sample.features.set()->Count;
      print.quality = sample.features.summary()->Quality;
      print.reason = "the extraction kept " + std::to_string(print.minutiae) + " minutiae";
      return print;
  }
  print.minutiae = sample.features.set()->Count;
  print.quality = sample.features.summary()->Quality;
  print.probe_crop_x = sample.crop_x;
  print.probe_crop_y = sample.crop_y;

  // The enrollment encodes a copy of the accepted sample (and may crop it); the probe stays as
  // accepted. The same engine carries on from the acceptance to the encoding, as one context.
  const EncodedTemplate encoded = engine->EncodeTemplate(sample.features);
  print.template_bytes = static_cast<int>(encoded.bytes.size());
  if (encoded.bytes.empty()) {  // an empty record: nothing was encoded
    print.status = PrintStatus::kTooFewMinutiae;
    print.reason = "the enrolled template holds no minutiae";
    return print;
  }
  auto reference = std::make_unique<FeatureRecords>();
  if (!engine->DecodeTemplate(encoded.bytes, reference.get())) {
    print.status = PrintStatus::kTooFewMinutiae;
    print.reason = "the enrolled template fails its structural check";
    return print;
  }
  print.reference_crop_x = encoded.crop_x;
  print.reference_crop_y = encoded.crop_y;

  print.status = PrintStatus::kAccepted;
  print.probe = std::make_unique<FeatureRecords>(std::move(sample.features));
  print.reference = std::move(reference);
  return print;
}

}  // namespace ridgeline::eval
