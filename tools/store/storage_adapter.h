// The storage adapter the host hands the engine: the framework's storage interface table over a
// TemplateStore. The engine calls the query, cursor and add slots; the pipeline's
// StorageContext points at the StorageSession that holds the open gallery, the current result
// set and its cursor. Record memory handed out by GetCurrentRecord belongs to the session and
// stays valid until the session's next database operation (a query or an add).
//
// Result codes: S_OK; E_POINTER for a null argument; E_INVALIDARG for an unusable record;
// WINBIO_E_DATABASE_NO_RESULTS when a query finds nothing (and for cursor calls without a
// result set); WINBIO_E_DATABASE_NO_MORE_RECORDS past the last record; kStorageDuplicate when
// the identity already has a template for that finger; E_FAIL when the database failed, with
// the reason kept in the session.
//
// Damaged records (see TemplateStore) never reach the engine: the session leaves them out of
// every result set and reports each one once through its damage callback.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/winbio_types.h"
#include "tools/store/template_store.h"

namespace ridgeline::tools {

constexpr HRESULT E_FAIL_RESULT = static_cast<HRESULT>(0x80004005u);  // E_FAIL
// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS).
constexpr HRESULT kStorageDuplicate = static_cast<HRESULT>(0x800700B7u);

// Identity bytes as stored: the type and the meaningful part of the value, the rest zero, so
// that two identities that mean the same compare equal byte for byte.
IdentityBytes CanonicalIdentity(const WINBIO_IDENTITY& identity);
WINBIO_IDENTITY IdentityFromBytes(const IdentityBytes& bytes);
// A GUID identity whose GUID holds the 16 bytes of uuid (Data1..Data3 read big-endian).
WINBIO_IDENTITY GuidIdentity(const std::array<uint8_t, 16>& uuid);

class StorageSession {
 public:
  explicit StorageSession(TemplateStore& store) : store_(store) {}

  TemplateStore& store() { return store_; }
  // The reason for the last E_FAIL result, empty when none.
  const std::string& last_error() const { return last_error_; }

  // Called once per damaged record that a query met and left out.
  void OnDamagedRecord(std::function<void(const StoredRecord&)> callback) {
    on_damaged_ = std::move(callback);
  }
  // Hands a damaged record to the callback unless it was already reported (by id).
  void ReportDamage(const StoredRecord& record) {
    if (reported_damage_.insert(record.id).second && on_damaged_) on_damaged_(record);
  }

  // The name AddRecord gives identity when it stores a record for it, in the same transaction,
  // so that a subject's name and template are stored together or not at all.
  void NameOnAdd(const IdentityBytes& identity, const std::string& name) {
    pending_identity_ = identity;
    pending_name_ = name;
  }

  // The store's write transaction (TemplateStore::BeginWrite), held by the host across the
  // duplicate check and the commit. BeginWrite throws StoreError; Rollback never throws.
  void BeginWrite();
  void Commit();
  void Rollback() noexcept;

  // Slot bodies; the C slots find the session through the pipeline and call these.
  HRESULT QueryBySubject(const WINBIO_IDENTITY* identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor);
  HRESULT QueryByContent(WINBIO_BIOMETRIC_SUBTYPE sub_factor);
  HRESULT GetRecordCount(SIZE_T* count);
  HRESULT FirstRecord();
  HRESULT NextRecord();
  HRESULT GetCurrentRecord(WINBIO_STORAGE_RECORD* record);
  HRESULT AddRecord(const WINBIO_STORAGE_RECORD* record);

 private:
  HRESULT TakeResults(std::vector<StoredRecord> records);

  TemplateStore& store_;
  std::vector<StoredRecord> results_;
  bool have_results_ = false;
  size_t cursor_ = 0;
  WINBIO_IDENTITY current_identity_{};
  std::string last_error_;
  std::function<void(const StoredRecord&)> on_damaged_;
  std::set<int64_t> reported_damage_;
  IdentityBytes pending_identity_{};
  std::string pending_name_;
};

// The constant table; its slots expect Pipeline->StorageContext to be a StorageSession*.
const WINBIO_STORAGE_INTERFACE* GalleryStorageInterface();

}  // namespace ridgeline::tools
