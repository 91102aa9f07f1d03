// Calls into the storage adapter with the interface and slot checks the framework's own
// callers make.
#include "adapter/storage_calls.h"

#include <utility>

namespace ridgeline {
namespace {

// Calls slot `Slot` of the pipeline's storage table with the pipeline and args.
template <auto Slot, typename... Args>
HRESULT CallStorage(PWINBIO_PIPELINE Pipeline, Args&&... args) {
  if (Pipeline == nullptr || Pipeline->StorageInterface == nullptr) return E_POINTER;
  const auto function = Pipeline->StorageInterface->*Slot;
  if (function == nullptr) return E_NOTIMPL;
  return function(Pipeline, std::forward<Args>(args)...);
}

}  // namespace

HRESULT WbioStorageQueryBySubject(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                  WINBIO_BIOMETRIC_SUBTYPE SubFactor) {
  return CallStorage<&WINBIO_STORAGE_INTERFACE::QueryBySubject>(Pipeline, Identity, SubFactor);
}

HRESULT WbioStorageQueryByContent(PWINBIO_PIPELINE Pipeline, WINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                  ULONG IndexVector[], SIZE_T IndexElementCount) {
  return CallStorage<&WINBIO_STORAGE_INTERFACE::QueryByContent>(Pipeline, SubFactor, IndexVector,
                                                                IndexElementCount);
}

HRESULT WbioStorageQueryAll(PWINBIO_PIPELINE Pipeline) {
  return WbioStorageQueryByContent(Pipeline, WINBIO_SUBTYPE_ANY, nullptr, 0);
}

HRESULT WbioStorageGetRecordCount(PWINBIO_PIPELINE Pipeline, PSIZE_T RecordCount) {
  return CallStorage<&WINBIO_STORAGE_INTERFACE::GetRecordCount>(Pipeline, RecordCount);
}

HRESULT WbioStorageFirstRecord(PWINBIO_PIPELINE Pipeline) {
  return CallStorage<&WINBIO_STORAGE_INTERFACE::FirstRecord>(Pipeline);
}

HRESULT WbioStorageNextRecord(PWINBIO_PIPELINE Pipeline) {
  return CallStorage<&WINBIO_STORAGE_INTERFACE::NextRecord>(Pipeline);
}

HRESULT WbioStorageGetCurrentRecord(PWINBIO_PIPELINE Pipeline,
                                    PWINBIO_STORAGE_RECORD RecordContents) {
  return CallStorage<&WINBIO_STORAGE_INTERFACE::GetCurrentRecord>(Pipeline, RecordContents);
}

HRESULT WbioStorageAddRecord(PWINBIO_PIPELINE Pipeline, PWINBIO_STORAGE_RECORD RecordContents) {
  return CallStorage<&WINBIO_STORAGE_INTERFACE::AddRecord>(Pipeline, RecordContents);
}

}  // namespace ridgeline
