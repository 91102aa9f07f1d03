// enroll, verify, identify, list, delete and match.
#include "tools/cli/commands.h"

#include <cstdio>
#include <iomanip>
#include <nlohmann/json.hpp>

#include "match/match_coord.h"
#include "tools/cli/engine_view.h"
#include "tools/cli/enrollment_consistency.h"
#include "tools/cli/workbench.h"
#include "tools/eval/print_features.h"

namespace ridgeline::tools {

std::string CheckedSubject(const std::string& name) {
  try {
    return NormaliseSubjectName(name);
  } catch (const SubjectNameError& error) {
    throw InputError(error.what());
  }
}

std::string DisplayName(TemplateStore& store, const WINBIO_IDENTITY& identity) {
  if (auto name = store.SubjectName(CanonicalIdentity(identity))) return PrintableText(*name);
  if (identity.Type == WINBIO_ID_TYPE_GUID) {
    const GUID& g = identity.Value.TemplateGuid;
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
  }
  return "(identity of type " + std::to_string(identity.Type) + ")";
}

uint8_t ParseFinger(const std::string& name) {
  if (auto finger = FingerFromName(name)) return *finger;
  throw InputError("unknown finger '" + name + "'; use one of: " + FingerNameList());
}

int ExitCodeFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSuccess:
      return kExitSuccess;
    case Outcome::kNoMatch:
    case Outcome::kUnknown:
    case Outcome::kDuplicate:
      return kExitNoMatch;
    case Outcome::kBadCapture:
    case Outcome::kAlreadyStored:
      return kExitBadInput;
    case Outcome::kStorageError:
      return kExitStorage;
    case Outcome::kEngineError:
      break;
  }
  return kExitEngine;
}

Capture PrepareWithNotes(const std::filesystem::path& path, const CaptureOptions& options) {
  std::vector<std::string> notes;
  Capture capture = PrepareCapture(path, options, &notes);
  for (const std::string& note : notes) std::cerr << "note: " << note << "\n";
  return capture;
}

namespace {

int Report(const HostResult& result) {
  if (!result.message.empty()) std::cerr << "ridgeline: " << result.message << "\n";
  return ExitCodeFor(result.outcome);
}

}  // namespace

int RunEnroll(const CommonOptions& options, const std::string& subject_arg,
              const std::string& finger, const std::vector<std::filesystem::path>& images) {
  const std::string subject = CheckedSubject(subject_arg);
  const uint8_t sub_factor = ParseFinger(finger);
  if (images.empty()) throw InputError("enroll needs at least one image");
  std::vector<Capture> captures;
  for (const auto& path : images) captures.push_back(PrepareWithNotes(path, options.capture));

  if (options.consistency_check) {
    if (auto disagreement = CheckImpressionsAgree(captures, kDefaultEnrollLevel)) {
      std::cerr << "ridgeline: refused: " << *disagreement
                << "; nothing was stored (use --no-consistency-check to enroll them anyway)\n";
      return kExitNoMatch;
    }
  }

  Workbench bench(options, TemplateStore::Mode::kCreateIfMissing);
  const WINBIO_IDENTITY identity = SubjectIdentity(subject);
  const auto existing = bench.store.QueryBySubject(CanonicalIdentity(identity), sub_factor);
  if (!existing.empty()) {
    std::cerr << "ridgeline: " << PrintableText(subject) << " " << finger
              << " is already enrolled in " << options.db.string()
              << (existing[0].damage.empty() ? "" : " (its record is damaged)")
              << "; delete it first to enroll it again\n";
    return kExitBadInput;
  }
  // The name goes in with the template, in the transaction of the duplicate check.
  bench.storage.NameOnAdd(CanonicalIdentity(identity), subject);
  const HostResult result = bench.host.Enroll(captures, identity, sub_factor);
  if (result.outcome == Outcome::kDuplicate) {
    std::cerr << "ridgeline: refused: this finger is already enrolled as "
              << DisplayName(bench.store, result.identity) << " " << FingerName(result.sub_factor)
              << "\n";
    return kExitNoMatch;
  }
  if (result.outcome != Outcome::kSuccess) return Report(result);
  std::cout << "enrolled " << PrintableText(subject) << " " << finger << " (" << result.impressions
            << (result.impressions == 1 ? " impression" : " impressions") << ")\n";
  return kExitSuccess;
}

int RunVerify(const CommonOptions& options, const std::string& subject_arg,
              const std::string& finger, const std::filesystem::path& image) {
  const std::string subject = CheckedSubject(subject_arg);
  const uint8_t sub_factor = ParseFinger(finger);
  const Capture capture = PrepareWithNotes(image, options.capture);
  Workbench bench(options, TemplateStore::Mode::kReadOnly);
  const WINBIO_IDENTITY identity = SubjectIdentity(subject);
  const auto enrolled = bench.store.QueryBySubject(CanonicalIdentity(identity), sub_factor);
  if (enrolled.empty()) {
    std::cerr << "ridgeline: " << PrintableText(subject) << " has no " << finger << " enrolled in "
              << options.db.string() << "\n";
    return kExitNoMatch;
  }
  if (!enrolled[0].damage.empty()) {
    std::cerr << "ridgeline: the stored template of " << PrintableText(subject) << " " << finger
              << " is damaged (" << enrolled[0].damage << "); delete it and enroll it again\n";
    return kExitStorage;
  }
  const HostResult result = bench.host.Verify(capture, identity, sub_factor);
  if (result.outcome == Outcome::kSuccess) {
    std::cout << "match: " << capture.name << " is " << PrintableText(subject) << "'s " << finger
              << "\n";
    return kExitSuccess;
  }
  if (result.outcome == Outcome::kNoMatch) {
    std::cout << "no match: " << capture.name << " is not " << PrintableText(subject) << "'s "
              << finger << "\n";
    return kExitNoMatch;
  }
  return Report(result);
}

