// An in-memory storage adapter for adapter tests: a list of records, result sets with a cursor,
// and a log of every call with its arguments. It installs itself on a pipeline as its
// StorageInterface, with the pipeline's StorageContext pointing back at it. Any slot can be
// forced to return a fixed result, or nulled in table().
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/winbio_types.h"

namespace ridgeline::testing {

class FakeStorage {
 public:
  struct Record {
    WINBIO_IDENTITY identity{};
    WINBIO_BIOMETRIC_SUBTYPE subFactor = 0;
    std::vector<uint8_t> templateBlob;
    std::vector<uint8_t> payload;
  };

  // One call as the fake saw it; unused fields stay at their defaults.
  struct Call {
    std::string slot;
    PWINBIO_PIPELINE pipeline = nullptr;
    PWINBIO_IDENTITY identity = nullptr;
    WINBIO_BIOMETRIC_SUBTYPE subFactor = 0;
    ULONG* indexVector = nullptr;
    SIZE_T indexElementCount = 0;
    void* out = nullptr;  // the record or count pointer passed
  };

  FakeStorage() {
    table_ = {};
    table_.Version = {1, 0};
    table_.Type = WINBIO_ADAPTER_TYPE_STORAGE;
    table_.Size = sizeof(WINBIO_STORAGE_INTERFACE);
    table_.AddRecord = &AddRecord;
    table_.QueryBySubject = &QueryBySubject;
    table_.QueryByContent = &QueryByContent;
    table_.GetRecordCount = &GetRecordCount;
    table_.FirstRecord = &FirstRecord;
    table_.NextRecord = &NextRecord;
    table_.GetCurrentRecord = &GetCurrentRecord;
  }
  FakeStorage(const FakeStorage&) = delete;
  FakeStorage& operator=(const FakeStorage&) = delete;

  void Install(WINBIO_PIPELINE* pipeline) {
    pipeline->StorageInterface = &table_;
    pipeline->StorageContext = this;
  }

  WINBIO_STORAGE_INTERFACE& table() { return table_; }

  std::vector<Record> records;
  std::vector<Call> calls;
  std::map<std::string, HRESULT> forced;  // slot name -> result returned without working

  // AddRecord appends to records; the query slots select from them in this order.
 private:
  static FakeStorage& Self(PWINBIO_PIPELINE pipeline) {
    return *static_cast<FakeStorage*>(pipeline->StorageContext);
  }
  bool Forced(const Call& call, HRESULT* result) {
    calls.push_back(call);
    auto it = forced.find(call.slot);
    if (it == forced.end()) return false;
    *result = it->second;
    return true;
  }
  HRESULT Select(WINBIO_BIOMETRIC_SUBTYPE subFactor, const WINBIO_IDENTITY* identity) {
    selection_.clear();
    for (size_t i = 0; i < records.size(); ++i) {
      const Record& r = records[i];
      if (subFactor != WINBIO_SUBTYPE_ANY && r.subFactor != subFactor) continue;
      if (identity != nullptr && std::memcmp(&r.identity, identity, sizeof(*identity)) != 0) {
        continue;
      }
      selection_.push_back(i);
    }
    cursor_ = 0;
    return selection_.empty() ? WINBIO_E_DATABASE_NO_RESULTS : S_OK;
  }

  static HRESULT WINAPI AddRecord(PWINBIO_PIPELINE p, PWINBIO_STORAGE_RECORD record) {
    HRESULT forced_result;
    FakeStorage& self = Self(p);
    if (self.Forced({"AddRecord", p, nullptr, 0, nullptr, 0, record}, &forced_result)) {
      return forced_result;
    }
    Record r;
    if (record->Identity != nullptr) r.identity = *record->Identity;
    r.subFactor = record->SubFactor;
    if (record->TemplateBlob != nullptr) {
      r.templateBlob.assign(record->TemplateBlob, record->TemplateBlob + record->TemplateBlobSize);
    }
    if (record->PayloadBlob != nullptr) {
      r.payload.assign(record->PayloadBlob, record->PayloadBlob + record->PayloadBlobSize);
    }
    self.records.push_back(std::move(r));
    return S_OK;
  }
  static HRESULT WINAPI QueryBySubject(PWINBIO_PIPELINE p, PWINBIO_IDENTITY identity,
                                       WINBIO_BIOMETRIC_SUBTYPE subFactor) {
    HRESULT forced_result;
    FakeStorage& self = Self(p);
    if (self.Forced({"QueryBySubject", p, identity, subFactor}, &forced_result)) {
      return forced_result;
    }
    return self.Select(subFactor, identity);
  }
  static HRESULT WINAPI QueryByContent(PWINBIO_PIPELINE p, WINBIO_BIOMETRIC_SUBTYPE subFactor,
                                       ULONG indexVector[], SIZE_T indexElementCount) {
    HRESULT forced_result;
    FakeStorage& self = Self(p);
    if (self.Forced({"QueryByContent", p, nullptr, subFactor, indexVector, indexElementCount},
                    &forced_result)) {
      return forced_result;
    }
    return self.Select(subFactor, nullptr);
  }
  static HRESULT WINAPI GetRecordCount(PWINBIO_PIPELINE p, PSIZE_T count) {
    HRESULT forced_result;
    FakeStorage& self = Self(p);
    if (self.Forced({"GetRecordCount", p, nullptr, 0, nullptr, 0, count}, &forced_result)) {
      return forced_result;
    }
    *count = self.selection_.size();
    return S_OK;
  }
  static HRESULT WINAPI FirstRecord(PWINBIO_PIPELINE p) {
    HRESULT forced_result;
    FakeStorage& self = Self(p);
    if (self.Forced({"FirstRecord", p}, &forced_result)) return forced_result;
    self.cursor_ = 0;
    return self.selection_.empty() ? WINBIO_E_DATABASE_NO_RESULTS : S_OK;
  }
  static HRESULT WINAPI NextRecord(PWINBIO_PIPELINE p) {
    HRESULT forced_result;
    FakeStorage& self = Self(p);
    if (self.Forced({"NextRecord", p}, &forced_result)) return forced_result;
    if (self.cursor_ + 1 >= self.selection_.size()) return WINBIO_E_DATABASE_NO_MORE_RECORDS;
    ++self.cursor_;
    return S_OK;
  }
  static HRESULT WINAPI GetCurrentRecord(PWINBIO_PIPELINE p, PWINBIO_STORAGE_RECORD record) {
    HRESULT forced_result;
    FakeStorage& self = Self(p);
    if (self.Forced({"GetCurrentRecord", p, nullptr, 0, nullptr, 0, record}, &forced_result)) {
      return forced_result;
    }
    if (self.cursor_ >= self.selection_.size()) return WINBIO_E_DATABASE_NO_RESULTS;
    Record& r = self.records[self.selection_[self.cursor_]];
    *record = {};
    record->Identity = &r.identity;
    record->SubFactor = r.subFactor;
    record->TemplateBlob = r.templateBlob.empty() ? nullptr : r.templateBlob.data();
    record->TemplateBlobSize = r.templateBlob.size();
    record->PayloadBlob = r.payload.empty() ? nullptr : r.payload.data();
    record->PayloadBlobSize = r.payload.size();
    return S_OK;
  }

  WINBIO_STORAGE_INTERFACE table_;
  std::vector<size_t> selection_;  // indices into records of the current result set
  size_t cursor_ = 0;
};

}  // namespace ridgeline::testing
