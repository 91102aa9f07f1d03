#include "tools/store/storage_adapter.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ridgeline::tools {
namespace {

// The slots are C entry points: nothing may throw across them.
template <typename Body>
HRESULT Guarded(std::string& last_error, Body&& body) {
  try {
    last_error.clear();
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& error) {
    last_error = error.what();
    return E_FAIL_RESULT;
  } catch (...) {
    last_error = "unknown failure";
    return E_FAIL_RESULT;
  }
}

StorageSession* SessionOf(PWINBIO_PIPELINE pipeline) {
  return pipeline != nullptr ? static_cast<StorageSession*>(pipeline->StorageContext) : nullptr;
}

HRESULT WINAPI SlotAddRecord(PWINBIO_PIPELINE pipeline, PWINBIO_STORAGE_RECORD record) {
  StorageSession* session = SessionOf(pipeline);
  return session != nullptr ? session->AddRecord(record) : E_POINTER;
}
HRESULT WINAPI SlotQueryBySubject(PWINBIO_PIPELINE pipeline, PWINBIO_IDENTITY identity,
                                  WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  StorageSession* session = SessionOf(pipeline);
  return session != nullptr ? session->QueryBySubject(identity, sub_factor) : E_POINTER;
}
HRESULT WINAPI SlotQueryByContent(PWINBIO_PIPELINE pipeline, WINBIO_BIOMETRIC_SUBTYPE sub_factor,
                                  ULONG*, SIZE_T) {
  // The engine's index vectors are empty, so content means every record of the subfactor.
  StorageSession* session = SessionOf(pipeline);
  return session != nullptr ? session->QueryByContent(sub_factor) : E_POINTER;
}
HRESULT WINAPI SlotGetRecordCount(PWINBIO_PIPELINE pipeline, PSIZE_T count) {
  StorageSession* session = SessionOf(pipeline);
  return session != nullptr ? session->GetRecordCount(count) : E_POINTER;
}
HRESULT WINAPI SlotFirstRecord(PWINBIO_PIPELINE pipeline) {
  StorageSession* session = SessionOf(pipeline);
  return session != nullptr ? session->FirstRecord() : E_POINTER;
}
HRESULT WINAPI SlotNextRecord(PWINBIO_PIPELINE pipeline) {
  StorageSession* session = SessionOf(pipeline);
  return session != nullptr ? session->NextRecord() : E_POINTER;
}
HRESULT WINAPI SlotGetCurrentRecord(PWINBIO_PIPELINE pipeline, PWINBIO_STORAGE_RECORD record) {
  StorageSession* session = SessionOf(pipeline);
  return session != nullptr ? session->GetCurrentRecord(record) : E_POINTER;
}

// "ridgeline SQLite gallery" storage adapter.
constexpr GUID kGalleryAdapterId = {
    0x2f6c0d55, 0x7b1e, 0x4a8e, {0x8f, 0x52, 0x44, 0x4c, 0x4e, 0x53, 0x54, 0x4f}};

const WINBIO_STORAGE_INTERFACE kGalleryInterface = [] {
  WINBIO_STORAGE_INTERFACE table{};
  table.Version = {1, 0};
  table.Type = WINBIO_ADAPTER_TYPE_STORAGE;
  table.Size = sizeof(WINBIO_STORAGE_INTERFACE);
  table.AdapterId = kGalleryAdapterId;
  table.AddRecord = SlotAddRecord;
  table.QueryBySubject = SlotQueryBySubject;
  table.QueryByContent = SlotQueryByContent;
  table.GetRecordCount = SlotGetRecordCount;
  table.FirstRecord = SlotFirstRecord;
  table.NextRecord = SlotNextRecord;
  table.GetCurrentRecord = SlotGetCurrentRecord;
  return table;
}();

}  // namespace

IdentityBytes CanonicalIdentity(const WINBIO_IDENTITY& identity) {
  WINBIO_IDENTITY canonical{};
  canonical.Type = identity.Type;
  if (identity.Type == WINBIO_ID_TYPE_GUID) {
    canonical.Value.TemplateGuid = identity.Value.TemplateGuid;
  } else if (identity.Type == WINBIO_ID_TYPE_SID) {
    const ULONG size = std::min<ULONG>(identity.Value.AccountSid.Size, SECURITY_MAX_SID_SIZE);
    canonical.Value.AccountSid.Size = size;
    std::memcpy(canonical.Value.AccountSid.Data, identity.Value.AccountSid.Data, size);
  } else if (identity.Type == WINBIO_ID_TYPE_SECURE_ID) {
    std::memcpy(canonical.Value.SecureId, identity.Value.SecureId, sizeof canonical.Value.SecureId);
  }
  IdentityBytes bytes{};
  static_assert(sizeof(WINBIO_IDENTITY) == kIdentityBytes);
  std::memcpy(bytes.data(), &canonical, kIdentityBytes);
  return bytes;
}

WINBIO_IDENTITY IdentityFromBytes(const IdentityBytes& bytes) {
  WINBIO_IDENTITY identity{};
  std::memcpy(&identity, bytes.data(), kIdentityBytes);
  return identity;
}

WINBIO_IDENTITY GuidIdentity(const std::array<uint8_t, 16>& uuid) {
  WINBIO_IDENTITY identity{};
  identity.Type = WINBIO_ID_TYPE_GUID;
  GUID& guid = identity.Value.TemplateGuid;
  guid.Data1 =
      (uint32_t{uuid[0]} << 24) | (uint32_t{uuid[1]} << 16) | (uint32_t{uuid[2]} << 8) | uuid[3];
  guid.Data2 = static_cast<uint16_t>((uuid[4] << 8) | uuid[5]);
  guid.Data3 = static_cast<uint16_t>((uuid[6] << 8) | uuid[7]);
  std::memcpy(guid.Data4, uuid.data() + 8, 8);
  return identity;
}