int RunIdentify(const CommonOptions& options, const std::filesystem::path& image) {
  const Capture capture = PrepareWithNotes(image, options.capture);
  Workbench bench(options, TemplateStore::Mode::kReadOnly);
  const HostResult result = bench.host.Identify(capture);
  if (result.outcome == Outcome::kSuccess) {
    std::cout << "identified: " << capture.name << " is "
              << DisplayName(bench.store, result.identity) << "'s " << FingerName(result.sub_factor)
              << "\n";
    return kExitSuccess;
  }
  if (result.outcome == Outcome::kUnknown) {
    std::cout << "unknown: nobody in " << options.db.string() << " matches " << capture.name
              << "\n";
    return kExitNoMatch;
  }
  return Report(result);
}

int RunDelete(const CommonOptions& options, const std::string& subject_arg,
              const std::optional<std::string>& finger) {
  const std::string subject = CheckedSubject(subject_arg);
  std::optional<uint8_t> sub_factor;
  if (finger) sub_factor = ParseFinger(*finger);
  TemplateStore store(options.db, TemplateStore::Mode::kOpenExisting, GalleryOptionsFor(options));
  const int deleted = store.Delete(CanonicalIdentity(SubjectIdentity(subject)), sub_factor);
  if (deleted == 0) {
    std::cerr << "ridgeline: nothing to delete: " << PrintableText(subject)
              << (finger ? " " + *finger : "") << " is not enrolled in " << options.db.string()
              << "\n";
    return kExitNoMatch;
  }
  std::cout << "deleted " << deleted << (deleted == 1 ? " template" : " templates") << " of "
            << PrintableText(subject) << "\n";
  return kExitSuccess;
}

namespace {

// The adapter's threshold at its default match level.
constexpr int kMatchThreshold = 325;

// The matcher's score of probe against reference as a verification right after acceptance
// computes it: the probe's accepted feature set against the reference's template as enrolled
// (encoded within the 1024-byte budget and decoded), without the rotated retry. Empty when either
// capture is refused.
std::optional<int> MatcherScore(const Capture& probe, const Capture& reference) {
  auto as_grey = [](const Capture& capture) {
    return eval::GreyImage{capture.image.width, capture.image.height, capture.image.pixels};
  };
  const eval::PrintFeatures a = eval::ExtractPrint(as_grey(probe));
  const eval::PrintFeatures b = eval::ExtractPrint(as_grey(reference));
  if (!a.probe || !b.reference) return std::nullopt;
  const MatchWorkPtr work = BuildDefaultMatchWork();
  if (!work) throw std::bad_alloc();
  auto match_result = std::make_unique<MatchResult>();
  return MatchCoord(*a.probe->set(), *b.reference->set(), work.get(), match_result.get());
}

}  // namespace

int RunMatch(const CommonOptions& options, const std::filesystem::path& probe,
             const std::filesystem::path& reference) {
  const Capture reference_capture = PrepareWithNotes(reference, options.capture);
  const Capture probe_capture = PrepareWithNotes(probe, options.capture);
  // A private gallery in memory holds the reference for the one comparison.
  CommonOptions private_options = options;
  private_options.db = ":memory:";
  private_options.plaintext = true;
  Workbench bench(private_options, TemplateStore::Mode::kCreateIfMissing);
  const WINBIO_IDENTITY identity = SubjectIdentity("reference");
  constexpr uint8_t kFinger = 1;
  const std::optional<int> score = MatcherScore(probe_capture, reference_capture);
  bool match = false;
  const HostResult enrolled = bench.host.Enroll({reference_capture}, identity, kFinger);
  if (enrolled.outcome == Outcome::kEngineError && enrolled.hr == E_NOTIMPL && score) {
    // An adapter without enrollment cannot decide; the matcher's score against the threshold
    // is the same decision short of the rotated retry.
    std::cerr << "note: the adapter does not implement enrollment; deciding by the score\n";
    match = *score >= kMatchThreshold;
  } else {
    if (enrolled.outcome != Outcome::kSuccess) return Report(enrolled);
    const HostResult result = bench.host.Verify(probe_capture, identity, kFinger);
    if (result.outcome != Outcome::kSuccess && result.outcome != Outcome::kNoMatch) {
      return Report(result);
    }
    match = result.outcome == Outcome::kSuccess;
  }
  if (options.json) {
    nlohmann::json out = {{"probe", probe.string()},
                          {"reference", reference.string()},
                          {"score", score ? nlohmann::json(*score) : nlohmann::json(nullptr)},
                          {"threshold", kMatchThreshold},
                          {"match", match}};
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << (match ? "match" : "no match");
    if (score) std::cout << ": score " << *score;
    std::cout << " (threshold " << kMatchThreshold << ")\n";
  }
  return match ? kExitSuccess : kExitNoMatch;
}

}  // namespace ridgeline::tools
