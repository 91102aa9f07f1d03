// The engine as one object: it accepts a capture (resampling to the working resolution, the
// grey-level test, the extraction), encodes an accepted sample as a compact template the way an
// enrollment stores it, checks and decodes stored templates, scores two feature sets and decides
// at a match level. Every caller that is not the service adapter (the public library, the
// command-line tools, the evaluation) goes through it, so none of them repeats a decision.
//
// Thread safety: an Engine holds one parameter block and one matcher work area, so one Engine
// is used by one thread at a time; separate Engines share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/engine_params.h"
#include "core/owned_records.h"
#include "engine/engine_settings.h"
#include "engine/match_threshold.h"
#include "match/match_work.h"

namespace ridgeline {

enum class AcceptStatus {
  kAccepted,
  kSizeRefused,     // the working image would lie outside what the extraction takes
  kBadCapture,      // refused by the grey-level test
  kTooFewMinutiae,  // the extraction kept fewer minutiae than it requires
  kOutOfMemory,
};

// For people: what a refusal means, in a few words.
const char* AcceptStatusText(AcceptStatus status);

// An accepted capture. The minutiae are in the pixels of the working image (kEngineResolution)
// less the crop origin: a minutia at (X, Y) lies at (X + crop_x, Y + crop_y) of that image.
struct AcceptedSample {
  FeaturePair features;
  int working_width = 0;
  int working_height = 0;
  int crop_x = 0;
  int crop_y = 0;
};

// The images of one acceptance, for diagnostics: the working image as resampled, the same image
// as the extraction left it (binarised ridges), and the foreground mask (255 background, 0 print).
struct AcceptanceImages {
  OwnedGrayImage working;
  OwnedGrayImage binary;
  OwnedGrayImage foreground;
};

// A stored template as an enrollment writes it: its bytes and the crop origin the encoding used.
struct EncodedTemplate {
  std::vector<uint8_t> bytes;  // one MinutiaTemplate; empty when nothing could be encoded
  int crop_x = 0;
  int crop_y = 0;
};

class Engine {
 public:
  // An engine with the default parameters and a matcher work area; null when an allocation fails.
  static std::unique_ptr<Engine> Create();

  // The working image side for a capture side at the sensor's resolution.
  static int WorkingSide(int captureSide) { return ResampledSide(captureSide); }

  // Accepts a capture taken at the sensor's resolution (rows of exactly width bytes, top row
  // first). On kAccepted, *sample holds the features; on kTooFewMinutiae it holds what the
  // extraction kept (for reporting only); otherwise it is left empty. When images is
  // not null it receives the acceptance's images (whenever the grey-level test was reached).
  AcceptStatus Accept(std::span<const uint8_t> pixels, int width, int height,
                      AcceptedSample* sample, AcceptanceImages* images = nullptr);

  // Encodes an accepted sample the way an enrollment stores it (the sample itself is not
  // changed): at most kTemplateCapacity bytes, cropped to fit.
  EncodedTemplate EncodeTemplate(const FeaturePair& sample);

  // Decodes one MinutiaTemplate after its structural check (stored bytes are outside bytes);
  // false, with *features untouched, when the check refuses it or an allocation fails.
  bool DecodeTemplate(std::span<const uint8_t> minutiaTemplate, FeaturePair* features);

  // The matcher's score, 0..9999, of probe against reference. Sets with fewer than
  // kMinComparableMinutiae minutiae score 0.
  int Compare(const FeatureSet& probe, const FeatureSet& reference);

  // A probe compared with many references on one engine: the matcher builds the probe's tables
  // on the first comparison and reuses them while no other probe has been compared on that
  // engine in between (then they are built again). Scores are those of Compare.
  class PreparedProbe {
   public:
    const FeatureSet& set() const { return *probe_; }

   private:
    friend class Engine;
    PreparedProbe(const FeatureSet* probe, uint64_t id) : probe_(probe), id_(id) {}
    const FeatureSet* probe_;
    uint64_t id_;
  };
  // REQUIRES: probe outlives the returned object and is not changed while it is used.
  PreparedProbe Prepare(const FeatureSet& probe) { return PreparedProbe(&probe, ++last_probe_id_); }
  int Compare(const PreparedProbe& probe, const FeatureSet& reference);

  // The row bands of this engine's extractions (see CaptureExtractionBands, the default); a
  // count below 1 counts as 1. The features do not depend on it.
  void SetExtractionBands(int bands) { extraction_bands_ = bands < 1 ? 1 : bands; }
  int extraction_bands() const { return extraction_bands_; }

  // The threshold of a match level (clamped to 1..7) and the decision at that level.
  static int Threshold(int level) {
    return MatchThreshold(static_cast<uint8_t>(level < 0 ? 0 : level > 255 ? 255 : level));
  }
  static bool Matches(int score, int level) { return ReachesThreshold(score, Threshold(level)); }

 private:
  Engine() = default;

  EngineParams params_{};
  MatchWorkPtr work_;
  uint64_t last_probe_id_ = 0;
  int extraction_bands_ = CaptureExtractionBands();
  uint64_t tables_of_ = 0;  // the prepared probe whose tables the work area holds, 0 for none
};

}  // namespace ridgeline
