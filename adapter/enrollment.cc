// Enrollment and the duplicate check. Placeholder entry points until enrollment lands: each
// refuses every call.
#include "adapter/entry_points.h"

namespace ridgeline {

HRESULT WINAPI EngineAdapterCreateEnrollment(PWINBIO_PIPELINE) { return E_NOTIMPL; }

HRESULT WINAPI EngineAdapterUpdateEnrollment(PWINBIO_PIPELINE, PWINBIO_REJECT_DETAIL) {
  return E_NOTIMPL;
}

HRESULT WINAPI EngineAdapterGetEnrollmentStatus(PWINBIO_PIPELINE, PWINBIO_REJECT_DETAIL) {
  return E_NOTIMPL;
}

HRESULT WINAPI EngineAdapterCheckForDuplicate(PWINBIO_PIPELINE, PWINBIO_IDENTITY,
                                              PWINBIO_BIOMETRIC_SUBTYPE, PBOOLEAN) {
  return E_NOTIMPL;
}

HRESULT WINAPI EngineAdapterCommitEnrollment(PWINBIO_PIPELINE, PWINBIO_IDENTITY,
                                             WINBIO_BIOMETRIC_SUBTYPE, PUCHAR, SIZE_T) {
  return E_NOTIMPL;
}

HRESULT WINAPI EngineAdapterDiscardEnrollment(PWINBIO_PIPELINE) { return E_NOTIMPL; }

}  // namespace ridgeline
