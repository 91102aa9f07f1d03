// Enrollment: opening an enrollment, merging each accepted sample into the enrollment
// TemplateContainer as one MinutiaTemplate entry, reporting its status, and committing the
// container to the storage adapter or discarding the enrollment. One merged sample completes an
// enrollment.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "adapter/engine_context.h"
#include "adapter/entry_points.h"
#include "adapter/secure_clear.h"
#include "adapter/storage_calls.h"
#include "adapter/template_blobs.h"
#include "core/trace_log.h"
#include "template/template_container.h"
#include "template/template_encode.h"

namespace ridgeline {
namespace {

constexpr size_t kTemplateCountOffset = 5;  // TemplateCount byte of a container header

// The TemplateCount byte of the enrollment container, or 0 when it is too short to hold one.
int EnrollmentTemplateCount(const EnrollmentState& enrollment) {
  if (enrollment.Template == nullptr || enrollment.TemplateSize <= kTemplateCountOffset) return 0;
  return enrollment.Template[kTemplateCountOffset];
}

// Appends the encoded record to the enrollment container. The container is replaced only on
// success.
HRESULT AppendToEnrollment(EnrollmentState* enrollment, std::span<const uint8_t> encoded,
                           PWINBIO_REJECT_DETAIL RejectDetail) {
  switch (AppendTemplateEntry(&enrollment->Template, &enrollment->TemplateSize, encoded)) {
    case AppendResult::kAppended:
      return S_OK;
    case AppendResult::kContainerFull:
      // TemplateCount is one byte: a 256th entry cannot be counted. The enrollment has to be
      // committed or discarded; asking for another capture would not help.
      return WINBIO_E_INVALID_DEVICE_STATE;
    case AppendResult::kBadTemplate:
      // A feature set without minutiae encodes to an empty record; it is not a usable sample.
      *RejectDetail = kRejectDetailBadCapture;
      return WINBIO_E_BAD_CAPTURE;
    case AppendResult::kOutOfMemory:
      break;
  }
  return E_OUTOFMEMORY;
}

// The merge proper: checks the container, encodes the current sample into a buffer of
// TemplateCapacity bytes (the encoder may crop the sample in place) and appends the record.
HRESULT MergeCurrentSample(EngineContext* context, EnrollmentState* enrollment,
                           PWINBIO_REJECT_DETAIL RejectDetail) {
  const bool valid = _CheckTemplate(EnrollmentTemplate(*enrollment));
  if (valid && !_ParseTemplate(EnrollmentTemplate(*enrollment), 0, &context->pFPDataTmp,
                               &context->pFPSummaryTmp)) {
    TraceLog("HasOptimalPair failed\n");
    *RejectDetail = kRejectDetailBadCapture;
    return WINBIO_E_BAD_CAPTURE;
  }
  // Released without a wipe, as is the container an append replaces.
  const std::unique_ptr<uint8_t, decltype(&std::free)> encoded(
      static_cast<uint8_t*>(std::calloc(context->TemplateCapacity, 1)), &std::free);
  if (encoded == nullptr) return E_OUTOFMEMORY;
  const std::span<uint8_t> record(encoded.get(), context->TemplateCapacity);
  EncodeTemplate(&context->EngineParams, context->pFPData, context->pFPSummary->BoundaryDensity,
                 record);
  TraceLog("_AdapterMergeFeatureSetWithEnrollment _CheckTemplate (%p)...\n",
           static_cast<void*>(enrollment->Template));
  if (enrollment->Template != nullptr && !valid) {
    // The line shows the count byte, not the type.
    TraceLog("_AdapterMergeFeatureSetWithEnrollment unsupported tempalte type (%d)\n",
             EnrollmentTemplateCount(*enrollment));
    return WINBIO_E_UNSUPPORTED_DATA_FORMAT;
  }
  const HRESULT hr = AppendToEnrollment(enrollment, record, RejectDetail);
  if (hr == S_OK) {
    TraceLog("_AdapterMergeFeatureSetWithEnrollment enrollment TemplateCount = %d\n",
             EnrollmentTemplateCount(*enrollment));
  }
  return hr;
}

// Merges the current sample into the enrollment container as one more entry. A container that
// fails the header check is left as it is and refused.
HRESULT _AdapterMergeFeatureSetWithEnrollment(EngineContext* context, EnrollmentState* enrollment,
                                              PWINBIO_REJECT_DETAIL RejectDetail) {
  TraceLog("_AdapterMergeFeatureSetWithEnrollment\n");
  HRESULT hr = S_OK;
  if (context == nullptr || enrollment == nullptr || RejectDetail == nullptr) {
    TraceLog("_AdapterMergeFeatureSetWithEnrollment invalid parameter\n");
    if (RejectDetail != nullptr) *RejectDetail = kRejectDetailBadCapture;
    hr = WINBIO_E_BAD_CAPTURE;
  } else {
    hr = MergeCurrentSample(context, enrollment, RejectDetail);
  }
  TraceLog("_AdapterMergeFeatureSetWithEnrollment done hr = 0x%x\n", static_cast<unsigned>(hr));
  return hr;
}

// The completion check: a container must be there once a sample has been merged.
HRESULT _CheckEnrollment(EngineContext* context, PWINBIO_REJECT_DETAIL RejectDetail) {
  const EnrollmentState& enrollment = context->Enrollment;
  if (enrollment.TemplateSize == 0 || enrollment.Template == nullptr) {
    TraceLog("_CheckEnrollment buffer not ready\n");
    *RejectDetail = kRejectDetailBadCapture;
    return WINBIO_E_BAD_CAPTURE;
  }
  TraceLog("_CheckEnrollment checking Template enrolled (%p, %lu)\n",
           static_cast<void*>(enrollment.Template),
           static_cast<unsigned long>(enrollment.TemplateSize));
  _SecureClearFeaturePair(&context->pFPDataTmp, &context->pFPSummaryTmp);
  TraceLog("_CheckEnrollment ok\n");
  return S_OK;
}

HRESULT _AdapterCheckEnrollmentStatus(EngineContext* context, PWINBIO_REJECT_DETAIL RejectDetail) {
  const EnrollmentState& enrollment = context->Enrollment;
  // The record's address is shown by its low 32 bits.
  TraceLog("_AdapterCheckEnrollmentStatus (enrollment=0x%x, count=%d, t-size=%d)\n",
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(&enrollment)),
           static_cast<int>(enrollment.Count), static_cast<int>(enrollment.TemplateSize));
  if (enrollment.Count == 0) return WINBIO_I_MORE_DATA;
  return _CheckEnrollment(context, RejectDetail);
}

// The status query after its argument check: shared by GetEnrollmentStatus and the update.
HRESULT EnrollmentStatus(EngineContext* context, PWINBIO_REJECT_DETAIL RejectDetail) {
  HRESULT hr = WINBIO_E_INVALID_DEVICE_STATE;
  if (context != nullptr && context->Enrollment.InProgress != 0) {
    hr = _AdapterCheckEnrollmentStatus(context, RejectDetail);
  }
  TraceLog("EngineAdapterGetEnrollmentStatus done (0x%x)\n", static_cast<unsigned>(hr));
  return hr;
}

}  // namespace

