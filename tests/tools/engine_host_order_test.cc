// The host drives a scripted engine through the real gallery storage: the service's call order
// for enrollment, verification and identification, what each adapter result becomes, and that
// the storage adapter serves the engine's own query pattern. The scripted engine's "feature" of
// a capture is its first pixel; a capture whose first pixel is 0 is a bad capture.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/host/engine_host.h"
#include "tools/store/name_uuid.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

struct ScriptedEngine {
  std::vector<std::string> calls;
  bool enrolling = false;
  std::vector<uint8_t> enrollment;  // one feature byte per merged capture
  int current = -1;                 // feature of the accepted capture, -1 when none
};
ScriptedEngine* engine_state = nullptr;

HRESULT WINAPI Attach(PWINBIO_PIPELINE p) {
  engine_state->calls.push_back("Attach");
  if (p->EngineHandle != INVALID_HANDLE_VALUE) return WINBIO_E_INVALID_DEVICE_STATE;
  p->EngineHandle = nullptr;
  return S_OK;
}
HRESULT WINAPI Detach(PWINBIO_PIPELINE p) {
  engine_state->calls.push_back("Detach");
  p->EngineHandle = INVALID_HANDLE_VALUE;
  return S_OK;
}
HRESULT WINAPI ClearContext(PWINBIO_PIPELINE) {
  engine_state->calls.push_back("ClearContext");
  engine_state->enrolling = false;
  engine_state->enrollment.clear();
  engine_state->current = -1;
  return S_OK;
}
HRESULT WINAPI Accept(PWINBIO_PIPELINE, PWINBIO_BIR bir, SIZE_T size, WINBIO_BIR_PURPOSE,
                      PWINBIO_REJECT_DETAIL reject) {
  engine_state->calls.push_back("AcceptSampleData");
  const auto* bytes = reinterpret_cast<const uint8_t*>(bir);
  uint32_t data = 0;
  std::memcpy(&data, bytes + 12, 4);
  if (data + 57 > size) return E_INVALIDARG;
  const uint8_t first_pixel = bytes[data + 56];
  if (first_pixel == 0) {
    *reject = 12;
    engine_state->current = -1;
    return WINBIO_E_BAD_CAPTURE;
  }
  engine_state->current = first_pixel;
  return S_OK;
}
HRESULT WINAPI CreateEnrollment(PWINBIO_PIPELINE) {
  engine_state->calls.push_back("CreateEnrollment");
  engine_state->enrolling = true;
  return S_OK;
}
HRESULT WINAPI UpdateEnrollment(PWINBIO_PIPELINE, PWINBIO_REJECT_DETAIL) {
  engine_state->calls.push_back("UpdateEnrollment");
  engine_state->enrollment.push_back(static_cast<uint8_t>(engine_state->current));
  return S_OK;
}
HRESULT WINAPI GetEnrollmentStatus(PWINBIO_PIPELINE, PWINBIO_REJECT_DETAIL) {
  engine_state->calls.push_back("GetEnrollmentStatus");
  return engine_state->enrollment.empty() ? WINBIO_I_MORE_DATA : S_OK;
}
bool Contains(const WINBIO_STORAGE_RECORD& record, uint8_t feature) {
  return std::memchr(record.TemplateBlob, feature, record.TemplateBlobSize) != nullptr;
}
// Scans every stored record the way the engine does; returns the first holding `feature`.
HRESULT Scan(PWINBIO_PIPELINE p, uint8_t feature, WINBIO_STORAGE_RECORD* found) {
  const WINBIO_STORAGE_INTERFACE& s = *p->StorageInterface;
  HRESULT hr = s.QueryByContent(p, WINBIO_SUBTYPE_ANY, nullptr, 0);
  SIZE_T count = 0;
  if (SUCCEEDED(hr)) hr = s.GetRecordCount(p, &count);
  if (SUCCEEDED(hr)) hr = s.FirstRecord(p);
  for (SIZE_T i = 0; SUCCEEDED(hr) && i < count; ++i) {
    hr = s.GetCurrentRecord(p, found);
    if (FAILED(hr)) return hr;
    if (Contains(*found, feature)) return S_OK;
    hr = s.NextRecord(p);
  }
  return WINBIO_E_DATABASE_NO_MORE_RECORDS;
}
HRESULT WINAPI CheckForDuplicate(PWINBIO_PIPELINE p, PWINBIO_IDENTITY identity,
                                 PWINBIO_BIOMETRIC_SUBTYPE finger, PBOOLEAN duplicate) {
  engine_state->calls.push_back("CheckForDuplicate");
  *duplicate = 0;
  WINBIO_STORAGE_RECORD record{};
  for (uint8_t feature : engine_state->enrollment) {
    if (Scan(p, feature, &record) == S_OK) {
      *identity = *record.Identity;
      *finger = record.SubFactor;
      *duplicate = 1;
      return S_OK;
    }
  }
  return S_OK;
}
HRESULT WINAPI CommitEnrollment(PWINBIO_PIPELINE p, PWINBIO_IDENTITY identity,
                                WINBIO_BIOMETRIC_SUBTYPE finger, PUCHAR payload, SIZE_T size) {
  engine_state->calls.push_back("CommitEnrollment");
  WINBIO_STORAGE_RECORD record{};
  record.Identity = identity;
  record.SubFactor = finger;
  record.TemplateBlob = engine_state->enrollment.data();
  record.TemplateBlobSize = engine_state->enrollment.size();
  record.PayloadBlob = payload;
  record.PayloadBlobSize = size;
  const HRESULT hr = p->StorageInterface->AddRecord(p, &record);
  if (hr == S_OK) engine_state->enrolling = false;
  return hr;
}
HRESULT WINAPI DiscardEnrollment(PWINBIO_PIPELINE) {
  engine_state->calls.push_back("DiscardEnrollment");
  engine_state->enrolling = false;
  return S_OK;
}
HRESULT WINAPI Verify(PWINBIO_PIPELINE p, PWINBIO_IDENTITY identity,
                      WINBIO_BIOMETRIC_SUBTYPE finger, PBOOLEAN match, PUCHAR*, PSIZE_T, PUCHAR*,
                      PSIZE_T, PWINBIO_REJECT_DETAIL) {
  engine_state->calls.push_back("VerifyFeatureSet");
  const WINBIO_STORAGE_INTERFACE& s = *p->StorageInterface;
  HRESULT hr = s.QueryBySubject(p, identity, finger);
  if (hr == WINBIO_E_DATABASE_NO_RESULTS) return WINBIO_E_NO_MATCH;
  if (SUCCEEDED(hr)) hr = s.FirstRecord(p);
  WINBIO_STORAGE_RECORD record{};
  if (SUCCEEDED(hr)) hr = s.GetCurrentRecord(p, &record);
  if (FAILED(hr)) return hr;
  *match = Contains(record, static_cast<uint8_t>(engine_state->current));
  return *match ? S_OK : WINBIO_E_NO_MATCH;
}
HRESULT WINAPI Identify(PWINBIO_PIPELINE p, PWINBIO_IDENTITY identity,
                        PWINBIO_BIOMETRIC_SUBTYPE finger, PUCHAR*, PSIZE_T, PUCHAR*, PSIZE_T,
                        PWINBIO_REJECT_DETAIL) {
  engine_state->calls.push_back("IdentifyFeatureSet");
  WINBIO_STORAGE_RECORD record{};
  const HRESULT hr = Scan(p, static_cast<uint8_t>(engine_state->current), &record);
  if (hr != S_OK) return WINBIO_E_UNKNOWN_ID;
  *identity = *record.Identity;
  *finger = record.SubFactor;
  return S_OK;
}

