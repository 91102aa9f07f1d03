// enroll, verify, identify, list, delete and match.
#include "tools/cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <numeric>

#include "engine/record_export.h"
#include "tools/cli/comparison.h"
#include "tools/cli/gallery_operations.h"
#include "tools/cli/template_command.h"
#include "tools/cli/workbench.h"

namespace ridgeline::tools {

Capture PrepareWithNotes(const std::filesystem::path& path, const CaptureOptions& options,
                         Reply& reply) {
  std::vector<std::string> notes;
  Capture capture = PrepareCapture(path, options, &notes);
  for (const std::string& note : notes) reply.Note(note);
  return capture;
}

namespace {

// The operation's notes and warnings, given to the command's reply as they come.
OperationLog LogTo(Reply& reply) {
  return {[&reply](const std::string& text) { reply.Note(text); },
          [&reply](const std::string& text) { reply.Warn(text); }};
}

// A standard minutiae record on one side of a comparison: each finger view imported for the
// matcher (the engine's own item when the record carries it, else the standard fields). A view
// that cannot be imported is skipped with a warning; none at all is bad input.
struct RecordSide {
  std::vector<eval::FeatureRecords> views;
  int with_engine_item = 0;
  std::string format;
};

RecordSide ImportRecordFile(const std::filesystem::path& path, Reply& reply) {
  std::vector<std::string> notes;
  const StandardRecord record = LoadRecord(path, &notes);
  for (const std::string& note : notes) reply.Note(path.string() + ": " + note);
  const std::unique_ptr<Engine> engine = Engine::Create();
  if (!engine) throw std::bad_alloc();
  RecordSide side;
  side.format = RecordFormatName(record.format);
  std::string why = "it holds no finger view";
  for (size_t i = 0; i < record.views.size(); ++i) {
    eval::FeatureRecords features;
    bool from_item = false;
    if (ImportView(*engine, record.views[i], &features, &from_item, &why)) {
      side.views.push_back(std::move(features));
      side.with_engine_item += from_item ? 1 : 0;
    } else {
      reply.Warn(path.string() + ": view " + std::to_string(i) + " left out: " + why);
    }
  }
  if (side.views.empty()) {
    throw InputError(path.string() + ": no finger view of the record can be compared (" + why +
                     ")");
  }
  return side;
}

// What the reply says of a side that is a record, in the text and the JSON.
void DescribeRecordSide(const std::filesystem::path& path, const RecordSide& side, Reply& reply,
                        nlohmann::json* json) {
  *json = {{"file", path.string()},
           {"format", side.format},
           {"views", side.views.size()},
           {"with_engine_item", side.with_engine_item}};
  if (side.with_engine_item < static_cast<int>(side.views.size())) {
    reply.Note(path.string() +
               ": compared from its standard fields (no block direction map of "
               "its own; see the README)");
  }
}

}  // namespace

int RunEnroll(const CommonOptions& options, const std::string& subject_arg,
              const std::string& finger, const std::vector<std::filesystem::path>& images) {
  Reply reply(options.json, "enroll");
  const std::string subject = CheckedSubject(subject_arg);
  ParseFinger(finger);
  if (images.empty()) throw InputError("enroll needs at least one image");
  std::vector<Capture> captures;
  for (const auto& path : images)
    captures.push_back(PrepareWithNotes(path, options.capture, reply));
  const EnrollResult result = EnrollFinger(options, subject, finger, captures, LogTo(reply));
  nlohmann::json& out = reply.object();
  out.update(EnrollJson(result));
  out["subject"] = subject;
  out["finger"] = finger;
  out["gallery"] = options.db.string();
  if (!result.enrolled) {
    reply.Refuse(result.refusal);
    return reply.Finish(kExitNoMatch);
  }
  reply.out() << "enrolled " << PrintableText(subject) << " " << finger << " ("
              << result.impressions << (result.impressions == 1 ? " impression" : " impressions")
              << ")\n"
              << "duplicate check: "
              << (result.other ? "closest stored finger " + result.other->subject + " " +
                                     result.other->finger + ", " + DescribeDecision(*result.check)
                               : "the gallery held no other finger")
              << "\n";
  return reply.Finish(kExitSuccess);
}

int RunVerify(const CommonOptions& options, const std::string& subject_arg,
              const std::string& finger, const std::filesystem::path& image) {
  Reply reply(options.json, "verify");
  const std::string subject = CheckedSubject(subject_arg);
  ParseFinger(finger);
  const Capture capture = PrepareWithNotes(image, options.capture, reply);
  const VerifyResult result = VerifyFinger(options, subject, finger, capture, LogTo(reply));
  nlohmann::json& out = reply.object();
  out.update(VerifyJson(result));
  out["subject"] = subject;
  out["finger"] = finger;
  out["image"] = capture.name;
  if (!result.enrolled) {
    reply.Refuse(result.refusal);
    return reply.Finish(kExitNoMatch);
  }
  const Decision& decision = result.decision;
  reply.out() << (decision.match ? "match: " : "no match: ") << capture.name
              << (decision.match ? " is " : " is not ") << PrintableText(subject) << "'s " << finger
              << " (" << DescribeDecision(decision) << ")\n";
  return reply.Finish(decision.match ? kExitSuccess : kExitNoMatch);
}

int RunIdentify(const CommonOptions& options, const std::filesystem::path& image, int top) {
  Reply reply(options.json, "identify");
  // A standard record is told by its content; it never reaches the adapter, which takes images.
  IdentifyResult result;
  std::string probe_name;
  nlohmann::json record_json;
  if (LooksLikeRecord(image)) {
    const RecordSide side = ImportRecordFile(image, reply);
    DescribeRecordSide(image, side, reply, &record_json);
    if (top == 0) {
      reply.Note(
          "a standard record does not go through the adapter: the engine's comparison "
          "decides (the best-scoring stored finger)");
    }
    result = IdentifyViews(options, side.views, top, LogTo(reply));
    probe_name = image.string();
  } else {
    const Capture capture = PrepareWithNotes(image, options.capture, reply);
    result = IdentifyPrint(options, capture, top, LogTo(reply));
    probe_name = capture.name;
  }
  nlohmann::json& out = reply.object();
  out.update(IdentifyJson(result));
  out["image"] = probe_name;
  if (!record_json.is_null()) out["record"] = record_json;
  const Decision& decision = result.decision;
  if (decision.match) {
    reply.out() << "identified: " << probe_name << " is " << result.who.subject << "'s "
                << result.who.finger;
  } else {
    reply.out() << "unknown: nobody in " << options.db.string() << " matches " << probe_name;
  }
  reply.out() << " (" << (decision.match ? "" : "best ") << DescribeDecision(decision) << ")\n";
  if (!result.candidates.empty()) {
    reply.out() << std::right << std::setw(4) << "RANK" << std::setw(7) << "SCORE"
                << "  " << std::left << std::setw(24) << "SUBJECT"
                << "FINGER\n";
  }
  for (size_t rank = 0; rank < result.candidates.size(); ++rank) {
    const Candidate& c = result.candidates[rank];
    reply.out() << std::right << std::setw(4) << rank + 1 << std::setw(7) << c.score << "  "
                << std::left << std::setw(24) << c.who.subject << c.who.finger
                << (c.match ? "  (match)" : "") << "\n";
  }
  return reply.Finish(decision.match ? kExitSuccess : kExitNoMatch);
}

int RunDelete(const CommonOptions& options, const std::string& subject_arg,
              const std::optional<std::string>& finger) {
  Reply reply(options.json, "delete");
  const std::string subject = CheckedSubject(subject_arg);
  std::optional<uint8_t> sub_factor;
  if (finger) sub_factor = ParseFinger(*finger);
  const int deleted = DeleteFingers(options, subject, sub_factor);
  reply.object()["subject"] = subject;
  reply.object()["finger"] = finger ? nlohmann::json(*finger) : nlohmann::json(nullptr);
  reply.object()["deleted"] = deleted;
  if (deleted == 0) {
    reply.Refuse("nothing to delete: " + PrintableText(subject) + (finger ? " " + *finger : "") +
                 " is not enrolled in " + options.db.string());
    return reply.Finish(kExitNoMatch);
  }
  reply.out() << "deleted " << deleted << (deleted == 1 ? " template" : " templates") << " of "
              << PrintableText(subject) << "\n";
  return reply.Finish(kExitSuccess);
}

namespace {

// `match` with a standard record on either side (or both): the engine's comparison of every
// probe view with every reference view, the best score counting, decided against the level's
// threshold. An image side is accepted (and, as the reference, enrolled) as in a plain match.
int MatchWithRecords(const CommonOptions& options, const std::filesystem::path& probe,
                     const std::filesystem::path& reference, bool probe_is_record,
                     bool reference_is_record) {
  Reply reply(options.json, "match");
  nlohmann::json& out = reply.object();
  out["probe"] = probe.string();
  out["reference"] = reference.string();
  std::vector<eval::FeatureRecords> references;
  std::vector<eval::FeatureRecords> probes;
  if (reference_is_record) {
    RecordSide side = ImportRecordFile(reference, reply);
    DescribeRecordSide(reference, side, reply, &out["reference_record"]);
    references = std::move(side.views);
  } else {
    const Capture capture = PrepareWithNotes(reference, options.capture, reply);
    eval::PrintFeatures features = ProbeFeatures(capture);
    references.push_back(std::move(*features.reference));
  }
  if (probe_is_record) {
    RecordSide side = ImportRecordFile(probe, reply);
    DescribeRecordSide(probe, side, reply, &out["probe_record"]);
    probes = std::move(side.views);
  } else {
    const Capture capture = PrepareWithNotes(probe, options.capture, reply);
    eval::PrintFeatures features = ProbeFeatures(capture);
    probes.push_back(std::move(*features.probe));
  }
  const std::unique_ptr<Engine> engine = Engine::Create();
  if (!engine) throw std::bad_alloc();
  int best = 0;
  for (const eval::FeatureRecords& p : probes) {
    for (const eval::FeatureRecords& r : references) {
      best = std::max(best, engine->Compare(*p.set(), *r.set()));
    }
  }
  reply.Note("a standard record does not go through the adapter: the engine's comparison decides");
  Decision decision{options.level, LevelThreshold(options.level), best, false, "engine"};
  decision.match = ReachesThreshold(best, decision.threshold);
  out["match"] = decision.match;
  AddDecision(out, decision);
  reply.out() << (decision.match ? "match" : "no match") << " (" << DescribeDecision(decision)
              << ")\n";
  return reply.Finish(decision.match ? kExitSuccess : kExitNoMatch);
}

}  // namespace

int RunMatch(const CommonOptions& options, const std::filesystem::path& probe,
             const std::filesystem::path& reference) {
  const bool probe_is_record = LooksLikeRecord(probe);
  const bool reference_is_record = LooksLikeRecord(reference);
  if (probe_is_record || reference_is_record) {
    return MatchWithRecords(options, probe, reference, probe_is_record, reference_is_record);
  }
  Reply reply(options.json, "match");
  const Capture reference_capture = PrepareWithNotes(reference, options.capture, reply);
  const Capture probe_capture = PrepareWithNotes(probe, options.capture, reply);
  // A private gallery in memory holds the reference for the one comparison.
  CommonOptions private_options = options;
  private_options.db = ":memory:";
  private_options.plaintext = true;
  Workbench bench(private_options, TemplateStore::Mode::kCreateIfMissing);
  const WINBIO_IDENTITY identity = SubjectIdentity("reference");
  constexpr uint8_t kFinger = 1;
  // The score a verification right after acceptance computes: the probe's accepted feature set
  // against the reference as enrolled (encoded within the template budget and decoded).
  const eval::PrintFeatures a = AcceptedFeatures(probe_capture);
  const eval::PrintFeatures b = AcceptedFeatures(reference_capture);
  std::optional<int> score;
  if (a.probe && b.reference) {
    const std::unique_ptr<Engine> engine = Engine::Create();
    if (!engine) throw std::bad_alloc();
    score = engine->Compare(*a.probe->set(), *b.reference->set());
  }
  Decision decision;
  const HostResult enrolled = bench.host.Enroll({reference_capture}, identity, kFinger);
  if (enrolled.outcome == Outcome::kEngineError && enrolled.hr == E_NOTIMPL && score) {
    // An adapter without enrollment cannot decide; the score against the threshold is the same
    // decision.
    reply.Note("the adapter does not implement enrollment; deciding by the score");
    decision = Decide(options.level, score, false);
    decision.match = *score >= decision.threshold;
    decision.decided_by = "engine";
  } else {
    if (enrolled.outcome != Outcome::kSuccess) Fail(enrolled);
    const HostResult result = bench.host.Verify(probe_capture, identity, kFinger);
    if (result.outcome != Outcome::kSuccess && result.outcome != Outcome::kNoMatch) Fail(result);
    decision = Decide(options.level, score, result.outcome == Outcome::kSuccess);
  }
  nlohmann::json& out = reply.object();
  out["probe"] = probe.string();
  out["reference"] = reference.string();
  out["match"] = decision.match;
  AddDecision(out, decision);
  reply.out() << (decision.match ? "match" : "no match") << " (" << DescribeDecision(decision)
              << ")\n";
  return reply.Finish(decision.match ? kExitSuccess : kExitNoMatch);
}

}  // namespace ridgeline::tools
