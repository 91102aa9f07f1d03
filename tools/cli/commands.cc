// enroll, verify, identify, list, delete and match.
#include "tools/cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <numeric>

#include "engine/record_export.h"
#include "tools/cli/comparison.h"
#include "tools/cli/enrollment_consistency.h"
#include "tools/cli/template_command.h"
#include "tools/cli/workbench.h"

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
    case Outcome::kAlreadyStored:
      return kExitNoMatch;
    case Outcome::kBadCapture:
      return kExitBadInput;
    case Outcome::kStorageError:
      return kExitStorage;
    case Outcome::kEngineError:
      break;
  }
  return kExitEngine;
}

void Fail(const HostResult& result) {
  throw CommandFailure(ExitCodeFor(result.outcome), result.message);
}

Capture PrepareWithNotes(const std::filesystem::path& path, const CaptureOptions& options,
                         Reply& reply) {
  std::vector<std::string> notes;
  Capture capture = PrepareCapture(path, options, &notes);
  for (const std::string& note : notes) reply.Note(note);
  return capture;
}

namespace {

nlohmann::json ScoreJson(const std::optional<int>& score) {
  return score ? nlohmann::json(*score) : nlohmann::json(nullptr);
}

// The decision's fields of every JSON object that reports one.
void AddDecision(nlohmann::json& object, const Decision& decision) {
  object["score"] = ScoreJson(decision.score);
  object["threshold"] = decision.threshold;
  object["level"] = decision.level;
  object["decided_by"] = decision.decided_by;
}

// The capture's accepted features for the side comparison, or a failure when the engine in the
// tool refuses what the adapter would refuse too.
eval::PrintFeatures ProbeFeatures(const Capture& capture) {
  eval::PrintFeatures features = AcceptedFeatures(capture);
  if (!features.probe) {
    throw CommandFailure(kExitBadInput, capture.name +
                                            ": the engine could not use this capture (bad "
                                            "capture): " +
                                            features.reason);
  }
  return features;
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

// Every record of a gallery with its decoded template. A damaged record stays in the list
// (so indexes match) with an empty template, which scores 0, and is named once in a warning.
struct GalleryScan {
  std::vector<StoredRecord> records;
  std::vector<DecodedTemplate> templates;
};

GalleryScan ScanGallery(Workbench& bench, Reply& reply) {
  TemplateStore& store = bench.store;
  GalleryScan scan;
  scan.records = store.QueryAll(kAnySubFactor);
  scan.templates.resize(scan.records.size());
  for (size_t i = 0; i < scan.records.size(); ++i) {
    if (!scan.records[i].damage.empty()) {
      bench.storage.ReportDamage(scan.records[i]);  // warned once, with the adapter's queries
    } else if (auto decoded = DecodeStoredTemplate(scan.records[i].template_blob)) {
      scan.templates[i] = std::move(*decoded);
    } else {
      reply.Warn("the stored template of " +
                 DisplayName(store, IdentityFromBytes(scan.records[i].identity)) + " " +
                 FingerName(scan.records[i].sub_factor) +
                 " is damaged and was skipped; delete that finger and enroll it again");
    }
  }
  return scan;
}

std::string RecordName(TemplateStore& store, const StoredRecord& record) {
  return record.subject.empty() ? DisplayName(store, IdentityFromBytes(record.identity))
                                : PrintableText(record.subject);
}

// The warning for a damaged record a query left out, given to the command's reply.
void WarnOfDamage(Workbench& bench, Reply& reply) {
  bench.storage.OnDamagedRecord([&bench, &reply](const StoredRecord& record) {
    reply.Warn("skipped the damaged record of " + RecordName(bench.store, record) + " " +
               FingerName(record.sub_factor) + ": " + record.damage + "; run ridgeline check");
  });
}

}  // namespace

int RunEnroll(const CommonOptions& options, const std::string& subject_arg,
              const std::string& finger, const std::vector<std::filesystem::path>& images) {
  Reply reply(options.json, "enroll");
  const std::string subject = CheckedSubject(subject_arg);
  const uint8_t sub_factor = ParseFinger(finger);
  if (images.empty()) throw InputError("enroll needs at least one image");
  std::vector<Capture> captures;
  for (const auto& path : images)
    captures.push_back(PrepareWithNotes(path, options.capture, reply));
  nlohmann::json& out = reply.object();
  out["subject"] = subject;
  out["finger"] = finger;
  out["gallery"] = options.db.string();
  out["enrolled"] = false;
  out["impressions"] = 0;
  out["reason"] = nullptr;
  out["duplicate_check"] = nullptr;
  if (options.consistency_check) {
    if (auto disagreement = CheckImpressionsAgree(captures, options.level)) {
      out["reason"] = "impressions_disagree";
      reply.Refuse("refused: " + *disagreement +
                   "; nothing was stored (--no-consistency-check enrolls them anyway)");
      return reply.Finish(kExitNoMatch);
    }
  }

  Workbench bench(options, TemplateStore::Mode::kCreateIfMissing);
  WarnOfDamage(bench, reply);
  const WINBIO_IDENTITY identity = SubjectIdentity(subject);
  const auto existing = bench.store.QueryBySubject(CanonicalIdentity(identity), sub_factor);
  if (!existing.empty()) {
    out["reason"] = "already_enrolled";
    reply.Refuse(PrintableText(subject) + " " + finger + " is already enrolled in " +
                 options.db.string() +
                 (existing[0].damage.empty() ? "" : " (its record is damaged)") +
                 "; delete it first to enroll it again");
    return reply.Finish(kExitNoMatch);
  }

  // The duplicate check's score, beside the adapter's: each impression's enrolled form against
  // every stored template, as the adapter's check compares them.
  const GalleryScan scan = ScanGallery(bench, reply);
  std::optional<int> best_score;
  size_t best_record = 0;
  std::vector<int> best_of_record(scan.records.size(), 0);
  for (const Capture& capture : captures) {
    const eval::PrintFeatures features = AcceptedFeatures(capture);
    if (!features.reference || scan.records.empty()) continue;
    const std::vector<int> scores = ScoreAll(*features.reference->set(), scan.templates, 0);
    for (size_t i = 0; i < scores.size(); ++i) {
      best_of_record[i] = std::max(best_of_record[i], scores[i]);
      if (!best_score || scores[i] > *best_score) best_score = scores[i], best_record = i;
    }
  }
  auto report_duplicate = [&](const Decision& decision, const std::string& owner,
                              uint8_t owner_finger) {
    nlohmann::json check = nlohmann::json::object();
    AddDecision(check, decision);
    check["duplicate"] = true;
    check["duplicate_of"] = {{"subject", owner}, {"finger", FingerName(owner_finger)}};
    out["duplicate_check"] = check;
    out["reason"] = "duplicate";
    reply.Refuse("refused: this finger is already enrolled as " + owner + " " +
                 FingerName(owner_finger) + " (" + DescribeDecision(decision) +
                 "); nothing was stored");
    return reply.Finish(kExitNoMatch);
  };
  const int threshold = LevelThreshold(options.level);
  if (options.level != kDefaultLevel && best_score && *best_score >= threshold) {
    const StoredRecord& owner = scan.records[best_record];
    return report_duplicate(Decision{options.level, threshold, best_score, true, "engine"},
                            RecordName(bench.store, owner), owner.sub_factor);
  }

  // The name goes in with the template, in the transaction of the duplicate check.
  bench.storage.NameOnAdd(CanonicalIdentity(identity), subject);
  const HostResult result = bench.host.Enroll(captures, identity, sub_factor);
  if (result.outcome == Outcome::kDuplicate) {
    // The adapter refuses at its own level whatever the level asked for; its decision stands.
    const IdentityBytes owner = CanonicalIdentity(result.identity);
    std::optional<int> score;
    for (size_t i = 0; i < scan.records.size(); ++i) {
      if (scan.records[i].identity == owner && scan.records[i].sub_factor == result.sub_factor) {
        score = best_of_record[i];
      }
    }
    if (options.level != kDefaultLevel) {
      reply.Note("at level " + std::to_string(options.level) +
                 " the engine's comparison finds no duplicate, but the adapter refuses the "
                 "enrollment by its own duplicate check at level " +
                 std::to_string(kDefaultLevel));
    }
    return report_duplicate(
        Decision{kDefaultLevel, LevelThreshold(kDefaultLevel), score, true, "adapter"},
        DisplayName(bench.store, result.identity), result.sub_factor);
  }
  if (result.outcome == Outcome::kAlreadyStored) {
    out["reason"] = "already_enrolled";
    reply.Refuse(PrintableText(subject) + " " + finger + " is already enrolled in " +
                 options.db.string() + "; delete it first to enroll it again");
    return reply.Finish(kExitNoMatch);
  }
  if (result.outcome != Outcome::kSuccess) Fail(result);

  const Decision check = Decide(options.level, best_score, false);
  nlohmann::json check_json = nlohmann::json::object();
  AddDecision(check_json, check);
  check_json["duplicate"] = false;
  check_json["closest"] = nullptr;
  if (best_score) {
    const StoredRecord& closest = scan.records[best_record];
    check_json["closest"] = {{"subject", RecordName(bench.store, closest)},
                             {"finger", FingerName(closest.sub_factor)}};
  }
  out["duplicate_check"] = check_json;
  out["enrolled"] = true;
  out["impressions"] = result.impressions;
  reply.out() << "enrolled " << PrintableText(subject) << " " << finger << " ("
              << result.impressions << (result.impressions == 1 ? " impression" : " impressions")
              << ")\n"
              << "duplicate check: "
              << (best_score ? "closest stored finger " +
                                   RecordName(bench.store, scan.records[best_record]) + " " +
                                   FingerName(scan.records[best_record].sub_factor) + ", " +
                                   DescribeDecision(check)
                             : "the gallery held no other finger")
              << "\n";
  return reply.Finish(kExitSuccess);
}

int RunVerify(const CommonOptions& options, const std::string& subject_arg,
              const std::string& finger, const std::filesystem::path& image) {
  Reply reply(options.json, "verify");
  const std::string subject = CheckedSubject(subject_arg);
  const uint8_t sub_factor = ParseFinger(finger);
  const Capture capture = PrepareWithNotes(image, options.capture, reply);
  nlohmann::json& out = reply.object();
  out["subject"] = subject;
  out["finger"] = finger;
  out["image"] = capture.name;
  out["match"] = false;
  out["reason"] = nullptr;
  AddDecision(out,
              Decision{options.level, LevelThreshold(options.level), std::nullopt, false, "none"});
  Workbench bench(options, TemplateStore::Mode::kReadOnly);
  WarnOfDamage(bench, reply);
  const WINBIO_IDENTITY identity = SubjectIdentity(subject);
  const std::vector<StoredRecord> records =
      bench.store.QueryBySubject(CanonicalIdentity(identity), sub_factor);
  if (records.empty()) {
    out["reason"] = "not_enrolled";
    reply.Refuse(PrintableText(subject) + " has no " + finger + " enrolled in " +
                 options.db.string());
    return reply.Finish(kExitNoMatch);
  }
  const std::optional<DecodedTemplate> stored =
      records.front().damage.empty() ? DecodeStoredTemplate(records.front().template_blob)
                                     : std::nullopt;
  if (!stored) {
    const std::string why =
        records.front().damage.empty() ? "" : " (" + records.front().damage + ")";
    throw CommandFailure(kExitStorage, "the stored template of " + subject + " " + finger +
                                           " is damaged" + why +
                                           "; delete that finger and enroll it again");
  }
  const HostResult result = bench.host.Verify(capture, identity, sub_factor);
  if (result.outcome != Outcome::kSuccess && result.outcome != Outcome::kNoMatch) Fail(result);
  const eval::PrintFeatures features = AcceptedFeatures(capture);
  std::optional<int> score;
  if (features.probe) {
    const std::unique_ptr<Engine> engine = Engine::Create();
    if (!engine) throw std::bad_alloc();
    score = BestScore(*features.probe->set(), *stored, *engine);
  }
  const Decision decision = Decide(options.level, score, result.outcome == Outcome::kSuccess);
  out["match"] = decision.match;
  AddDecision(out, decision);
  out["adapter"] = {{"level", kDefaultLevel}, {"match", result.outcome == Outcome::kSuccess}};
  reply.out() << (decision.match ? "match: " : "no match: ") << capture.name
              << (decision.match ? " is " : " is not ") << PrintableText(subject) << "'s " << finger
              << " (" << DescribeDecision(decision) << ")\n";
  return reply.Finish(decision.match ? kExitSuccess : kExitNoMatch);
}

int RunIdentify(const CommonOptions& options, const std::filesystem::path& image, int top) {
  Reply reply(options.json, "identify");
  // A standard record is told by its content; it never reaches the adapter, which takes images.
  const bool record_probe = LooksLikeRecord(image);
  std::optional<RecordSide> probe_record;
  std::optional<Capture> capture;
  if (record_probe) {
    probe_record = ImportRecordFile(image, reply);
  } else {
    capture = PrepareWithNotes(image, options.capture, reply);
  }
  const std::string probe_name = capture ? capture->name : image.string();
  nlohmann::json& out = reply.object();
  out["image"] = probe_name;
  out["identified"] = false;
  out["subject"] = nullptr;
  out["finger"] = nullptr;
  Workbench bench(options, TemplateStore::Mode::kReadOnly);
  WarnOfDamage(bench, reply);
  const int threshold = LevelThreshold(options.level);

  // The adapter answers the plain question at its own level; every other answer comes from
  // the engine's comparison of the probe with the whole gallery.
  std::optional<HostResult> adapter;
  if (top == 0 && capture) {
    HostResult result = bench.host.Identify(*capture);
    if (result.outcome != Outcome::kSuccess && result.outcome != Outcome::kUnknown) Fail(result);
    adapter = result;
  }
  const GalleryScan scan = ScanGallery(bench, reply);
  std::vector<int> scores;
  if (probe_record) {
    // Each view of the record against every stored finger; a finger keeps its best score.
    if (top == 0) {
      reply.Note(
          "a standard record does not go through the adapter: the engine's comparison "
          "decides (the best-scoring stored finger)");
    }
    DescribeRecordSide(image, *probe_record, reply, &out["record"]);
    scores.assign(scan.templates.size(), 0);
    for (const eval::FeatureRecords& view : probe_record->views) {
      const std::vector<int> view_scores = ScoreAll(*view.set(), scan.templates, 0);
      for (size_t i = 0; i < scores.size(); ++i) scores[i] = std::max(scores[i], view_scores[i]);
    }
  } else {
    const eval::PrintFeatures features = ProbeFeatures(*capture);
    scores = ScoreAll(*features.probe->set(), scan.templates, 0);
  }
  out["gallery_size"] = scan.records.size();

  std::optional<size_t> chosen;
  Decision decision{options.level, threshold, std::nullopt, false, "engine"};
  if (adapter && options.level == kDefaultLevel) {
    decision.decided_by = "adapter";
    decision.match = adapter->outcome == Outcome::kSuccess;
    if (decision.match) {
      const IdentityBytes who = CanonicalIdentity(adapter->identity);
      for (size_t i = 0; i < scan.records.size(); ++i) {
        if (scan.records[i].identity == who && scan.records[i].sub_factor == adapter->sub_factor) {
          chosen = i;
        }
      }
    }
  } else if (adapter) {
    // The adapter's rule at another level: the first record in gallery order that reaches it.
    for (size_t i = 0; i < scores.size() && !chosen; ++i) {
      if (scores[i] >= threshold) chosen = i;
    }
    decision.match = chosen.has_value();
  }
  std::vector<size_t> order(scan.records.size());
  std::iota(order.begin(), order.end(), size_t{0});
  if (!adapter) {
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return scores[a] > scores[b]; });
    if (!order.empty() && scores[order.front()] >= threshold) chosen = order.front();
    decision.match = chosen.has_value();
  }
  if (chosen) {
    decision.score = scores[*chosen];
  } else if (!order.empty()) {
    decision.score = *std::max_element(scores.begin(), scores.end());
  }
  AddDecision(out, decision);
  std::string who;
  if (decision.match && chosen) {
    who = RecordName(bench.store, scan.records[*chosen]);
    out["identified"] = true;
    out["subject"] = who;
    out["finger"] = FingerName(scan.records[*chosen].sub_factor);
  } else if (decision.match) {
    // The adapter named a record this scan did not find (it changed in between).
    who = DisplayName(bench.store, adapter->identity);
    out["identified"] = true;
    out["subject"] = who;
    out["finger"] = FingerName(adapter->sub_factor);
  }
  if (adapter) {
    out["adapter"] = {{"level", kDefaultLevel},
                      {"identified", adapter->outcome == Outcome::kSuccess}};
  }
  if (decision.match) {
    reply.out() << "identified: " << probe_name << " is " << who << "'s "
                << out["finger"].get<std::string>();
  } else {
    reply.out() << "unknown: nobody in " << options.db.string() << " matches " << probe_name;
  }
  reply.out() << " (" << (decision.match ? "" : "best ") << DescribeDecision(decision) << ")\n";
  if (!adapter) {
    nlohmann::json candidates = nlohmann::json::array();
    const size_t shown = std::min(order.size(), static_cast<size_t>(top));
    if (shown > 0) {
      reply.out() << std::right << std::setw(4) << "RANK" << std::setw(7) << "SCORE"
                  << "  " << std::left << std::setw(24) << "SUBJECT"
                  << "FINGER\n";
    }
    for (size_t rank = 0; rank < shown; ++rank) {
      const StoredRecord& record = scan.records[order[rank]];
      const int score = scores[order[rank]];
      const std::string name = RecordName(bench.store, record);
      candidates.push_back({{"rank", rank + 1},
                            {"subject", name},
                            {"finger", FingerName(record.sub_factor)},
                            {"score", score},
                            {"match", score >= threshold}});
      reply.out() << std::right << std::setw(4) << rank + 1 << std::setw(7) << score << "  "
                  << std::left << std::setw(24) << name << FingerName(record.sub_factor)
                  << (score >= threshold ? "  (match)" : "") << "\n";
    }
    out["candidates"] = candidates;
  }
  return reply.Finish(decision.match ? kExitSuccess : kExitNoMatch);
}

int RunDelete(const CommonOptions& options, const std::string& subject_arg,
              const std::optional<std::string>& finger) {
  Reply reply(options.json, "delete");
  const std::string subject = CheckedSubject(subject_arg);
  std::optional<uint8_t> sub_factor;
  if (finger) sub_factor = ParseFinger(*finger);
  TemplateStore store(options.db, TemplateStore::Mode::kOpenExisting, GalleryOptionsFor(options));
  const int deleted = store.Delete(CanonicalIdentity(SubjectIdentity(subject)), sub_factor);
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