class HostOrder : public ::testing::Test {
 protected:
  HostOrder()
      : path_(fs::temp_directory_path() /
              ("ridgeline_order_" + std::to_string(::getpid()) + ".db")),
        store_((fs::remove(path_), path_), TemplateStore::Mode::kCreateIfMissing),
        session_(store_) {
    engine_state = &state_;
    table_.Version = {1, 0};
    table_.Type = WINBIO_ADAPTER_TYPE_ENGINE;
    table_.Size = sizeof table_;
    table_.Attach = Attach;
    table_.Detach = Detach;
    table_.ClearContext = ClearContext;
    table_.AcceptSampleData = Accept;
    table_.CreateEnrollment = CreateEnrollment;
    table_.UpdateEnrollment = UpdateEnrollment;
    table_.GetEnrollmentStatus = GetEnrollmentStatus;
    table_.CheckForDuplicate = CheckForDuplicate;
    table_.CommitEnrollment = CommitEnrollment;
    table_.DiscardEnrollment = DiscardEnrollment;
    table_.VerifyFeatureSet = Verify;
    table_.IdentifyFeatureSet = Identify;
  }
  ~HostOrder() override {
    engine_state = nullptr;
    fs::remove(path_);
    fs::remove(path_.string() + "-wal");
    fs::remove(path_.string() + "-shm");
  }

  static Capture Print(uint8_t feature, const std::string& name) {
    Capture capture;
    capture.name = name;
    capture.image.width = 40;
    capture.image.height = 40;
    capture.image.pixels.assign(1600, 100);
    capture.image.pixels[0] = feature;
    return capture;
  }
  static WINBIO_IDENTITY Subject(const std::string& name) {
    return GuidIdentity(NameBasedUuid(kSubjectNamespace, name));
  }

  fs::path path_;
  TemplateStore store_;
  StorageSession session_;
  ScriptedEngine state_;
  WINBIO_ENGINE_INTERFACE table_{};
};

