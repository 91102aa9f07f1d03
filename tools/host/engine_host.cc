#include "tools/host/engine_host.h"

#include <cstdio>
#include <utility>

#include "tools/host/sample_record.h"

namespace ridgeline::tools {
namespace {

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(hr));
  return text;
}

// An enrollment ended by the gallery or by the duplicate check, with a message for people.
HostResult EnrollmentEnded(Outcome outcome, HRESULT hr, std::string message) {
  HostResult result;
  result.outcome = outcome;
  result.hr = hr;
  result.message = std::move(message);
  return result;
}

}  // namespace

std::string ResultName(HRESULT hr) {
  struct Named {
    HRESULT hr;
    const char* name;
  };
  static const Named kNames[] = {
      {S_OK, "S_OK"},
      {WINBIO_I_MORE_DATA, "WINBIO_I_MORE_DATA"},
      {E_NOTIMPL, "E_NOTIMPL"},
      {E_POINTER, "E_POINTER"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_FAIL_RESULT, "E_FAIL"},
      {WINBIO_E_UNKNOWN_ID, "WINBIO_E_UNKNOWN_ID"},
      {WINBIO_E_NO_MATCH, "WINBIO_E_NO_MATCH"},
      {WINBIO_E_ENROLLMENT_IN_PROGRESS, "WINBIO_E_ENROLLMENT_IN_PROGRESS"},
      {WINBIO_E_BAD_CAPTURE, "WINBIO_E_BAD_CAPTURE"},
      {WINBIO_E_UNSUPPORTED_DATA_FORMAT, "WINBIO_E_UNSUPPORTED_DATA_FORMAT"},
      {WINBIO_E_INVALID_DEVICE_STATE, "WINBIO_E_INVALID_DEVICE_STATE"},
      {WINBIO_E_DATABASE_NO_RESULTS, "WINBIO_E_DATABASE_NO_RESULTS"},
      {WINBIO_E_DATABASE_NO_MORE_RECORDS, "WINBIO_E_DATABASE_NO_MORE_RECORDS"},
  };
  for (const Named& named : kNames) {
    if (named.hr == hr) return std::string(named.name) + " (" + Hex(hr) + ")";
  }
  return Hex(hr);
}

EngineHost::EngineHost(const WINBIO_ENGINE_INTERFACE& engine, StorageSession& storage)
    : engine_(engine), storage_(storage) {
  pipeline_.SensorHandle = INVALID_HANDLE_VALUE;
  pipeline_.EngineHandle = INVALID_HANDLE_VALUE;
  pipeline_.StorageHandle = INVALID_HANDLE_VALUE;
  pipeline_.EngineInterface = const_cast<PWINBIO_ENGINE_INTERFACE>(&engine_);
  pipeline_.StorageInterface = const_cast<PWINBIO_STORAGE_INTERFACE>(GalleryStorageInterface());
  pipeline_.StorageContext = &storage_;
  const HRESULT hr = engine_.Attach(&pipeline_);
  if (FAILED(hr)) {
    throw HostError("the engine adapter refused to attach: " + ResultName(hr));
  }
  attached_ = true;
}

EngineHost::~EngineHost() {
  if (attached_) engine_.Detach(&pipeline_);
}

