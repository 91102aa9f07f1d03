#include "tools/cli/gallery_operations.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>
#include <numeric>

#include "tools/cli/enrollment_consistency.h"
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

GalleryOptions GalleryOptionsFor(const CommonOptions& options) {
  GalleryOptions gallery;
  gallery.key_file = options.key_file;
  if (gallery.key_file.empty()) {
    if (const char* from_environment = std::getenv("RIDGELINE_KEY_FILE")) {
      gallery.key_file = from_environment;
    }
  }
  gallery.encrypt_new = !options.plaintext;
  return gallery;
}

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

namespace {

std::string RecordName(TemplateStore& store, const StoredRecord& record) {
  return record.subject.empty() ? DisplayName(store, IdentityFromBytes(record.identity))
                                : PrintableText(record.subject);
}

FingerRef RefOf(TemplateStore& store, const StoredRecord& record) {
  return {RecordName(store, record), FingerName(record.sub_factor)};
}

// The container header's byte 5 counts the impressions merged into the template.
int Impressions(const StoredRecord& record) {
  return record.template_blob.size() > 5 ? int{record.template_blob[5]} : 0;
}

// Every record of a gallery with its decoded template. A damaged record stays in the list
// (so indexes match) with an empty template, which scores 0, and is named once in a warning.
struct GalleryScan {
  std::vector<StoredRecord> records;
  std::vector<DecodedTemplate> templates;
};

GalleryScan ScanGallery(Workbench& bench, const OperationLog& log) {
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
      log.warn("the stored template of " +
               DisplayName(store, IdentityFromBytes(scan.records[i].identity)) + " " +
               FingerName(scan.records[i].sub_factor) +
               " is damaged and was skipped; delete that finger and enroll it again");
    }
  }
  return scan;
}

// The warning for a damaged record a query left out, given to the operation's log.
void WarnOfDamage(Workbench& bench, const OperationLog& log) {
  bench.storage.OnDamagedRecord([&bench, &log](const StoredRecord& record) {
    log.warn("skipped the damaged record of " + RecordName(bench.store, record) + " " +
             FingerName(record.sub_factor) + ": " + record.damage + "; run ridgeline check");
  });
}

nlohmann::json RefJson(const FingerRef& ref) {
  return {{"subject", ref.subject}, {"finger", ref.finger}};
}

}  // namespace

void WarnDamagedRecord(TemplateStore& store, const StoredRecord& record) {
  std::cerr << "ridgeline: warning: skipped the damaged record of " << RecordName(store, record)
            << " " << FingerName(record.sub_factor) << ": " << record.damage
            << "; run ridgeline check\n";
}

EnrollResult EnrollFinger(const CommonOptions& options, const std::string& subject,
                          const std::string& finger, const std::vector<Capture>& captures,
                          const OperationLog& log) {
  const uint8_t sub_factor = ParseFinger(finger);
  EnrollResult result;
  auto refuse = [&result](const char* reason, std::string sentence) {
    result.reason = reason;
    result.refusal = std::move(sentence);
    return result;
  };
  if (options.consistency_check) {
    if (auto disagreement = CheckImpressionsAgree(captures, options.level)) {
      return refuse("impressions_disagree",
                    "refused: " + *disagreement +
                        "; nothing was stored (--no-consistency-check enrolls them anyway)");
    }
  }

  Workbench bench(options, TemplateStore::Mode::kCreateIfMissing);
  WarnOfDamage(bench, log);
  const WINBIO_IDENTITY identity = SubjectIdentity(subject);
  const auto existing = bench.store.QueryBySubject(CanonicalIdentity(identity), sub_factor);
  if (!existing.empty()) {
    return refuse("already_enrolled",
                  PrintableText(subject) + " " + finger + " is already enrolled in " +
                      options.db.string() +
                      (existing[0].damage.empty() ? "" : " (its record is damaged)") +
                      "; delete it first to enroll it again");
  }

  // The duplicate check's score, beside the adapter's: each impression's enrolled form against
  // every stored template, as the adapter's check compares them.
  const GalleryScan scan = ScanGallery(bench, log);
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
  auto duplicate = [&](const Decision& decision, FingerRef owner) {
    result.check = decision;
    result.other = owner;
    return refuse("duplicate", "refused: this finger is already enrolled as " + owner.subject +
                                   " " + owner.finger + " (" + DescribeDecision(decision) +
                                   "); nothing was stored");
  };
  const int threshold = LevelThreshold(options.level);
  if (options.level != kDefaultLevel && best_score && *best_score >= threshold) {
    return duplicate(Decision{options.level, threshold, best_score, true, "engine"},
                     RefOf(bench.store, scan.records[best_record]));
  }

  // The name goes in with the template, in the transaction of the duplicate check.
  bench.storage.NameOnAdd(CanonicalIdentity(identity), subject);
  const HostResult enrolled = bench.host.Enroll(captures, identity, sub_factor);
  if (enrolled.outcome == Outcome::kDuplicate) {
    // The adapter refuses at its own level whatever the level asked for; its decision stands.
    const IdentityBytes owner = CanonicalIdentity(enrolled.identity);
    std::optional<int> score;
    for (size_t i = 0; i < scan.records.size(); ++i) {
      if (scan.records[i].identity == owner && scan.records[i].sub_factor == enrolled.sub_factor) {
        score = best_of_record[i];
      }
    }
    if (options.level != kDefaultLevel) {
      log.note("at level " + std::to_string(options.level) +
               " the engine's comparison finds no duplicate, but the adapter refuses the "
               "enrollment by its own duplicate check at level " +
               std::to_string(kDefaultLevel));
    }
    return duplicate(
        Decision{kDefaultLevel, LevelThreshold(kDefaultLevel), score, true, "adapter"},
        FingerRef{DisplayName(bench.store, enrolled.identity), FingerName(enrolled.sub_factor)});
  }
  if (enrolled.outcome == Outcome::kAlreadyStored) {
    return refuse("already_enrolled", PrintableText(subject) + " " + finger +
                                          " is already enrolled in " + options.db.string() +
                                          "; delete it first to enroll it again");
  }
  if (enrolled.outcome != Outcome::kSuccess) Fail(enrolled);

  result.check = Decide(options.level, best_score, false);
  if (best_score) result.other = RefOf(bench.store, scan.records[best_record]);
  result.enrolled = true;
  result.impressions = enrolled.impressions;
  return result;
}