TEST_F(HostOrder, EnrollmentMergesEveryCaptureBeforeTheDuplicateCheckAndCommit) {
  {
    EngineHost host(table_, session_);
    state_.calls.clear();
    const HostResult result =
        host.Enroll({Print(7, "a"), Print(8, "b"), Print(9, "c")}, Subject("alice"), 2);
    EXPECT_EQ(result.outcome, Outcome::kSuccess) << result.message;
    EXPECT_EQ(result.impressions, 3);
  }
  const std::vector<std::string> expected = {"ClearContext",
                                             "CreateEnrollment",
                                             "AcceptSampleData",
                                             "UpdateEnrollment",
                                             "AcceptSampleData",
                                             "UpdateEnrollment",
                                             "AcceptSampleData",
                                             "UpdateEnrollment",
                                             "GetEnrollmentStatus",
                                             "CheckForDuplicate",
                                             "CommitEnrollment",
                                             "ClearContext",
                                             "Detach"};
  EXPECT_EQ(state_.calls, expected);
  const auto stored = store_.QueryAll(kAnySubFactor);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].template_blob, (std::vector<uint8_t>{7, 8, 9}));
}

TEST_F(HostOrder, DuplicateIsRefusedWithTheOwnerAndNothingIsStored) {
  EngineHost host(table_, session_);
  ASSERT_EQ(host.Enroll({Print(7, "a")}, Subject("alice"), 2).outcome, Outcome::kSuccess);
  const HostResult again = host.Enroll({Print(5, "x"), Print(7, "b")}, Subject("mallory"), 3);
  EXPECT_EQ(again.outcome, Outcome::kDuplicate);
  const WINBIO_IDENTITY alice = Subject("alice");
  EXPECT_EQ(std::memcmp(&again.identity, &alice, sizeof(WINBIO_IDENTITY)), 0);
  EXPECT_EQ(again.sub_factor, 2);
  EXPECT_EQ(state_.calls.back(), "ClearContext");
  EXPECT_EQ(store_.QueryAll(kAnySubFactor).size(), 1u);
  // The same subject and finger twice is refused by the storage adapter.
  EXPECT_EQ(host.Enroll({Print(11, "c")}, Subject("alice"), 2).outcome, Outcome::kAlreadyStored);
}

TEST_F(HostOrder, BadCaptureNamesTheFileAndEndsTheEnrollment) {
  EngineHost host(table_, session_);
  const HostResult result =
      host.Enroll({Print(7, "good.png"), Print(0, "smudge.png")}, Subject("alice"), 2);
  EXPECT_EQ(result.outcome, Outcome::kBadCapture);
  EXPECT_EQ(result.capture, "smudge.png");
  EXPECT_EQ(result.reject_detail, 12u);
  EXPECT_NE(result.message.find("smudge.png"), std::string::npos);
  EXPECT_TRUE(store_.QueryAll(kAnySubFactor).empty());
  // The next enrollment starts from nothing: the good capture of the failed one is not in it.
  ASSERT_EQ(host.Enroll({Print(9, "c")}, Subject("alice"), 2).outcome, Outcome::kSuccess);
  EXPECT_EQ(store_.QueryAll(kAnySubFactor)[0].template_blob, (std::vector<uint8_t>{9}));
}

TEST_F(HostOrder, VerifyAndIdentifyAnswerMatchNoMatchAndUnknown) {
  EngineHost host(table_, session_);
  ASSERT_EQ(host.Enroll({Print(7, "a1"), Print(8, "a2")}, Subject("alice"), 2).outcome,
            Outcome::kSuccess);
  ASSERT_EQ(host.Enroll({Print(20, "b1")}, Subject("bob"), 6).outcome, Outcome::kSuccess);
  EXPECT_EQ(host.Verify(Print(8, "a3"), Subject("alice"), 2).outcome, Outcome::kSuccess);
  EXPECT_EQ(host.Verify(Print(20, "b2"), Subject("alice"), 2).outcome, Outcome::kNoMatch);
  EXPECT_EQ(host.Verify(Print(7, "a4"), Subject("carol"), 2).outcome, Outcome::kNoMatch);
  EXPECT_EQ(host.Verify(Print(0, "blank"), Subject("alice"), 2).outcome, Outcome::kBadCapture);
  const HostResult who = host.Identify(Print(20, "b3"));
  EXPECT_EQ(who.outcome, Outcome::kSuccess);
  const WINBIO_IDENTITY bob = Subject("bob");
  EXPECT_EQ(std::memcmp(&who.identity, &bob, sizeof(WINBIO_IDENTITY)), 0);
  EXPECT_EQ(who.sub_factor, 6);
  EXPECT_EQ(host.Identify(Print(99, "x")).outcome, Outcome::kUnknown);
}

TEST_F(HostOrder, AttachRefusalAndUnimplementedSlotsBecomeEngineErrors) {
  table_.Attach = [](PWINBIO_PIPELINE) -> HRESULT { return WINBIO_E_INVALID_DEVICE_STATE; };
  EXPECT_THROW(EngineHost(table_, session_), HostError);
  table_.Attach = Attach;
  table_.CreateEnrollment = [](PWINBIO_PIPELINE) -> HRESULT { return E_NOTIMPL; };
  EngineHost host(table_, session_);
  const HostResult result = host.Enroll({Print(7, "a")}, Subject("alice"), 2);
  EXPECT_EQ(result.outcome, Outcome::kEngineError);
  EXPECT_NE(result.message.find("E_NOTIMPL"), std::string::npos);
}

}  // namespace
}  // namespace ridgeline::tools