HostResult EngineHost::Failure(HRESULT hr, const std::string& step, const Capture* capture,
                               WINBIO_REJECT_DETAIL reject) {
  HostResult result;
  result.hr = hr;
  result.reject_detail = reject;
  if (capture != nullptr) result.capture = capture->name;
  if (hr == E_FAIL_RESULT && !storage_.last_error().empty()) {
    result.outcome = Outcome::kStorageError;
    result.message = "the gallery failed during " + step + ": " + storage_.last_error();
  } else if (hr == WINBIO_E_BAD_CAPTURE && capture != nullptr) {
    result.outcome = Outcome::kBadCapture;
    result.message = capture->name +
                     ": the engine could not use this capture (bad capture, reject detail " +
                     std::to_string(reject) +
                     "): no usable fingerprint was found; use a sharper or better-centred image";
  } else if (hr == WINBIO_E_BAD_CAPTURE) {
    result.outcome = Outcome::kStorageError;
    result.message = "a template stored in the gallery is damaged (" + step +
                     " refused it); delete that finger and enroll it again";
  } else if (hr == WINBIO_E_UNSUPPORTED_DATA_FORMAT && capture != nullptr) {
    result.outcome = Outcome::kBadCapture;
    result.message = capture->name + ": the engine does not support this image data";
  } else {
    result.outcome = Outcome::kEngineError;
    result.message = "the engine adapter failed in " + step + ": " + ResultName(hr);
    if (hr == E_NOTIMPL) result.message += " (this build of the adapter does not implement it yet)";
  }
  return result;
}

HostResult EngineHost::Accept(const Capture& capture, WINBIO_BIR_PURPOSE purpose,
                              WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  SampleRecord record = BuildSampleRecord(capture.image, purpose, sub_factor);
  WINBIO_REJECT_DETAIL reject = 0;
  const HRESULT hr =
      engine_.AcceptSampleData(&pipeline_, record.bir(), record.size, purpose, &reject);
  if (FAILED(hr)) return Failure(hr, "AcceptSampleData", &capture, reject);
  HostResult ok;
  ok.outcome = Outcome::kSuccess;
  return ok;
}

void EngineHost::EndEnrollment() {
  engine_.DiscardEnrollment(&pipeline_);
  // A later enrollment must not append to this one's templates.
  engine_.ClearContext(&pipeline_);
}

HostResult EngineHost::Enroll(const std::vector<Capture>& captures, const WINBIO_IDENTITY& identity,
                              WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  engine_.ClearContext(&pipeline_);  // start from an empty enrollment container
  HRESULT hr = engine_.CreateEnrollment(&pipeline_);
  if (FAILED(hr)) return Failure(hr, "CreateEnrollment", nullptr, 0);
  int merged = 0;
  for (const Capture& capture : captures) {
    HostResult accepted = Accept(capture, WINBIO_PURPOSE_ENROLL, sub_factor);
    if (accepted.outcome != Outcome::kSuccess) {
      EndEnrollment();
      return accepted;
    }
    WINBIO_REJECT_DETAIL reject = 0;
    hr = engine_.UpdateEnrollment(&pipeline_, &reject);
    if (FAILED(hr)) {
      EndEnrollment();
      return Failure(hr, "UpdateEnrollment", &capture, reject);
    }
    ++merged;
  }
  WINBIO_REJECT_DETAIL reject = 0;
  hr = engine_.GetEnrollmentStatus(&pipeline_, &reject);
  if (hr != S_OK) {
    EndEnrollment();
    HostResult result = Failure(hr, "GetEnrollmentStatus", nullptr, reject);
    if (hr == WINBIO_I_MORE_DATA) result.message = "the enrollment needs at least one capture";
    return result;
  }
  // The duplicate check and the store it clears are one write transaction: another process's
  // enrollment waits for it, so it cannot store the same finger between our check and our
  // commit. Every return below ends the transaction (the guard rolls back what was not
  // committed).
  try {
    storage_.BeginWrite();
  } catch (const StoreError& error) {
    EndEnrollment();
    return EnrollmentEnded(Outcome::kStorageError, E_FAIL_RESULT,
                           std::string("the gallery cannot be written: ") + error.what());
  }
  struct WriteGuard {
    StorageSession& storage;
    ~WriteGuard() { storage.Rollback(); }
  } write_guard{storage_};
  WINBIO_IDENTITY duplicate_identity{};
  WINBIO_BIOMETRIC_SUBTYPE duplicate_finger = 0;
  BOOLEAN duplicate = 0;
  hr = engine_.CheckForDuplicate(&pipeline_, &duplicate_identity, &duplicate_finger, &duplicate);
  if (FAILED(hr)) {
    EndEnrollment();
    return Failure(hr, "CheckForDuplicate", nullptr, 0);
  }
  if (duplicate) {
    EndEnrollment();
    HostResult result = EnrollmentEnded(Outcome::kDuplicate, hr, "this finger is already enrolled");
    result.identity = duplicate_identity;
    result.sub_factor = duplicate_finger;
    return result;
  }
  WINBIO_IDENTITY owner = identity;
  hr = engine_.CommitEnrollment(&pipeline_, &owner, sub_factor, nullptr, 0);
  if (hr == kStorageDuplicate) {
    EndEnrollment();
    return EnrollmentEnded(Outcome::kAlreadyStored, hr,
                           "this subject already has a template for this finger; delete it first");
  }
  if (FAILED(hr)) {
    EndEnrollment();
    return Failure(hr, "CommitEnrollment", nullptr, 0);
  }
  try {
    storage_.Commit();
  } catch (const StoreError& error) {
    EndEnrollment();
    return EnrollmentEnded(
        Outcome::kStorageError, E_FAIL_RESULT,
        std::string("the gallery could not store the enrollment: ") + error.what());
  }
  engine_.ClearContext(&pipeline_);
  HostResult result;
  result.outcome = Outcome::kSuccess;
  result.impressions = merged;
  result.identity = identity;
  result.sub_factor = sub_factor;
  return result;
}

