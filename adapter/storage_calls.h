// The engine's calls into the service's storage adapter, reached through the pipeline's
// StorageInterface. Each call yields E_POINTER when the pipeline or its StorageInterface is
// null and E_NOTIMPL when the slot it needs is null; otherwise it calls the slot with the
// pipeline first and returns the slot's result unchanged. Records and blobs the storage adapter
// returns stay its own, valid until its next database operation.
#pragma once

#include "platform/winbio_types.h"

namespace ridgeline {

// Opens a result set of the records of one subject. WINBIO_E_DATABASE_NO_RESULTS: none.
HRESULT WbioStorageQueryBySubject(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                  WINBIO_BIOMETRIC_SUBTYPE SubFactor);
// Opens a result set by content; the engine asks for every record with WINBIO_SUBTYPE_ANY, no
// index vector and a count of 0 (see WbioStorageQueryAll).
HRESULT WbioStorageQueryByContent(PWINBIO_PIPELINE Pipeline, WINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                  ULONG IndexVector[], SIZE_T IndexElementCount);
// The query every comparison scan starts with: all records, any subfactor.
HRESULT WbioStorageQueryAll(PWINBIO_PIPELINE Pipeline);
HRESULT WbioStorageGetRecordCount(PWINBIO_PIPELINE Pipeline, PSIZE_T RecordCount);
HRESULT WbioStorageFirstRecord(PWINBIO_PIPELINE Pipeline);
// WINBIO_E_DATABASE_NO_MORE_RECORDS past the last record.
HRESULT WbioStorageNextRecord(PWINBIO_PIPELINE Pipeline);
HRESULT WbioStorageGetCurrentRecord(PWINBIO_PIPELINE Pipeline,
                                    PWINBIO_STORAGE_RECORD RecordContents);
HRESULT WbioStorageAddRecord(PWINBIO_PIPELINE Pipeline, PWINBIO_STORAGE_RECORD RecordContents);

}  // namespace ridgeline
