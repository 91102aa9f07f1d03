// The duplicate check the service runs before committing an enrollment: the enrollment
// container against every stored record, the first record with a matching entry pair winning.
#include <cstdint>
#include <span>

#include "adapter/engine_context.h"
#include "adapter/entry_points.h"
#include "adapter/storage_calls.h"
#include "adapter/template_blobs.h"
#include "adapter/template_comparison.h"
#include "core/trace_log.h"

namespace ridgeline {
namespace {

// Scans all stored records. S_OK with *Duplicate set and the record's identity and subfactor
// written when one matches, S_OK without when none does; any storage or comparison failure ends
// the scan with its code.
HRESULT ScanForDuplicate(PWINBIO_PIPELINE Pipeline, EngineContext* context,
                         PWINBIO_IDENTITY Identity, PWINBIO_BIOMETRIC_SUBTYPE SubFactor,
                         PBOOLEAN Duplicate) {
  HRESULT hr = WbioStorageQueryAll(Pipeline);
  if (FAILED(hr)) return hr;
  SIZE_T count = 0;
  hr = WbioStorageGetRecordCount(Pipeline, &count);
  if (FAILED(hr)) return hr;
  hr = WbioStorageFirstRecord(Pipeline);
  if (FAILED(hr)) return hr;
  for (SIZE_T i = 0; i < count; ++i) {
    WINBIO_STORAGE_RECORD record{};
    hr = WbioStorageGetCurrentRecord(Pipeline, &record);
    if (FAILED(hr)) return hr;
    bool duplicate = false;
    hr = _AdapterCompareTemplateToEnrollmentTemplate(
        context, EnrollmentTemplate(context->Enrollment), StoredTemplate(record), &duplicate);
    if (FAILED(hr)) return hr;
    if (duplicate) {
      if (record.Identity != nullptr) *Identity = *record.Identity;
      *SubFactor = record.SubFactor;
      *Duplicate = TRUE;
      TraceLog("EngineAdapterCheckForDuplicate found duplicate!\n");
      return S_OK;
    }
    hr = WbioStorageNextRecord(Pipeline);
    if (hr == WINBIO_E_DATABASE_NO_MORE_RECORDS) break;
    if (FAILED(hr)) return hr;
  }
  TraceLog("EngineAdapterCheckForDuplicate DID NOT find duplicate!\n");
  return S_OK;
}

}  // namespace

HRESULT WINAPI EngineAdapterCheckForDuplicate(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                              PWINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                              PBOOLEAN Duplicate) {
  TraceLog("EngineAdapterCheckForDuplicate\n");
  if (Pipeline == nullptr || Identity == nullptr || SubFactor == nullptr || Duplicate == nullptr) {
    return E_POINTER;
  }
  EngineContext* context = Pipeline->EngineContext;
  if (context == nullptr || context->Enrollment.InProgress == 0) {
    return WINBIO_E_INVALID_DEVICE_STATE;
  }
  *Identity = WINBIO_IDENTITY{};
  *SubFactor = 0;
  *Duplicate = FALSE;
  const HRESULT hr = ScanForDuplicate(Pipeline, context, Identity, SubFactor, Duplicate);
  // An empty database holds no duplicate.
  return hr == WINBIO_E_DATABASE_NO_RESULTS ? S_OK : hr;
}

}  // namespace ridgeline