HostResult EngineHost::Verify(const Capture& capture, const WINBIO_IDENTITY& identity,
                              WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  HostResult accepted = Accept(capture, WINBIO_PURPOSE_VERIFY, sub_factor);
  if (accepted.outcome != Outcome::kSuccess) return accepted;
  WINBIO_IDENTITY claimed = identity;
  BOOLEAN match = 0;
  PUCHAR payload = nullptr;
  SIZE_T payload_size = 0;
  PUCHAR hash = nullptr;
  SIZE_T hash_size = 0;
  WINBIO_REJECT_DETAIL reject = 0;
  const HRESULT hr = engine_.VerifyFeatureSet(&pipeline_, &claimed, sub_factor, &match, &payload,
                                              &payload_size, &hash, &hash_size, &reject);
  HostResult result;
  result.hr = hr;
  result.identity = identity;
  result.sub_factor = sub_factor;
  if (hr == S_OK && match) {
    result.outcome = Outcome::kSuccess;
  } else if (hr == WINBIO_E_NO_MATCH || (hr == S_OK && !match)) {
    result.outcome = Outcome::kNoMatch;
    result.message = capture.name + ": no match";
  } else {
    result = Failure(hr, "VerifyFeatureSet", &capture, reject);
  }
  return result;
}

HostResult EngineHost::Identify(const Capture& capture) {
  HostResult accepted = Accept(capture, WINBIO_PURPOSE_IDENTIFY, WINBIO_SUBTYPE_NO_INFORMATION);
  if (accepted.outcome != Outcome::kSuccess) return accepted;
  HostResult result;
  PUCHAR payload = nullptr;
  SIZE_T payload_size = 0;
  PUCHAR hash = nullptr;
  SIZE_T hash_size = 0;
  WINBIO_REJECT_DETAIL reject = 0;
  const HRESULT hr =
      engine_.IdentifyFeatureSet(&pipeline_, &result.identity, &result.sub_factor, &payload,
                                 &payload_size, &hash, &hash_size, &reject);
  result.hr = hr;
  if (hr == S_OK) {
    result.outcome = Outcome::kSuccess;
  } else if (hr == WINBIO_E_UNKNOWN_ID) {
    result.outcome = Outcome::kUnknown;
    result.message = capture.name + ": nobody in the gallery matches";
  } else {
    result = Failure(hr, "IdentifyFeatureSet", &capture, reject);
  }
  return result;
}

}  // namespace ridgeline::tools
