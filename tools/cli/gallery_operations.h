// The gallery operations behind `ridgeline enroll`, `verify`, `identify`, `list` and `delete`,
// and behind the Python module's Gallery. Every decision (a duplicate, which record an
// identification names, which score and level decide) is taken here, once; callers only present
// the results. Failures arrive as exceptions whose messages are the command's (CommandFailure,
// InputError, StoreError, HostError); refusals (nothing stored, not enrolled) come back in the
// result with the sentence the command prints. Nothing here writes to stdout or stderr: notes and
// warnings go to the caller's OperationLog as they happen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tools/cli/commands.h"
#include "tools/cli/comparison.h"
#include "tools/host/engine_host.h"

namespace ridgeline::tools {

// Where an operation's notes (what was done to an input) and warnings (records skipped) go.
struct OperationLog {
  std::function<void(const std::string&)> note;
  std::function<void(const std::string&)> warn;
};

// A stored finger as people read it: the subject's display name and the finger's name.
struct FingerRef {
  std::string subject;
  std::string finger;
};

struct EnrollResult {
  bool enrolled = false;
  int impressions = 0;  // merged into the stored template
  // When refused: "impressions_disagree", "already_enrolled" or "duplicate", and the sentence.
  std::string reason;
  std::string refusal;
  std::optional<Decision> check;   // the duplicate check, when it ran to a decision
  std::optional<FingerRef> other;  // duplicate: its owner; enrolled: the closest stored finger
};

// Enrolls captures as subject's finger. REQUIRES: subject as CheckedSubject returns it, finger a
// name ParseFinger takes, captures not empty. Creates the gallery when it is missing.
EnrollResult EnrollFinger(const CommonOptions& options, const std::string& subject,
                          const std::string& finger, const std::vector<Capture>& captures,
                          const OperationLog& log);

struct VerifyResult {
  bool enrolled = false;  // false: refused (refusal says why), nothing compared
  std::string refusal;
  Decision decision;
  bool adapter_match = false;  // the adapter's own answer at the default level
};

// REQUIRES: as EnrollFinger. Throws CommandFailure when the stored template is damaged.
VerifyResult VerifyFinger(const CommonOptions& options, const std::string& subject,
                          const std::string& finger, const Capture& capture,
                          const OperationLog& log);

struct Candidate {
  FingerRef who;
  int score = 0;
  bool match = false;
};

struct IdentifyResult {
  size_t gallery_size = 0;
  Decision decision;
  bool identified = false;
  FingerRef who;                           // when identified
  std::optional<bool> adapter_identified;  // when the adapter was asked (top 0)
  std::vector<Candidate> candidates;       // top > 0: the best `top` records, best first
};

// top 0: the adapter's answer (the first record that reaches the threshold); top K > 0: every
// record scored, the K best ranked.
IdentifyResult IdentifyPrint(const CommonOptions& options, const Capture& capture, int top,
                             const OperationLog& log);

// The same for a probe given as the finger views of a standard record: never the adapter's
// answer (it takes images), a stored finger scoring the best of the views. REQUIRES: views not
// empty.
IdentifyResult IdentifyViews(const CommonOptions& options,
                             const std::vector<eval::FeatureRecords>& views, int top,
                             const OperationLog& log);

// The capture's accepted features for a comparison in the tool, or CommandFailure (exit 2) when
// the engine refuses what the adapter would refuse too.
eval::PrintFeatures ProbeFeatures(const Capture& capture);

struct ListedRecord {
  FingerRef who;
  uint8_t sub_factor = 0;
  int impressions = 0;
  size_t template_bytes = 0;
  std::string created;
  std::string damage;  // empty when intact
};

struct GalleryListing {
  bool encrypted = false;
  std::vector<ListedRecord> records;  // in storage order
};

GalleryListing ListGallery(const CommonOptions& options);

// The number of templates deleted (0 when the subject, or that finger, is not enrolled).
// REQUIRES: subject as CheckedSubject returns it.
int DeleteFingers(const CommonOptions& options, const std::string& subject,
                  const std::optional<uint8_t>& sub_factor);

// The results as the command's JSON objects give them (README): the fields each command shares
// with the others' schema, without "command", "exit_code", "notes" and "warnings".
void AddDecision(nlohmann::json& object, const Decision& decision);
nlohmann::json EnrollJson(const EnrollResult& result);
nlohmann::json VerifyJson(const VerifyResult& result);
nlohmann::json IdentifyJson(const IdentifyResult& result);
nlohmann::json ListJson(const GalleryListing& listing);

}  // namespace ridgeline::tools
