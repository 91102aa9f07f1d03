// The host's run through the engine adapter's interface, step by step.
#include "tools/wintest/scenario.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

#include "platform/winbio_types.h"
#include "tools/wintest/adapter_library.h"
#include "tools/wintest/bir_record.h"
#include "tools/wintest/debug_output_capture.h"
#include "tools/wintest/memory_storage.h"
#include "tools/wintest/trace_text.h"

namespace ridgeline::wintest {

const char* const kPrintFileNames[5] = {"enroll_a.bir", "genuine_a.bir", "enroll_b.bir",
                                        "genuine_b.bir", "impostor.bir"};

namespace {

constexpr size_t kFilledSlots = 21;
constexpr size_t kTableSlots = 41;
constexpr size_t kFirstSlotOffset = 32;
constexpr WINBIO_BIOMETRIC_SUBTYPE kSubFactor = 1;  // the finger both subjects enroll
constexpr int kFlatImageSide = 300;
constexpr uint8_t kFlatGrey = 128;

// The C library in use is the C99 one on every target (mingw-w64 builds use its own printf
// family), so the format is checked as GNU printf rather than as the Microsoft runtime's.
#if defined(__MINGW32__)
#define WINTEST_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#else
#define WINTEST_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* format, ...) WINTEST_PRINTF_FORMAT;
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  return text;
}

std::string Hr(HRESULT hr) { return Format("0x%08x", static_cast<unsigned>(hr)); }

WINBIO_IDENTITY GuidIdentity(uint32_t tag) {
  WINBIO_IDENTITY identity;
  std::memset(&identity, 0, sizeof(identity));
  identity.Type = WINBIO_ID_TYPE_GUID;
  identity.Value.TemplateGuid = {tag, 0x5eed, 0x4a11, {0x8b, 0x1e, 0, 0, 0, 0, 0, 0x42}};
  return identity;
}

class Host {
 public:
  explicit Host(RunResult* result) : result_(*result) {}

  void Run(const std::string& library_path, const PrintSet* prints);

 private:
  // Transcript and checks.
  void Line(const std::string& text) {
    std::printf("%s\n", text.c_str());
    result_.transcript.push_back(text);
  }
  void Note(const std::string& text) { std::printf("  note: %s\n", text.c_str()); }
  bool Check(bool ok, const std::string& what) {
    if (!ok) {
      std::printf("DEVIATION: %s\n", what.c_str());
      result_.deviations.push_back(what);
    }
    return ok;
  }
  // A result code check; false (a deviation) lets the caller skip what depends on the call.
  bool Expect(const std::string& step, HRESULT got, HRESULT want) {
    return Check(got == want, step + ": result " + Hr(got) + ", expected " + Hr(want));
  }
  // Adds the trace written since the last call, masked, and checks its stamps.
  void Trace(const std::string& step);

  // Steps.
  bool Load(const std::string& library_path);
  bool QueryTable();
  bool AttachUnit();
  void PlainQueries();
  void ControlRequests();
  void RefusedSamples();
  void EndToEnd(const PrintSet& prints);
  void Unload();

  // Engine calls that several steps share.
  HRESULT Accept(const std::string& name, const std::vector<uint8_t>& bir,
                 WINBIO_BIR_PURPOSE purpose, HRESULT want, WINBIO_REJECT_DETAIL want_reject);
  void ClearContext();
  void Enroll(const std::string& subject, const std::string& print, const std::vector<uint8_t>& bir,
              const WINBIO_IDENTITY& identity, bool check_duplicate);
  void Verify(const std::string& what, const WINBIO_IDENTITY& identity, HRESULT want,
              const StoredRecord* want_record);
  void Identify(const std::string& what, HRESULT want, const std::string& want_subject);
  void Export(const std::vector<uint8_t>& accepted);
  std::string Describe(const WINBIO_IDENTITY& identity) const;
  const StoredRecord* RecordOf(const std::string& subject) const;

