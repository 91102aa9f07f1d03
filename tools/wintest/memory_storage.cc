// The host's in-memory storage adapter and the slot functions that reach it through the
// pipeline.
#include "tools/wintest/memory_storage.h"

#include <cstring>

namespace ridgeline::wintest {
namespace {

bool SameIdentity(const WINBIO_IDENTITY& a, const WINBIO_IDENTITY& b) {
  return std::memcmp(&a, &b, sizeof(WINBIO_IDENTITY)) == 0;
}

bool SubFactorMatches(WINBIO_BIOMETRIC_SUBTYPE wanted, WINBIO_BIOMETRIC_SUBTYPE stored) {
  return wanted == WINBIO_SUBTYPE_ANY || wanted == stored;
}

HRESULT WINAPI SlotAddRecord(PWINBIO_PIPELINE pipeline, PWINBIO_STORAGE_RECORD contents) {
  if (pipeline == nullptr) return E_POINTER;
  return MemoryStorage::Of(pipeline)->AddRecord(contents);
}

HRESULT WINAPI SlotQueryBySubject(PWINBIO_PIPELINE pipeline, PWINBIO_IDENTITY identity,
                                  WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  if (pipeline == nullptr) return E_POINTER;
  return MemoryStorage::Of(pipeline)->QueryBySubject(identity, sub_factor);
}

HRESULT WINAPI SlotQueryByContent(PWINBIO_PIPELINE pipeline, WINBIO_BIOMETRIC_SUBTYPE sub_factor,
                                  ULONG[], SIZE_T) {
  if (pipeline == nullptr) return E_POINTER;
  return MemoryStorage::Of(pipeline)->QueryByContent(sub_factor);
}

HRESULT WINAPI SlotGetRecordCount(PWINBIO_PIPELINE pipeline, PSIZE_T count) {
  if (pipeline == nullptr) return E_POINTER;
  return MemoryStorage::Of(pipeline)->GetRecordCount(count);
}

HRESULT WINAPI SlotFirstRecord(PWINBIO_PIPELINE pipeline) {
  if (pipeline == nullptr) return E_POINTER;
  return MemoryStorage::Of(pipeline)->FirstRecord();
}

HRESULT WINAPI SlotNextRecord(PWINBIO_PIPELINE pipeline) {
  if (pipeline == nullptr) return E_POINTER;
  return MemoryStorage::Of(pipeline)->NextRecord();
}

HRESULT WINAPI SlotGetCurrentRecord(PWINBIO_PIPELINE pipeline, PWINBIO_STORAGE_RECORD contents) {
  if (pipeline == nullptr) return E_POINTER;
  return MemoryStorage::Of(pipeline)->GetCurrentRecord(contents);
}

}  // namespace

MemoryStorage::MemoryStorage() {
  std::memset(&interface_, 0, sizeof(interface_));
  interface_.Version = {1, 0};
  interface_.Type = WINBIO_ADAPTER_TYPE_STORAGE;
  interface_.Size = sizeof(WINBIO_STORAGE_INTERFACE);
  interface_.AddRecord = SlotAddRecord;
  interface_.QueryBySubject = SlotQueryBySubject;
  interface_.QueryByContent = SlotQueryByContent;
  interface_.GetRecordCount = SlotGetRecordCount;
  interface_.FirstRecord = SlotFirstRecord;
  interface_.NextRecord = SlotNextRecord;
  interface_.GetCurrentRecord = SlotGetCurrentRecord;
}

void MemoryStorage::ConnectTo(WINBIO_PIPELINE* pipeline) {
  pipeline->StorageInterface = &interface_;
  pipeline->StorageContext = this;
}

MemoryStorage* MemoryStorage::Of(PWINBIO_PIPELINE pipeline) {
  return static_cast<MemoryStorage*>(pipeline->StorageContext);
}

HRESULT MemoryStorage::AddRecord(const WINBIO_STORAGE_RECORD* contents) {
  if (contents == nullptr || contents->Identity == nullptr) return E_POINTER;
  if ((contents->TemplateBlob == nullptr) != (contents->TemplateBlobSize == 0) ||
      (contents->PayloadBlob == nullptr && contents->PayloadBlobSize != 0)) {
    return E_INVALIDARG;
  }
  auto record = std::make_unique<StoredRecord>();
  record->identity = *contents->Identity;
  record->sub_factor = contents->SubFactor;
  record->template_blob.assign(contents->TemplateBlob,
                               contents->TemplateBlob + contents->TemplateBlobSize);
  if (contents->PayloadBlob != nullptr) {
    record->payload_blob.assign(contents->PayloadBlob,
                                contents->PayloadBlob + contents->PayloadBlobSize);
  }
  records_.push_back(std::move(record));
  return S_OK;
}

HRESULT MemoryStorage::QueryBySubject(const WINBIO_IDENTITY* identity,
                                      WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  if (identity == nullptr) return E_POINTER;
  result_set_.clear();
  cursor_ = 0;
  for (size_t i = 0; i < records_.size(); ++i) {
    if (SameIdentity(records_[i]->identity, *identity) &&
        SubFactorMatches(sub_factor, records_[i]->sub_factor)) {
      result_set_.push_back(i);
    }
  }
  return result_set_.empty() ? WINBIO_E_DATABASE_NO_RESULTS : S_OK;
}

HRESULT MemoryStorage::QueryByContent(WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
  result_set_.clear();
  cursor_ = 0;
  for (size_t i = 0; i < records_.size(); ++i) {
    if (SubFactorMatches(sub_factor, records_[i]->sub_factor)) result_set_.push_back(i);
  }
  return result_set_.empty() ? WINBIO_E_DATABASE_NO_RESULTS : S_OK;
}

HRESULT MemoryStorage::GetRecordCount(SIZE_T* count) const {
  if (count == nullptr) return E_POINTER;
  *count = result_set_.size();
  return S_OK;
}

HRESULT MemoryStorage::FirstRecord() {
  if (result_set_.empty()) return WINBIO_E_DATABASE_NO_RESULTS;
  cursor_ = 0;
  return S_OK;
}

HRESULT MemoryStorage::NextRecord() {
  if (cursor_ + 1 >= result_set_.size()) return WINBIO_E_DATABASE_NO_MORE_RECORDS;
  ++cursor_;
  return S_OK;
}

HRESULT MemoryStorage::GetCurrentRecord(WINBIO_STORAGE_RECORD* contents) {
  if (contents == nullptr) return E_POINTER;
  if (cursor_ >= result_set_.size()) return WINBIO_E_DATABASE_NO_RESULTS;
  StoredRecord& record = *records_[result_set_[cursor_]];
  std::memset(contents, 0, sizeof(*contents));
  contents->Identity = &record.identity;
  contents->SubFactor = record.sub_factor;
  contents->TemplateBlob = record.template_blob.data();
  contents->TemplateBlobSize = record.template_blob.size();
  contents->PayloadBlob = record.payload_blob.empty() ? nullptr : record.payload_blob.data();
  contents->PayloadBlobSize = record.payload_blob.size();
  return S_OK;
}

}  // namespace ridgeline::wintest