HRESULT WINAPI EngineAdapterCreateEnrollment(PWINBIO_PIPELINE Pipeline) {
  TraceLog("EngineAdapterCreateEnrollment(%p)\n", static_cast<void*>(Pipeline));
  HRESULT hr = S_OK;
  if (Pipeline == nullptr) {
    hr = E_POINTER;
  } else if (EngineContext* context = Pipeline->EngineContext; context == nullptr) {
    hr = WINBIO_E_INVALID_DEVICE_STATE;
  } else if (context->Enrollment.InProgress == 0) {
    // A container left by an earlier enrollment stays: this one appends to it.
    context->Enrollment.Count = 0;
    context->Enrollment.InProgress = 1;
  }
  TraceLog("EngineAdapterCreateEnrollment done (0x%x)\n", static_cast<unsigned>(hr));
  return hr;
}

HRESULT WINAPI EngineAdapterUpdateEnrollment(PWINBIO_PIPELINE Pipeline,
                                             PWINBIO_REJECT_DETAIL RejectDetail) {
  TraceLog("EngineAdapterUpdateEnrollment\n");
  HRESULT hr = S_OK;
  EngineContext* context = Pipeline == nullptr ? nullptr : Pipeline->EngineContext;
  if (Pipeline == nullptr || RejectDetail == nullptr) {
    TraceLog("EngineAdapterUpdateEnrollment invalid parameter (%p, %p)\n",
             static_cast<void*>(Pipeline), static_cast<void*>(RejectDetail));
    hr = E_POINTER;
  } else if (context == nullptr || context->Enrollment.InProgress == 0) {
    TraceLog("EngineAdapterUpdateEnrollment engine not initialized\n");
    hr = WINBIO_E_INVALID_DEVICE_STATE;
  } else if (context->pFPData == nullptr || context->pFPSummary == nullptr) {
    TraceLog("EngineAdapterUpdateEnrollment no fingerprint data\n");
    *RejectDetail = kRejectDetailBadCapture;
    hr = WINBIO_E_BAD_CAPTURE;
  } else {
    hr = _AdapterMergeFeatureSetWithEnrollment(context, &context->Enrollment, RejectDetail);
    if (hr == S_OK) {
      ++context->Enrollment.Count;
      TraceLog("EngineAdapterGetEnrollmentStatus\n");
      hr = EnrollmentStatus(context, RejectDetail);
    }
  }
  TraceLog("EngineAdapterUpdateEnrollment done hr = 0x%x\n", static_cast<unsigned>(hr));
  return hr;
}