VerifyResult VerifyFinger(const CommonOptions& options, const std::string& subject,
                          const std::string& finger, const Capture& capture,
                          const OperationLog& log) {
  const uint8_t sub_factor = ParseFinger(finger);
  VerifyResult result;
  result.decision =
      Decision{options.level, LevelThreshold(options.level), std::nullopt, false, "none"};
  Workbench bench(options, TemplateStore::Mode::kReadOnly);
  WarnOfDamage(bench, log);
  const WINBIO_IDENTITY identity = SubjectIdentity(subject);
  const std::vector<StoredRecord> records =
      bench.store.QueryBySubject(CanonicalIdentity(identity), sub_factor);
  if (records.empty()) {
    result.refusal =
        PrintableText(subject) + " has no " + finger + " enrolled in " + options.db.string();
    return result;
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
  const HostResult verified = bench.host.Verify(capture, identity, sub_factor);
  if (verified.outcome != Outcome::kSuccess && verified.outcome != Outcome::kNoMatch) {
    Fail(verified);
  }
  const eval::PrintFeatures features = AcceptedFeatures(capture);
  std::optional<int> score;
  if (features.probe) {
    const std::unique_ptr<Engine> engine = Engine::Create();
    if (!engine) throw std::bad_alloc();
    score = BestScore(*features.probe->set(), *stored, *engine);
  }
  result.enrolled = true;
  result.adapter_match = verified.outcome == Outcome::kSuccess;
  result.decision = Decide(options.level, score, result.adapter_match);
  return result;
}

namespace {

// The identification's answer from the gallery's scores (one per scanned record, in storage
// order) and, when it was asked, the adapter's own answer.
IdentifyResult AnswerIdentification(const CommonOptions& options, Workbench& bench,
                                    const GalleryScan& scan, const std::vector<int>& scores,
                                    const std::optional<HostResult>& adapter, int top) {
  const int threshold = LevelThreshold(options.level);
  IdentifyResult result;
  result.gallery_size = scan.records.size();

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
  result.decision = decision;
  if (decision.match && chosen) {
    result.identified = true;
    result.who = RefOf(bench.store, scan.records[*chosen]);
  } else if (decision.match) {
    // The adapter named a record this scan did not find (it changed in between).
    result.identified = true;
    result.who = {DisplayName(bench.store, adapter->identity), FingerName(adapter->sub_factor)};
  }
  if (adapter) {
    result.adapter_identified = adapter->outcome == Outcome::kSuccess;
  } else {
    const size_t shown = std::min(order.size(), static_cast<size_t>(top));
    for (size_t rank = 0; rank < shown; ++rank) {
      const int score = scores[order[rank]];
      result.candidates.push_back(
          {RefOf(bench.store, scan.records[order[rank]]), score, score >= threshold});
    }
  }
  return result;
}

}  // namespace

IdentifyResult IdentifyPrint(const CommonOptions& options, const Capture& capture, int top,
                             const OperationLog& log) {
  Workbench bench(options, TemplateStore::Mode::kReadOnly);
  WarnOfDamage(bench, log);
  // The adapter answers the plain question at its own level; every other answer comes from
  // the engine's comparison of the probe with the whole gallery.
  std::optional<HostResult> adapter;
  if (top == 0) {
    HostResult answer = bench.host.Identify(capture);
    if (answer.outcome != Outcome::kSuccess && answer.outcome != Outcome::kUnknown) Fail(answer);
    adapter = answer;
  }
  const eval::PrintFeatures features = ProbeFeatures(capture);
  const GalleryScan scan = ScanGallery(bench, log);
  return AnswerIdentification(options, bench, scan,
                              ScoreAll(*features.probe->set(), scan.templates, 0), adapter, top);
}

IdentifyResult IdentifyViews(const CommonOptions& options,
                             const std::vector<eval::FeatureRecords>& views, int top,
                             const OperationLog& log) {
  Workbench bench(options, TemplateStore::Mode::kReadOnly);
  WarnOfDamage(bench, log);
  const GalleryScan scan = ScanGallery(bench, log);
  std::vector<int> scores(scan.templates.size(), 0);
  for (const eval::FeatureRecords& view : views) {
    const std::vector<int> view_scores = ScoreAll(*view.set(), scan.templates, 0);
    for (size_t i = 0; i < scores.size(); ++i) scores[i] = std::max(scores[i], view_scores[i]);
  }
  return AnswerIdentification(options, bench, scan, scores, std::nullopt, top);
}

GalleryListing ListGallery(const CommonOptions& options) {
  TemplateStore store(options.db, TemplateStore::Mode::kReadOnly, GalleryOptionsFor(options));
  GalleryListing listing;
  listing.encrypted = store.encrypted();
  for (const StoredRecord& r : store.QueryAll(kAnySubFactor)) {
    listing.records.push_back({RefOf(store, r), r.sub_factor, Impressions(r),
                               r.template_blob.size(), r.created, r.damage});
  }
  return listing;
}

int DeleteFingers(const CommonOptions& options, const std::string& subject,
                  const std::optional<uint8_t>& sub_factor) {
  TemplateStore store(options.db, TemplateStore::Mode::kOpenExisting, GalleryOptionsFor(options));
  return store.Delete(CanonicalIdentity(SubjectIdentity(subject)), sub_factor);
}

void AddDecision(nlohmann::json& object, const Decision& decision) {
  object["score"] = decision.score ? nlohmann::json(*decision.score) : nlohmann::json(nullptr);
  object["threshold"] = decision.threshold;
  object["level"] = decision.level;
  object["decided_by"] = decision.decided_by;
}

nlohmann::json EnrollJson(const EnrollResult& result) {
  nlohmann::json out = {{"enrolled", result.enrolled},
                        {"impressions", result.impressions},
                        {"reason", nullptr},
                        {"duplicate_check", nullptr}};
  if (!result.enrolled) out["reason"] = result.reason;
  if (result.check) {
    nlohmann::json check = nlohmann::json::object();
    AddDecision(check, *result.check);
    const bool duplicate = result.reason == "duplicate";
    check["duplicate"] = duplicate;
    if (duplicate) {
      check["duplicate_of"] = RefJson(*result.other);
    } else {
      check["closest"] = result.other ? RefJson(*result.other) : nlohmann::json(nullptr);
    }
    out["duplicate_check"] = check;
  }
  return out;
}

nlohmann::json VerifyJson(const VerifyResult& result) {
  nlohmann::json out = {{"match", result.decision.match},
                        {"reason", result.enrolled ? nlohmann::json(nullptr) : "not_enrolled"}};
  AddDecision(out, result.decision);
  if (result.enrolled) {
    out["adapter"] = {{"level", kDefaultLevel}, {"match", result.adapter_match}};
  }
  return out;
}

nlohmann::json IdentifyJson(const IdentifyResult& result) {
  nlohmann::json out = {{"identified", result.identified},
                        {"subject", nullptr},
                        {"finger", nullptr},
                        {"gallery_size", result.gallery_size}};
  if (result.identified) {
    out["subject"] = result.who.subject;
    out["finger"] = result.who.finger;
  }
  AddDecision(out, result.decision);
  if (result.adapter_identified) {
    out["adapter"] = {{"level", kDefaultLevel}, {"identified", *result.adapter_identified}};
  } else {
    nlohmann::json candidates = nlohmann::json::array();
    for (size_t rank = 0; rank < result.candidates.size(); ++rank) {
      const Candidate& c = result.candidates[rank];
      candidates.push_back({{"rank", rank + 1},
                            {"subject", c.who.subject},
                            {"finger", c.who.finger},
                            {"score", c.score},
                            {"match", c.match}});
    }
    out["candidates"] = candidates;
  }
  return out;
}

nlohmann::json ListJson(const GalleryListing& listing) {
  nlohmann::json rows = nlohmann::json::array();
  for (const ListedRecord& r : listing.records) {
    rows.push_back(
        {{"subject", r.who.subject},
         {"finger", r.who.finger},
         {"sub_factor", r.sub_factor},
         {"impressions", r.impressions},
         {"template_bytes", r.template_bytes},
         {"enrolled", r.created},
         {"damaged", !r.damage.empty()},
         {"problem", r.damage.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.damage)}});
  }
  return {{"encrypted", listing.encrypted}, {"records", rows}};
}

}  // namespace ridgeline::tools
