// Verification and identification: the current sample against the first stored record of one
// subject, or against every stored record until one matches. A stored record's payload may hold
// what the finger protects, so it is handed out only with a match.
#include <cstdint>

#include "adapter/engine_context.h"
#include "adapter/entry_points.h"
#include "adapter/storage_calls.h"
#include "adapter/template_blobs.h"
#include "adapter/template_comparison.h"
#include "core/trace_log.h"

namespace ridgeline {
namespace {

// Verification reports an unknown subject or an empty result set as no match.
HRESULT AsVerificationResult(HRESULT hr) {
  return hr == WINBIO_E_DATABASE_NO_RESULTS ? WINBIO_E_NO_MATCH : hr;
}

// Identification reports an empty result set as an unknown identity.
HRESULT AsIdentificationResult(HRESULT hr) {
  return hr == WINBIO_E_DATABASE_NO_RESULTS ? WINBIO_E_UNKNOWN_ID : hr;
}

// Verification after the argument check, with the outputs already reset.
HRESULT VerifyAgainstSubject(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                             WINBIO_BIOMETRIC_SUBTYPE SubFactor, PBOOLEAN Match,
                             PUCHAR* PayloadBlob, PSIZE_T PayloadBlobSize, PUCHAR* HashValue,
                             PSIZE_T HashSize, PWINBIO_REJECT_DETAIL RejectDetail) {
  EngineContext* context = Pipeline->EngineContext;
  if (context == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
  if (context->Enrollment.InProgress != 0) {
    TraceLog("EngineAdapterVerifyFeatureSet enrollment inprogress\n");
    return WINBIO_E_ENROLLMENT_IN_PROGRESS;
  }
  if (SubFactor == 0) return E_INVALIDARG;

  HRESULT hr = WbioStorageQueryBySubject(Pipeline, Identity, SubFactor);
  if (hr == WINBIO_E_DATABASE_NO_RESULTS) {
    TraceLog("EngineAdapterVerifyFeatureSet there is no match\n");
    return WINBIO_E_NO_MATCH;
  }
  if (FAILED(hr)) {
    TraceLog("EngineAdapterVerifyFeatureSet WbioStorageQueryBySubject ecode = 0x%x\n",
             static_cast<unsigned>(hr));
    return hr;
  }
  hr = WbioStorageFirstRecord(Pipeline);
  if (FAILED(hr)) {
    TraceLog("EngineAdapterVerifyFeatureSet cannot find record (0x%x)\n",
             static_cast<unsigned>(hr));
    return AsVerificationResult(hr);
  }
  WINBIO_STORAGE_RECORD record{};
  hr = WbioStorageGetCurrentRecord(Pipeline, &record);
  if (FAILED(hr)) {
    TraceLog("WbioStorageGetCurrentRecord error (0x%x)\n", static_cast<unsigned>(hr));
    return AsVerificationResult(hr);
  }
  bool matched = false;
  hr = _AdapterCompareTemplateToCurrentFeatureSet(context, StoredTemplate(record), &matched,
                                                  RejectDetail);
  if (FAILED(hr)) {
    TraceLog(
        "EngineAdapterVerifyFeatureSet _AdapterCompareTemplateToCurrentFeatureSet failed "
        "(0x%x)\n",
        static_cast<unsigned>(hr));
    return AsVerificationResult(hr);
  }
  *Match = matched ? TRUE : FALSE;
  if (matched) {
    *PayloadBlob = record.PayloadBlob;
    *PayloadBlobSize = record.PayloadBlobSize;
  }
  *HashValue = context->HashValue;
  *HashSize = context->HashSize;
  return matched ? S_OK : WINBIO_E_NO_MATCH;
}

// Identification after the argument check, with the outputs already reset.
HRESULT IdentifyAmongAll(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                         PWINBIO_BIOMETRIC_SUBTYPE SubFactor, PUCHAR* PayloadBlob,
                         PSIZE_T PayloadBlobSize, PUCHAR* HashValue, PSIZE_T HashSize,
                         PWINBIO_REJECT_DETAIL RejectDetail) {
  EngineContext* context = Pipeline->EngineContext;
  if (context == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
  if (context->Enrollment.InProgress != 0) {
    TraceLog("EngineAdapterIdentifyFeatureSet enrollment in progress\n");
    return WINBIO_E_ENROLLMENT_IN_PROGRESS;
  }
  HRESULT hr = WbioStorageQueryAll(Pipeline);
  if (FAILED(hr)) {
    TraceLog("EngineAdapterIdentifyFeatureSet cannot find matching records(0x%x)\n",
             static_cast<unsigned>(hr));
    return AsIdentificationResult(hr);
  }
  SIZE_T count = 0;
  hr = WbioStorageGetRecordCount(Pipeline, &count);
  if (FAILED(hr)) {
    TraceLog("EngineAdapterIdentifyFeatureSet there is no record (0x%x)\n",
             static_cast<unsigned>(hr));
    return AsIdentificationResult(hr);
  }
  hr = WbioStorageFirstRecord(Pipeline);
  if (FAILED(hr)) {
    TraceLog("EngineAdapterIdentifyFeatureSet cannot find record (0x%x)\n",
             static_cast<unsigned>(hr));
    return AsIdentificationResult(hr);
  }
  for (SIZE_T i = 0; i < count; ++i) {
    WINBIO_STORAGE_RECORD record{};
    hr = WbioStorageGetCurrentRecord(Pipeline, &record);
    if (FAILED(hr)) return AsIdentificationResult(hr);
    bool matched = false;
    hr = _AdapterCompareTemplateToCurrentFeatureSet(context, StoredTemplate(record), &matched,
                                                    RejectDetail);
    if (FAILED(hr) && hr != WINBIO_E_NO_MATCH) {
      TraceLog(
          "EngineAdapterIdentifyFeatureSet _AdapterCompareTemplateToCurrentFeatureSet failed "
          "hr = 0x%x\n",
          static_cast<unsigned>(hr));
      return AsIdentificationResult(hr);
    }
    if (matched) {
      if (record.Identity != nullptr) *Identity = *record.Identity;
      *SubFactor = record.SubFactor;
      *PayloadBlob = record.PayloadBlob;
      *PayloadBlobSize = record.PayloadBlobSize;
      *HashValue = context->HashValue;
      *HashSize = context->HashSize;
      return S_OK;
    }
    hr = WbioStorageNextRecord(Pipeline);
    if (hr == WINBIO_E_DATABASE_NO_MORE_RECORDS) return WINBIO_E_UNKNOWN_ID;
    if (FAILED(hr)) return AsIdentificationResult(hr);
  }
  return WINBIO_E_UNKNOWN_ID;
}

}  // namespace

HRESULT WINAPI EngineAdapterVerifyFeatureSet(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                             WINBIO_BIOMETRIC_SUBTYPE SubFactor, PBOOLEAN Match,
                                             PUCHAR* PayloadBlob, PSIZE_T PayloadBlobSize,
                                             PUCHAR* HashValue, PSIZE_T HashSize,
                                             PWINBIO_REJECT_DETAIL RejectDetail) {
  TraceLog("EngineAdapterVerifyFeatureSet\n");
  HRESULT hr = S_OK;
  if (Pipeline == nullptr || Identity == nullptr || Match == nullptr || PayloadBlob == nullptr ||
      PayloadBlobSize == nullptr || HashValue == nullptr || HashSize == nullptr ||
      RejectDetail == nullptr) {
    TraceLog("EngineAdapterVerifyFeatureSet invalid parameter\n");
    hr = E_POINTER;
  } else {
    *Match = FALSE;
    *PayloadBlob = nullptr;
    *PayloadBlobSize = 0;
    *HashValue = nullptr;
    *HashSize = 0;
    *RejectDetail = 0;
    hr = VerifyAgainstSubject(Pipeline, Identity, SubFactor, Match, PayloadBlob, PayloadBlobSize,
                              HashValue, HashSize, RejectDetail);
  }
  TraceLog("EngineAdapterVerifyFeatureSet done hr = 0x%x\n", static_cast<unsigned>(hr));
  return hr;
}

HRESULT WINAPI EngineAdapterIdentifyFeatureSet(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                               PWINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                               PUCHAR* PayloadBlob, PSIZE_T PayloadBlobSize,
                                               PUCHAR* HashValue, PSIZE_T HashSize,
                                               PWINBIO_REJECT_DETAIL RejectDetail) {
  TraceLog("EngineAdapterIdentifyFeatureSet\n");
  HRESULT hr = S_OK;
  if (Pipeline == nullptr || Identity == nullptr || SubFactor == nullptr ||
      PayloadBlob == nullptr || PayloadBlobSize == nullptr || HashValue == nullptr ||
      HashSize == nullptr || RejectDetail == nullptr) {
    TraceLog("EngineAdapterIdentifyFeatureSet invalid parameter\n");
    TraceLog("    %p, %p, %p, %p, %p, %p, %p, %p\n", static_cast<void*>(Pipeline),
             static_cast<void*>(Identity), static_cast<void*>(SubFactor),
             static_cast<void*>(PayloadBlob), static_cast<void*>(PayloadBlobSize),
             static_cast<void*>(HashValue), static_cast<void*>(HashSize),
             static_cast<void*>(RejectDetail));
    hr = E_POINTER;
  } else {
    *Identity = WINBIO_IDENTITY{};
    *SubFactor = 0;
    *PayloadBlob = nullptr;
    *PayloadBlobSize = 0;
    *HashValue = nullptr;
    *HashSize = 0;
    *RejectDetail = 0;
    hr = IdentifyAmongAll(Pipeline, Identity, SubFactor, PayloadBlob, PayloadBlobSize, HashValue,
                          HashSize, RejectDetail);
  }
  TraceLog("EngineAdapterIdentifyFeatureSet done hr = 0x%x\n", static_cast<unsigned>(hr));
  return hr;
}

}  // namespace ridgeline
