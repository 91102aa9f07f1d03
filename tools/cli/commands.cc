// enroll, verify, identify, list, delete and match.
#include "tools/cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <numeric>

#include "tools/cli/comparison.h"
#include "tools/cli/gallery_operations.h"
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
  const Capture capture = PrepareWithNotes(image, options.capture, reply);
  const IdentifyResult result = IdentifyPrint(options, capture, top, LogTo(reply));
  nlohmann::json& out = reply.object();
  out.update(IdentifyJson(result));
  out["image"] = capture.name;
  const Decision& decision = result.decision;
  if (decision.match) {
    reply.out() << "identified: " << capture.name << " is " << result.who.subject << "'s "
                << result.who.finger;
  } else {
    reply.out() << "unknown: nobody in " << options.db.string() << " matches " << capture.name;
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

int RunMatch(const CommonOptions& options, const std::filesystem::path& probe,
             const std::filesystem::path& reference) {
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