  RunResult& result_;
  DebugOutputCapture capture_;
  AdapterLibrary library_;
  PWINBIO_ENGINE_INTERFACE table_ = nullptr;
  WINBIO_PIPELINE pipeline_{};
  MemoryStorage storage_;
  std::map<std::string, WINBIO_IDENTITY> identities_;
  std::map<std::string, std::vector<uint8_t>> payloads_;
};

void Host::Trace(const std::string& step) {
  for (const TraceLine& line : MaskTrace(capture_.Take())) {
    Line("    | " + line.text + (line.ended ? "" : " (no newline)"));
    Check(!line.bad_stamp, step + ": malformed time stamp in trace line \"" + line.text + "\"");
  }
}

bool Host::Load(const std::string& library_path) {
  std::string error;
  if (!Check(capture_.Start(&error), "debugger output capture: " + error)) return false;
  if (!Check(library_.Open(library_path, &error), "loading " + library_path + ": " + error)) {
    return false;
  }
  Line("load library");
  const std::string captured = capture_.Take();
  Check(captured.find("EngineAdapter DllMain\n") != std::string::npos,
        "load: the library entry routine wrote no \"EngineAdapter DllMain\" trace");
  for (const TraceLine& line : MaskTrace(captured)) Line("    | " + line.text);
  return Check(library_.QueryFunction() != nullptr,
               "the library does not export " WINBIO_QUERY_ENGINE_INTERFACE_FN_NAME);
}

bool Host::QueryTable() {
  const PWINBIO_QUERY_ENGINE_INTERFACE_FN query = library_.QueryFunction();
  HRESULT hr = query(nullptr);
  Line("query interface (null): " + Hr(hr));
  Expect("query interface with a null argument", hr, E_POINTER);
  Trace("query interface (null)");

  hr = query(&table_);
  Line("query interface: " + Hr(hr));
  Trace("query interface");
  if (!Expect("query interface", hr, S_OK) || !Check(table_ != nullptr, "no table returned")) {
    return false;
  }
  PWINBIO_ENGINE_INTERFACE again = nullptr;
  query(&again);
  capture_.Take();
  Check(again == table_, "a second query returned another table");

  // The slots are read as the service reads them: pointer-sized entries from byte 32 on.
  void* slots[kTableSlots];
  std::memcpy(slots, reinterpret_cast<const uint8_t*>(table_) + kFirstSlotOffset, sizeof(slots));
  size_t filled = 0;
  size_t first_null = kTableSlots;
  for (size_t i = 0; i < kTableSlots; ++i) {
    if (slots[i] != nullptr) ++filled;
    if (slots[i] == nullptr && first_null == kTableSlots) first_null = i;
  }
  Line(Format("table: version %u.%u, type %u, size %llu, %zu slots filled, first null slot %zu",
              table_->Version.MajorVersion, table_->Version.MinorVersion,
              static_cast<unsigned>(table_->Type), static_cast<unsigned long long>(table_->Size),
              filled, first_null + 1));
  Check(table_->Version.MajorVersion == 1 && table_->Version.MinorVersion == 0,
        "table version is not 1.0");
  Check(table_->Type == WINBIO_ADAPTER_TYPE_ENGINE, "table type is not 2 (engine)");
  Check(table_->Size == 360, "table size is not 360");
  Check(filled == kFilledSlots && first_null == kFilledSlots,
        "slots 1 to 21 must be filled and slots 22 to 41 null");
#ifdef _WIN32
  MEMORY_BASIC_INFORMATION page;
  if (Check(VirtualQuery(table_, &page, sizeof(page)) != 0, "VirtualQuery on the table failed")) {
    const DWORD writable =
        PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    Note(Format("table page protection 0x%lx", static_cast<unsigned long>(page.Protect)));
    Check((page.Protect & writable) == 0, "the interface table lies in writable memory");
  }
#endif
  return true;
}

bool Host::AttachUnit() {
  std::memset(&pipeline_, 0, sizeof(pipeline_));
  pipeline_.EngineHandle = INVALID_HANDLE_VALUE;
  pipeline_.EngineInterface = table_;
  storage_.ConnectTo(&pipeline_);

  HRESULT hr = table_->Attach(&pipeline_);
  Line("attach: " + Hr(hr) +
       (pipeline_.EngineContext != nullptr ? ", context set" : ", no context") +
       (pipeline_.EngineHandle == nullptr ? ", engine handle null" : ", engine handle not null"));
  Trace("attach");
  if (!Expect("attach", hr, S_OK)) return false;
  Check(pipeline_.EngineContext != nullptr, "attach left no context on the pipeline");
  Check(pipeline_.EngineHandle == nullptr, "attach did not set the engine handle to null");

  auto* const context = pipeline_.EngineContext;
  hr = table_->Attach(&pipeline_);
  Line("attach again: " + Hr(hr));
  Trace("attach again");
  Expect("second attach", hr, WINBIO_E_INVALID_DEVICE_STATE);
  Check(pipeline_.EngineContext == context, "a refused attach replaced the context");
  return true;
}

void Host::PlainQueries() {
  WINBIO_REGISTERED_FORMAT format{};
  WINBIO_UUID vendor{};
  HRESULT hr = table_->QueryPreferredFormat(&pipeline_, &format, &vendor);
  Line(Format("query preferred format: %s, owner %u, type %u", Hr(hr).c_str(), format.Owner,
              format.Type));
  Trace("query preferred format");
  if (Expect("query preferred format", hr, S_OK)) {
    Check(
        format.Owner == WINBIO_ANSI_381_FORMAT_OWNER && format.Type == WINBIO_ANSI_381_FORMAT_TYPE,
        "preferred format is not owner 27, type 1025");
  }
  hr = table_->QueryPreferredFormat(&pipeline_, nullptr, &vendor);
  Line("query preferred format (null format): " + Hr(hr));
  Trace("query preferred format (null)");
  Expect("query preferred format with a null format", hr, E_POINTER);

  SIZE_T count = 99;
  hr = table_->QueryIndexVectorSize(&pipeline_, &count);
  Line(Format("query index vector size: %s, %llu", Hr(hr).c_str(),
              static_cast<unsigned long long>(count)));
  Trace("query index vector size");
  if (Expect("query index vector size", hr, S_OK)) Check(count == 0, "index vector size is not 0");

  SIZE_T hint = 0;
  hr = table_->QuerySampleHint(&pipeline_, &hint);
  Line(
      Format("query sample hint: %s, %llu", Hr(hr).c_str(), static_cast<unsigned long long>(hint)));
  Trace("query sample hint");
  if (Expect("query sample hint", hr, S_OK)) Check(hint == 1, "sample hint is not 1");

  SIZE_T algorithms = 0, buffer_size = 0;
  PUCHAR buffer = nullptr;
  hr = table_->QueryHashAlgorithms(&pipeline_, &algorithms, &buffer_size, &buffer);
  Line("query hash algorithms: " + Hr(hr));
  Trace("query hash algorithms");
  Expect("query hash algorithms", hr, E_NOTIMPL);

  hr = table_->SetHashAlgorithm(&pipeline_, 0, nullptr);
  Line("set hash algorithm: " + Hr(hr));
  Trace("set hash algorithm");
  Expect("set hash algorithm", hr, E_NOTIMPL);

  PUCHAR hash = nullptr;
  SIZE_T hash_size = 0;
  hr = table_->GetEnrollmentHash(&pipeline_, &hash, &hash_size);
  Line("get enrollment hash: " + Hr(hr));
  Trace("get enrollment hash");
  Expect("get enrollment hash", hr, E_NOTIMPL);
}

void Host::ControlRequests() {
  UCHAR send[4] = {1, 2, 3, 4};
  UCHAR receive[4] = {};
  SIZE_T received = 7;
  ULONG status = 7;
  for (const bool privileged : {false, true}) {
    const auto control = privileged ? table_->ControlUnitPrivileged : table_->ControlUnit;
    const std::string name = privileged ? "control unit privileged" : "control unit";
    HRESULT hr =
        control(&pipeline_, 1, send, sizeof(send), receive, sizeof(receive), &received, &status);
    Line(name + ": " + Hr(hr));
    Trace(name);
    Expect(name + " with every pointer", hr, E_INVALIDARG);
    hr = control(&pipeline_, 1, send, sizeof(send), receive, sizeof(receive), &received, nullptr);
    Line(name + " (null status): " + Hr(hr));
    Trace(name + " (null status)");
    Expect(name + " with a null status pointer", hr, E_POINTER);
  }
  Check(received == 7 && status == 7 && receive[0] == 0, "a refused control request wrote output");
}

HRESULT Host::Accept(const std::string& name, const std::vector<uint8_t>& bir,
                     WINBIO_BIR_PURPOSE purpose, HRESULT want, WINBIO_REJECT_DETAIL want_reject) {
  // The engine reads the record in place; a copy keeps the file's bytes pristine for the
  // export comparison.
  std::vector<uint8_t> sample = bir;
  WINBIO_REJECT_DETAIL reject = 0;
  const HRESULT hr = table_->AcceptSampleData(
      &pipeline_, reinterpret_cast<PWINBIO_BIR>(sample.data()), sample.size(), purpose, &reject);
  Line(Format("accept %s (purpose 0x%02x): %s, reject detail %u", name.c_str(), purpose,
              Hr(hr).c_str(), static_cast<unsigned>(reject)));
  Trace("accept " + name);
  if (Expect("accept " + name, hr, want)) {
    Check(reject == want_reject,
          Format("accept %s: reject detail %u, expected %u", name.c_str(),
                 static_cast<unsigned>(reject), static_cast<unsigned>(want_reject)));
  }
  return hr;
}

void Host::RefusedSamples() {
  const std::vector<uint8_t> flat(static_cast<size_t>(kFlatImageSide) * kFlatImageSide, kFlatGrey);
  Accept("a flat grey image", BuildFingerImageBir(kFlatImageSide, kFlatImageSide, flat),
         WINBIO_PURPOSE_VERIFY, WINBIO_E_BAD_CAPTURE, kRejectDetailBadCapture);

  BirOptions options;
  options.format_owner = WINBIO_ANSI_381_FORMAT_OWNER + 1;
  Accept("a record of another format owner",
         BuildFingerImageBir(kFlatImageSide, kFlatImageSide, flat, options), WINBIO_PURPOSE_VERIFY,
         E_INVALIDARG, 0);
  options = {};
  options.biometric_type = WINBIO_TYPE_FINGERPRINT << 1;
  Accept("a record of another biometric type",
         BuildFingerImageBir(kFlatImageSide, kFlatImageSide, flat, options), WINBIO_PURPOSE_VERIFY,
         WINBIO_E_UNSUPPORTED_DATA_FORMAT, 0);
  options = {};
  options.compression = 1;
  Accept("a compressed image", BuildFingerImageBir(kFlatImageSide, kFlatImageSide, flat, options),
         WINBIO_PURPOSE_VERIFY, WINBIO_E_UNSUPPORTED_DATA_FORMAT, 0);

  // Nothing was accepted, so there is nothing to export.
  std::vector<uint8_t> buffer(64);
  SIZE_T size = buffer.size();
  PWINBIO_BIR* out = reinterpret_cast<PWINBIO_BIR*>(buffer.data());
  const HRESULT hr = table_->ExportEngineData(&pipeline_, WINBIO_DATA_FLAG_PROCESSED, out, &size);
  Line("export engine data with nothing accepted: " + Hr(hr));
  Trace("export engine data (nothing accepted)");
  Expect("export engine data with nothing accepted", hr, WINBIO_E_INVALID_DEVICE_STATE);
}

void Host::ClearContext() {
  const HRESULT hr = table_->ClearContext(&pipeline_);
  Line("clear context: " + Hr(hr));
  Trace("clear context");
  Expect("clear context", hr, S_OK);
}

void Host::Export(const std::vector<uint8_t>& accepted) {
  // The caller supplies the buffer; its capacity travels in the size argument.
  std::vector<uint8_t> buffer(accepted.size() + 16, 0xEE);
  SIZE_T size = 8;
  PWINBIO_BIR* out = reinterpret_cast<PWINBIO_BIR*>(buffer.data());
  HRESULT hr = table_->ExportEngineData(&pipeline_, WINBIO_DATA_FLAG_PROCESSED, out, &size);
  Line(Format("export engine data into 8 bytes: %s, needed %llu", Hr(hr).c_str(),
              static_cast<unsigned long long>(size)));
  Trace("export engine data (too small)");
  if (Expect("export engine data into a small buffer", hr, E_INVALIDARG)) {
    Check(size == accepted.size(), "export reported a needed size other than the record's");
  }
  size = buffer.size();
  hr = table_->ExportEngineData(&pipeline_, WINBIO_DATA_FLAG_PROCESSED, out, &size);
  const bool same = std::memcmp(buffer.data(), accepted.data(), accepted.size()) == 0;
  Line(Format("export engine data: %s, %s", Hr(hr).c_str(),
              same ? "the accepted record" : "other bytes"));
  Trace("export engine data");
  if (Expect("export engine data", hr, S_OK)) {
    Check(same, "exported bytes differ from the accepted record");
    Check(buffer[accepted.size()] == 0xEE, "export wrote past the record's end");
  }
  hr = table_->ExportEngineData(&pipeline_, WINBIO_DATA_FLAG_RAW | WINBIO_DATA_FLAG_PRIVACY, out,
                                &size);
  Line("export engine data with raw and privacy flags: " + Hr(hr));
  Trace("export engine data (raw and privacy)");
  Expect("export engine data with raw and privacy flags", hr, E_INVALIDARG);
}

const StoredRecord* Host::RecordOf(const std::string& subject) const {
  const auto identity = identities_.find(subject);
  if (identity == identities_.end()) return nullptr;
  for (const auto& record : storage_.records()) {
    if (std::memcmp(&record->identity, &identity->second, sizeof(WINBIO_IDENTITY)) == 0) {
      return record.get();
    }
  }
  return nullptr;
}

std::string Host::Describe(const WINBIO_IDENTITY& identity) const {
  for (const auto& [subject, known] : identities_) {
    if (std::memcmp(&identity, &known, sizeof(WINBIO_IDENTITY)) == 0) return "subject " + subject;
  }
  bool zero = true;
  for (size_t i = 0; i < sizeof(identity); ++i) {
    zero = zero && reinterpret_cast<const uint8_t*>(&identity)[i] == 0;
  }
  return zero ? "no identity" : "an unknown identity";
}

// Enrolls the print as subject `subject` and keeps the committed template under the print's
// name. The duplicate check expects no duplicate when asked for.
void Host::Enroll(const std::string& subject, const std::string& print,
                  const std::vector<uint8_t>& bir, const WINBIO_IDENTITY& identity,
                  bool check_duplicate) {
  const std::string who = "subject " + subject;
  identities_[subject] = identity;
  payloads_[subject] = std::vector<uint8_t>(who.begin(), who.end());

  // A new enrollment starts from a cleared context, as the service's does: the container of
  // an earlier enrollment would otherwise be carried into this one.
  ClearContext();
  const HRESULT accepted = Accept(print, bir, WINBIO_PURPOSE_ENROLL, S_OK, 0);
  if (accepted == S_OK) Export(bir);

  HRESULT hr = table_->CreateEnrollment(&pipeline_);
  Line("create enrollment: " + Hr(hr));
  Trace("create enrollment");
  Expect("create enrollment for " + who, hr, S_OK);

  WINBIO_REJECT_DETAIL reject = 0;
  hr = table_->GetEnrollmentStatus(&pipeline_, &reject);
  Line("enrollment status before any update: " + Hr(hr));
  Trace("enrollment status");
  Expect("enrollment status before any update", hr, WINBIO_I_MORE_DATA);

  hr = table_->UpdateEnrollment(&pipeline_, &reject);
  Line(Format("update enrollment: %s, reject detail %u", Hr(hr).c_str(),
              static_cast<unsigned>(reject)));
  Trace("update enrollment");
  Expect("update enrollment for " + who, hr, S_OK);

  hr = table_->GetEnrollmentStatus(&pipeline_, &reject);
  Line("enrollment status: " + Hr(hr));
  Trace("enrollment status");
  Expect("enrollment status after one update", hr, S_OK);

  if (check_duplicate) {
    WINBIO_IDENTITY duplicate_of;
    std::memset(&duplicate_of, 0xA5, sizeof(duplicate_of));
    WINBIO_BIOMETRIC_SUBTYPE duplicate_sub_factor = 0xA5;
    BOOLEAN duplicate = 0xA5;
    hr = table_->CheckForDuplicate(&pipeline_, &duplicate_of, &duplicate_sub_factor, &duplicate);
    Line(Format("check for duplicate: %s, duplicate %u, %s, subfactor %u", Hr(hr).c_str(),
                duplicate, Describe(duplicate_of).c_str(), duplicate_sub_factor));
    Trace("check for duplicate");
    if (Expect("check for duplicate for " + who, hr, S_OK)) {
      Check(duplicate == FALSE, who + " was taken for a duplicate of " + Describe(duplicate_of));
    }
  }

  WINBIO_IDENTITY commit_identity = identity;
  const size_t records_before = storage_.records().size();
  hr = table_->CommitEnrollment(&pipeline_, &commit_identity, kSubFactor, payloads_[subject].data(),
                                payloads_[subject].size());
  Line("commit enrollment: " + Hr(hr));
  Trace("commit enrollment");
  if (!Expect("commit enrollment for " + who, hr, S_OK)) return;
  if (!Check(storage_.records().size() == records_before + 1, "commit stored no record")) return;

  const StoredRecord& record = *storage_.records().back();
  Check(std::memcmp(&record.identity, &identity, sizeof(identity)) == 0 &&
            record.sub_factor == kSubFactor && record.payload_blob == payloads_[subject],
        "the stored record does not carry the identity, subfactor and payload committed");
  const std::vector<uint8_t>& blob = record.template_blob;
  // The container header: 4 reserved bytes, version, entry count, type (16-bit).
  if (Check(blob.size() >= 8, "the committed template is shorter than its 8-byte header")) {
    Line(Format("committed template of %s: %zu bytes, version %u, %u entries, type %u", who.c_str(),
                blob.size(), blob[4], blob[5], static_cast<unsigned>(blob[6] | (blob[7] << 8))));
  }
  result_.templates[print] = blob;
}

void Host::Verify(const std::string& what, const WINBIO_IDENTITY& identity, HRESULT want,
                  const StoredRecord* want_record) {
  WINBIO_IDENTITY claimed = identity;
  BOOLEAN match = 0xA5;
  PUCHAR payload = reinterpret_cast<PUCHAR>(&match);
  SIZE_T payload_size = 99;
  PUCHAR hash = reinterpret_cast<PUCHAR>(&match);
  SIZE_T hash_size = 99;
  WINBIO_REJECT_DETAIL reject = 99;
  const HRESULT hr = table_->VerifyFeatureSet(&pipeline_, &claimed, kSubFactor, &match, &payload,
                                              &payload_size, &hash, &hash_size, &reject);
  const bool stored_payload = want_record != nullptr &&
                              payload == want_record->payload_blob.data() &&
                              payload_size == want_record->payload_blob.size();
  Line(Format("verify %s: %s, match %u, payload %s, hash %s, reject detail %u", what.c_str(),
              Hr(hr).c_str(), match,
              payload == nullptr ? "none" : (stored_payload ? "the record's" : "other"),
              hash == nullptr && hash_size == 0 ? "none" : "set", static_cast<unsigned>(reject)));
  Trace("verify " + what);
  if (!Expect("verify " + what, hr, want)) return;
  Check(match == (want == S_OK ? TRUE : FALSE), "verify " + what + ": wrong match flag");
  Check(hash == nullptr && hash_size == 0, "verify " + what + ": hash outputs not empty");
  if (want == S_OK) Check(stored_payload, "verify " + what + ": payload is not the record's own");
}

void Host::Identify(const std::string& what, HRESULT want, const std::string& want_subject) {
  WINBIO_IDENTITY identity;
  std::memset(&identity, 0xA5, sizeof(identity));
  WINBIO_BIOMETRIC_SUBTYPE sub_factor = 0xA5;
  PUCHAR payload = nullptr;
  SIZE_T payload_size = 99;
  PUCHAR hash = nullptr;
  SIZE_T hash_size = 99;
  WINBIO_REJECT_DETAIL reject = 99;
  const HRESULT hr = table_->IdentifyFeatureSet(&pipeline_, &identity, &sub_factor, &payload,
                                                &payload_size, &hash, &hash_size, &reject);
  const StoredRecord* found = nullptr;
  for (const auto& record : storage_.records()) {
    if (payload != nullptr && payload == record->payload_blob.data()) found = record.get();
  }
  Line(Format("identify %s: %s, %s, subfactor %u, payload %s, reject detail %u", what.c_str(),
              Hr(hr).c_str(), Describe(identity).c_str(), sub_factor,
              payload == nullptr ? "none" : (found != nullptr ? "a record's" : "other"),
              static_cast<unsigned>(reject)));
  Trace("identify " + what);
  if (!Expect("identify " + what, hr, want)) return;
  if (want == S_OK) {
    const StoredRecord* record = RecordOf(want_subject);
    Check(record != nullptr && Describe(identity) == "subject " + want_subject &&
              sub_factor == kSubFactor && found == record &&
              payload_size == record->payload_blob.size(),
          "identify " + what + ": not subject " + want_subject + " with its own payload");
  } else {
    Check(Describe(identity) == "no identity" && sub_factor == 0 && payload == nullptr,
          "identify " + what + ": outputs not reset");
  }
}

void Host::EndToEnd(const PrintSet& prints) {
  Enroll("a", "enroll_a", prints.enroll_a, GuidIdentity(0xa), true);
  Enroll("b", "enroll_b", prints.enroll_b, GuidIdentity(0xb), true);
  Line(Format("storage holds %zu records", storage_.records().size()));

  // The enrollment is still open after a failed commit; close it whatever happened.
  table_->DiscardEnrollment(&pipeline_);
  capture_.Take();

  Accept("genuine_a", prints.genuine_a, WINBIO_PURPOSE_VERIFY, S_OK, 0);
  Verify("genuine_a as subject a", identities_["a"], S_OK, RecordOf("a"));
  Accept("impostor", prints.impostor, WINBIO_PURPOSE_VERIFY, S_OK, 0);
  Verify("impostor as subject a", identities_["a"], WINBIO_E_NO_MATCH, nullptr);
  Verify("impostor as a subject never enrolled", GuidIdentity(0xc), WINBIO_E_NO_MATCH, nullptr);

  Accept("genuine_b", prints.genuine_b, WINBIO_PURPOSE_IDENTIFY, S_OK, 0);
  Identify("genuine_b", S_OK, "b");
  Accept("genuine_a", prints.genuine_a, WINBIO_PURPOSE_IDENTIFY, S_OK, 0);
  Identify("genuine_a", S_OK, "a");
  Accept("impostor", prints.impostor, WINBIO_PURPOSE_IDENTIFY, S_OK, 0);
  Identify("impostor", WINBIO_E_UNKNOWN_ID, "");

  // An open enrollment refuses matching, while the duplicate check finds the enrolled finger.
  ClearContext();
  Accept("genuine_a", prints.genuine_a, WINBIO_PURPOSE_ENROLL, S_OK, 0);
  HRESULT hr = table_->CreateEnrollment(&pipeline_);
  Line("create enrollment: " + Hr(hr));
  Trace("create enrollment");
  Expect("create enrollment for a second finger of subject a", hr, S_OK);
  Verify("during an open enrollment", identities_["a"], WINBIO_E_ENROLLMENT_IN_PROGRESS, nullptr);
  WINBIO_REJECT_DETAIL reject = 0;
  hr = table_->UpdateEnrollment(&pipeline_, &reject);
  Line(Format("update enrollment: %s, reject detail %u", Hr(hr).c_str(),
              static_cast<unsigned>(reject)));
  Trace("update enrollment");
  Expect("update enrollment with genuine_a", hr, S_OK);
  WINBIO_IDENTITY duplicate_of;
  WINBIO_BIOMETRIC_SUBTYPE sub_factor = 0;
  BOOLEAN duplicate = FALSE;
  hr = table_->CheckForDuplicate(&pipeline_, &duplicate_of, &sub_factor, &duplicate);
  Line(Format("check for duplicate: %s, duplicate %u, %s, subfactor %u", Hr(hr).c_str(), duplicate,
              Describe(duplicate_of).c_str(), sub_factor));
  Trace("check for duplicate");
  if (Expect("check for duplicate of genuine_a", hr, S_OK)) {
    Check(duplicate == TRUE && Describe(duplicate_of) == "subject a" && sub_factor == kSubFactor,
          "genuine_a was not found to duplicate subject a");
  }
  hr = table_->DiscardEnrollment(&pipeline_);
  Line("discard enrollment: " + Hr(hr));
  Trace("discard enrollment");
  Expect("discard enrollment", hr, S_OK);

  // Last, the template of every other print, so that each print's template bytes are compared.
  Enroll("genuine_a", "genuine_a", prints.genuine_a, GuidIdentity(0x1a), false);
  Enroll("genuine_b", "genuine_b", prints.genuine_b, GuidIdentity(0x1b), false);
  Enroll("impostor", "impostor", prints.impostor, GuidIdentity(0x1c), false);
}

void Host::Unload() {
  HRESULT hr = table_->Detach(&pipeline_);
  Line(Format("detach: %s, %s, engine handle %s", Hr(hr).c_str(),
              pipeline_.EngineContext == nullptr ? "no context" : "context left",
              pipeline_.EngineHandle == INVALID_HANDLE_VALUE ? "invalid" : "not invalid"));
  Trace("detach");
  if (Expect("detach", hr, S_OK)) {
    Check(pipeline_.EngineContext == nullptr && pipeline_.EngineHandle == INVALID_HANDLE_VALUE,
          "detach left the pipeline attached");
  }
  hr = table_->Detach(&pipeline_);
  Line("detach again: " + Hr(hr));
  Trace("detach again");
  Expect("second detach", hr, S_OK);
  Check(pipeline_.EngineHandle == INVALID_HANDLE_VALUE,
        "a detach without context moved the handle");

  table_ = nullptr;
  library_.Close();
  Line("unload library");
  Trace("unload");
}

void Host::Run(const std::string& library_path, const PrintSet* prints) {
  if (!Load(library_path) || !QueryTable()) return;
  if (AttachUnit()) {
    PlainQueries();
    ControlRequests();
    RefusedSamples();
    if (prints != nullptr) EndToEnd(*prints);
  }
  Unload();
}

}  // namespace

RunResult RunScenario(const std::string& library_path, const PrintSet* prints) {
  RunResult result;
  Host(&result).Run(library_path, prints);
  return result;
}

}  // namespace ridgeline::wintest
