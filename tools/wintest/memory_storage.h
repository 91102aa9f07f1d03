// An in-memory storage adapter for the test host: the seven slots of WINBIO_STORAGE_INTERFACE
// that the engine calls, over a list of records kept in insertion order. A query builds a
// result set and places the cursor on its first record. The records own their bytes; the
// pointers handed out by GetCurrentRecord stay valid until the storage is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/winbio_types.h"

namespace ridgeline::wintest {

struct StoredRecord {
  WINBIO_IDENTITY identity;
  WINBIO_BIOMETRIC_SUBTYPE sub_factor;
  std::vector<uint8_t> template_blob;
  std::vector<uint8_t> payload_blob;
};

class MemoryStorage {
 public:
  MemoryStorage();
  MemoryStorage(const MemoryStorage&) = delete;
  MemoryStorage& operator=(const MemoryStorage&) = delete;

  // Points the pipeline's StorageInterface and StorageContext at this storage.
  void ConnectTo(WINBIO_PIPELINE* pipeline);

  const std::vector<std::unique_ptr<StoredRecord>>& records() const { return records_; }

  // The storage behind a pipeline that ConnectTo prepared.
  static MemoryStorage* Of(PWINBIO_PIPELINE pipeline);

  // Slot bodies; each returns what the storage interface documents.
  HRESULT AddRecord(const WINBIO_STORAGE_RECORD* contents);
  HRESULT QueryBySubject(const WINBIO_IDENTITY* identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor);
  HRESULT QueryByContent(WINBIO_BIOMETRIC_SUBTYPE sub_factor);
  HRESULT GetRecordCount(SIZE_T* count) const;
  HRESULT FirstRecord();
  HRESULT NextRecord();
  HRESULT GetCurrentRecord(WINBIO_STORAGE_RECORD* contents);

 private:
  WINBIO_STORAGE_INTERFACE interface_;
  std::vector<std::unique_ptr<StoredRecord>> records_;
  std::vector<size_t> result_set_;  // indices into records_
  size_t cursor_ = 0;               // index into result_set_
};

}  // namespace ridgeline::wintest