HRESULT WINAPI EngineAdapterGetEnrollmentStatus(PWINBIO_PIPELINE Pipeline,
                                                PWINBIO_REJECT_DETAIL RejectDetail) {
  TraceLog("EngineAdapterGetEnrollmentStatus\n");
  if (Pipeline == nullptr || RejectDetail == nullptr) {
    TraceLog("EngineAdapterGetEnrollmentStatus done (0x%x)\n", static_cast<unsigned>(E_POINTER));
    return E_POINTER;
  }
  return EnrollmentStatus(Pipeline->EngineContext, RejectDetail);
}

HRESULT WINAPI EngineAdapterCommitEnrollment(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                             WINBIO_BIOMETRIC_SUBTYPE SubFactor, PUCHAR PayloadBlob,
                                             SIZE_T PayloadBlobSize) {
  TraceLog("EngineAdapterCommitEnrollment\n");
  HRESULT hr = S_OK;
  EngineContext* context = Pipeline == nullptr ? nullptr : Pipeline->EngineContext;
  if (Pipeline == nullptr || Identity == nullptr) {
    TraceLog("EngineAdapterCommitEnrollment invalid parameter\n");
    hr = E_POINTER;
  } else if (PayloadBlob != nullptr && PayloadBlobSize == 0) {
    TraceLog("EngineAdapterCommitEnrollment invalid data\n");
    hr = E_INVALIDARG;
  } else if (context == nullptr || context->Enrollment.InProgress == 0) {
    TraceLog("EngineAdapterCommitEnrollment enrollment not in progress\n");
    hr = WINBIO_E_INVALID_DEVICE_STATE;
  } else if (context->Enrollment.Count == 0 || context->Enrollment.Template == nullptr ||
             context->Enrollment.TemplateSize == 0) {
    // Nothing was merged into this enrollment: storing it would give the identity an empty
    // record, or the container of an enrollment that was discarded or already committed.
    hr = WINBIO_E_INVALID_DEVICE_STATE;
  } else {
    WINBIO_STORAGE_RECORD record{};
    record.Identity = Identity;
    record.SubFactor = SubFactor;
    record.IndexVector = nullptr;
    record.IndexElementCount = 0;
    record.TemplateBlob = context->Enrollment.Template;
    record.TemplateBlobSize = context->Enrollment.TemplateSize;
    record.PayloadBlob = PayloadBlob;
    record.PayloadBlobSize = PayloadBlobSize;
    TraceLog("EngineAdapterCommitEnrollment PayloadBlob = %p\n", static_cast<void*>(PayloadBlob));
    TraceLog("EngineAdapterCommitEnrollment PayloadBlobSize = %lu\n",
             static_cast<unsigned long>(PayloadBlobSize));
    hr = WbioStorageAddRecord(Pipeline, &record);
    if (SUCCEEDED(hr)) context->Enrollment.InProgress = 0;
  }
  TraceLog("EngineAdapterCommitEnrollment done hr = 0x%x\n", static_cast<unsigned>(hr));
  return hr;
}

HRESULT WINAPI EngineAdapterDiscardEnrollment(PWINBIO_PIPELINE Pipeline) {
  TraceLog("EngineAdapterDiscardEnrollment\n");
  if (Pipeline == nullptr) return E_POINTER;
  EngineContext* context = Pipeline->EngineContext;
  if (context == nullptr || context->Enrollment.InProgress == 0) {
    return WINBIO_E_INVALID_DEVICE_STATE;
  }
  // The container and the count stay: a new enrollment appends to the container.
  context->Enrollment.InProgress = 0;
  return S_OK;
}

}  // namespace ridgeline
