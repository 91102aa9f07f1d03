// A unit as the service sees it, for enrollment and matching tests: the engine reached only
// through its interface table, attached to a pipeline that carries an in-memory storage adapter,
// plus the means to play a sample into the context the way a sample acceptance leaves it, and to
// build stored records from feature sets.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "adapter/engine_context.h"
#include "adapter/engine_interface.h"
#include "adapter/secure_clear.h"
#include "core/engine_params.h"
#include "core/records.h"
#include "platform/winbio_types.h"
#include "template/template_container.h"
#include "template/template_encode.h"
#include "template/template_layout.h"
#include "tests/support/attached_pipeline.h"
#include "tests/support/fake_storage.h"

namespace ridgeline::testing {

// A GUID identity whose value bytes all hold `tag`.
inline WINBIO_IDENTITY TestIdentity(uint8_t tag) {
  WINBIO_IDENTITY identity{};
  identity.Type = WINBIO_ID_TYPE_GUID;
  std::memset(&identity.Value.TemplateGuid, tag, sizeof(identity.Value.TemplateGuid));
  return identity;
}

// The MinutiaTemplate of a copy of featureSet, encoded with the default parameters at the
// adapter's capacity, cut to its own record size.
inline std::vector<uint8_t> EncodedRecord(const FeatureSet& featureSet, uint8_t density = 0) {
  FeatureSet* copy = nullptr;
  FeatureSummary* summary = nullptr;
  if (!AllocFeatureRecords(&copy, &summary)) std::abort();
  CopyFeatureSet(copy, &featureSet);
  EngineParams params{};
  InitEngineParams(&params);
  std::vector<uint8_t> record(kTemplateCapacity);
  EncodeTemplate(&params, copy, density, record);
  FreeFeatureRecords(copy, summary);
  record.resize(TemplateRecordSize(record));
  return record;
}

// A TemplateContainer holding one entry per feature set, in order.
inline std::vector<uint8_t> ContainerOf(const std::vector<const FeatureSet*>& sets) {
  uint8_t* blob = nullptr;
  size_t size = 0;
  for (const FeatureSet* set : sets) {
    if (AppendTemplateEntry(&blob, &size, EncodedRecord(*set)) != AppendResult::kAppended) {
      std::abort();
    }
  }
  std::vector<uint8_t> bytes(blob, blob + size);
  std::free(blob);
  return bytes;
}

class ServicePipeline {
 public:
  ServicePipeline() {
    if (WbioQueryEngineInterface(&engine_) != S_OK) std::abort();
    storage_.Install(pipeline_.get());
  }

  const WINBIO_ENGINE_INTERFACE& engine() const { return *engine_; }
  PWINBIO_PIPELINE get() { return pipeline_.get(); }
  EngineContext* context() { return pipeline_.context(); }
  FakeStorage& storage() { return storage_; }

  // What a successful sample acceptance leaves: every sample buffer wiped (the enrollment
  // container kept, both scratch pairs dropped) and a copy of sample as the current sample.
  void PlaySample(const FeatureSet& sample, uint8_t density = 0) {
    _SecureClearBuffers(context(), true);
    if (!AllocFeatureRecords(&context()->pFPData, &context()->pFPSummary)) std::abort();
    CopyFeatureSet(context()->pFPData, &sample);
    context()->pFPSummary->BoundaryDensity = density;
  }
  // What an acceptance whose extraction failed leaves: no current sample.
  void PlayFailedSample() { _SecureClearBuffers(context(), true); }

  // Stores a record as an earlier commit would have.
  void Store(uint8_t tag, WINBIO_BIOMETRIC_SUBTYPE subFactor, std::vector<uint8_t> container,
             std::vector<uint8_t> payload = {}) {
    FakeStorage::Record record;
    record.identity = TestIdentity(tag);
    record.subFactor = subFactor;
    record.templateBlob = std::move(container);
    record.payload = std::move(payload);
    storage_.records.push_back(std::move(record));
  }

  // The outputs the service passes, preset to values no call writes.
  struct Outputs {
    WINBIO_REJECT_DETAIL rejectDetail = 0xEEEE;
    WINBIO_IDENTITY identity = TestIdentity(0xEE);
    WINBIO_BIOMETRIC_SUBTYPE subFactor = 0xEE;
    BOOLEAN duplicate = 0xEE;
    BOOLEAN match = 0xEE;
    PUCHAR payload = reinterpret_cast<PUCHAR>(&payload);
    SIZE_T payloadSize = 0xEEEE;
    PUCHAR hashValue = reinterpret_cast<PUCHAR>(&hashValue);
    SIZE_T hashSize = 0xEEEE;
  };
  Outputs out;

  // The service's calls, through the interface table.
  HRESULT Create() { return engine_->CreateEnrollment(get()); }
  HRESULT Update() { return engine_->UpdateEnrollment(get(), &out.rejectDetail); }
  HRESULT Status() { return engine_->GetEnrollmentStatus(get(), &out.rejectDetail); }
  HRESULT Commit(WINBIO_IDENTITY identity, WINBIO_BIOMETRIC_SUBTYPE subFactor,
                 PUCHAR payload = nullptr, SIZE_T payloadSize = 0) {
    return engine_->CommitEnrollment(get(), &identity, subFactor, payload, payloadSize);
  }
  HRESULT Discard() { return engine_->DiscardEnrollment(get()); }
  HRESULT CheckForDuplicate() {
    return engine_->CheckForDuplicate(get(), &out.identity, &out.subFactor, &out.duplicate);
  }
  HRESULT Verify(WINBIO_IDENTITY subject, WINBIO_BIOMETRIC_SUBTYPE subFactor) {
    return engine_->VerifyFeatureSet(get(), &subject, subFactor, &out.match, &out.payload,
                                     &out.payloadSize, &out.hashValue, &out.hashSize,
                                     &out.rejectDetail);
  }
  HRESULT Identify() {
    return engine_->IdentifyFeatureSet(get(), &out.identity, &out.subFactor, &out.payload,
                                       &out.payloadSize, &out.hashValue, &out.hashSize,
                                       &out.rejectDetail);
  }

 private:
  PWINBIO_ENGINE_INTERFACE engine_ = nullptr;
  AttachedPipeline pipeline_;
  FakeStorage storage_;
};

}  // namespace ridgeline::testing
