// Verification and identification. Placeholder entry points until the matching decisions
// land: both refuse every call.
#include "adapter/entry_points.h"

namespace ridgeline {

HRESULT WINAPI EngineAdapterVerifyFeatureSet(PWINBIO_PIPELINE, PWINBIO_IDENTITY,
                                             WINBIO_BIOMETRIC_SUBTYPE, PBOOLEAN, PUCHAR*, PSIZE_T,
                                             PUCHAR*, PSIZE_T, PWINBIO_REJECT_DETAIL) {
  return E_NOTIMPL;
}

HRESULT WINAPI EngineAdapterIdentifyFeatureSet(PWINBIO_PIPELINE, PWINBIO_IDENTITY,
                                               PWINBIO_BIOMETRIC_SUBTYPE, PUCHAR*, PSIZE_T, PUCHAR*,
                                               PSIZE_T, PWINBIO_REJECT_DETAIL) {
  return E_NOTIMPL;
}

}  // namespace ridgeline