void StorageSession::BeginWrite() {
  results_.clear();
  have_results_ = false;
  store_.BeginWrite();
}

void StorageSession::Commit() { store_.Commit(); }

void StorageSession::Rollback() noexcept {
  results_.clear();
  have_results_ = false;
  try {
    store_.Rollback();
  } catch (const StoreError&) {
    // The connection rolls back by itself when the statement cannot be run.
  }
}

HRESULT StorageSession::TakeResults(std::vector<StoredRecord> records) {
  const auto damaged = std::stable_partition(
      records.begin(), records.end(), [](const StoredRecord& r) { return r.damage.empty(); });
  for (auto it = damaged; it != records.end(); ++it) ReportDamage(*it);
  records.erase(damaged, records.end());
  results_ = std::move(records);
  have_results_ = !results_.empty();
  cursor_ = 0;
  return have_results_ ? S_OK : WINBIO_E_DATABASE_NO_RESULTS;
}

HRESULT StorageSession::QueryBySubject(const WINBIO_IDENTITY* identity,
                                       WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  if (identity == nullptr) return E_POINTER;
  return Guarded(last_error_, [&] {
    return TakeResults(store_.QueryBySubject(CanonicalIdentity(*identity), sub_factor));
  });
}

HRESULT StorageSession::QueryByContent(WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  return Guarded(last_error_, [&] { return TakeResults(store_.QueryAll(sub_factor)); });
}

HRESULT StorageSession::GetRecordCount(SIZE_T* count) {
  if (count == nullptr) return E_POINTER;
  *count = have_results_ ? results_.size() : 0;
  return have_results_ ? S_OK : WINBIO_E_DATABASE_NO_RESULTS;
}

HRESULT StorageSession::FirstRecord() {
  if (!have_results_) return WINBIO_E_DATABASE_NO_RESULTS;
  cursor_ = 0;
  return S_OK;
}

HRESULT StorageSession::NextRecord() {
  if (!have_results_) return WINBIO_E_DATABASE_NO_RESULTS;
  if (cursor_ + 1 >= results_.size()) {
    cursor_ = results_.size();  // past the end: GetCurrentRecord reports it too
    return WINBIO_E_DATABASE_NO_MORE_RECORDS;
  }
  ++cursor_;
  return S_OK;
}

HRESULT StorageSession::GetCurrentRecord(WINBIO_STORAGE_RECORD* record) {
  if (record == nullptr) return E_POINTER;
  if (!have_results_) return WINBIO_E_DATABASE_NO_RESULTS;
  if (cursor_ >= results_.size()) return WINBIO_E_DATABASE_NO_MORE_RECORDS;
  StoredRecord& current = results_[cursor_];
  current_identity_ = IdentityFromBytes(current.identity);
  *record = {};
  record->Identity = &current_identity_;
  record->SubFactor = current.sub_factor;
  record->TemplateBlob = current.template_blob.data();
  record->TemplateBlobSize = current.template_blob.size();
  record->PayloadBlob = current.payload.empty() ? nullptr : current.payload.data();
  record->PayloadBlobSize = current.payload.size();
  return S_OK;
}

HRESULT StorageSession::AddRecord(const WINBIO_STORAGE_RECORD* record) {
  if (record == nullptr || record->Identity == nullptr) return E_POINTER;
  const WINBIO_IDENTITY& identity = *record->Identity;
  const bool named = identity.Type == WINBIO_ID_TYPE_GUID || identity.Type == WINBIO_ID_TYPE_SID ||
                     identity.Type == WINBIO_ID_TYPE_SECURE_ID;
  if (!named || record->TemplateBlob == nullptr || record->TemplateBlobSize == 0 ||
      (record->PayloadBlob == nullptr && record->PayloadBlobSize != 0)) {
    return E_INVALIDARG;
  }
  return Guarded(last_error_, [&]() -> HRESULT {
    // Any change ends the current result set: its records may no longer be the database's.
    results_.clear();
    have_results_ = false;
    StoredRecord stored;
    stored.identity = CanonicalIdentity(identity);
    stored.sub_factor = record->SubFactor;
    stored.template_blob.assign(record->TemplateBlob,
                                record->TemplateBlob + record->TemplateBlobSize);
    if (record->PayloadBlob != nullptr) {
      stored.payload.assign(record->PayloadBlob, record->PayloadBlob + record->PayloadBlobSize);
    }
    // Name and template go in one transaction: the host's, or one of our own.
    const bool own_transaction = !store_.in_write();
    if (own_transaction) store_.BeginWrite();
    try {
      if (!pending_name_.empty() && pending_identity_ == stored.identity) {
        store_.NameSubject(stored.identity, pending_name_);
      }
      store_.Add(stored);
      if (own_transaction) store_.Commit();
    } catch (const DuplicateRecordError& duplicate) {
      if (own_transaction) store_.Rollback();
      last_error_ = duplicate.what();
      return kStorageDuplicate;
    } catch (...) {
      if (own_transaction) store_.Rollback();
      throw;
    }
    return S_OK;
  });
}

const WINBIO_STORAGE_INTERFACE* GalleryStorageInterface() { return &kGalleryInterface; }

}  // namespace ridgeline::tools
