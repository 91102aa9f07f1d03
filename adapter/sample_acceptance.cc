// Sample acceptance and engine data export. Placeholder entry points until image preparation
// lands: both refuse every call.
#include "adapter/entry_points.h"

namespace ridgeline {

HRESULT WINAPI EngineAdapterAcceptSampleData(PWINBIO_PIPELINE, PWINBIO_BIR, SIZE_T,
                                             WINBIO_BIR_PURPOSE, PWINBIO_REJECT_DETAIL) {
  return E_NOTIMPL;
}

HRESULT WINAPI EngineAdapterExportEngineData(PWINBIO_PIPELINE, WINBIO_BIR_DATA_FLAGS, PWINBIO_BIR*,
                                             PSIZE_T) {
  return E_NOTIMPL;
}

}  // namespace ridgeline
