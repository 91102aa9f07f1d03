#include "tools/wintest/memory_storage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace ridgeline::wintest {
namespace {

WINBIO_IDENTITY Identity(uint32_t tag) {
  WINBIO_IDENTITY identity;
  std::memset(&identity, 0, sizeof(identity));
  identity.Type = WINBIO_ID_TYPE_GUID;
  identity.Value.TemplateGuid.Data1 = tag;
  return identity;
}

class MemoryStorageTest : public ::testing::Test {
 protected:
  MemoryStorageTest() {
    std::memset(&pipeline_, 0, sizeof(pipeline_));
    storage_.ConnectTo(&pipeline_);
  }

  // Adds a record through the storage interface, as the engine's commit does.
  HRESULT Add(uint32_t tag, WINBIO_BIOMETRIC_SUBTYPE sub_factor, std::vector<uint8_t> blob,
              std::vector<uint8_t> payload = {}) {
    WINBIO_IDENTITY identity = Identity(tag);
    WINBIO_STORAGE_RECORD record{};
    record.Identity = &identity;
    record.SubFactor = sub_factor;
    record.TemplateBlob = blob.data();
    record.TemplateBlobSize = blob.size();
    record.PayloadBlob = payload.empty() ? nullptr : payload.data();
    record.PayloadBlobSize = payload.size();
    return pipeline_.StorageInterface->AddRecord(&pipeline_, &record);
  }

  uint32_t CurrentTag() {
    WINBIO_STORAGE_RECORD record{};
    EXPECT_EQ(pipeline_.StorageInterface->GetCurrentRecord(&pipeline_, &record), S_OK);
    return record.Identity == nullptr ? 0 : record.Identity->Value.TemplateGuid.Data1;
  }

  WINBIO_PIPELINE pipeline_;
  MemoryStorage storage_;
};

TEST_F(MemoryStorageTest, TableCarriesOnlyTheSlotsTheEngineCalls) {
  const WINBIO_STORAGE_INTERFACE& table = *pipeline_.StorageInterface;
  EXPECT_EQ(table.Type, WINBIO_ADAPTER_TYPE_STORAGE);
  EXPECT_EQ(table.Size, sizeof(WINBIO_STORAGE_INTERFACE));
  EXPECT_NE(table.GetCurrentRecord, nullptr);
  EXPECT_EQ(table.Attach, nullptr);
  EXPECT_EQ(table.DeleteRecord, nullptr);
  EXPECT_EQ(pipeline_.StorageContext, &storage_);
}

TEST_F(MemoryStorageTest, EmptyStorageHasNoResults) {
  WINBIO_IDENTITY identity = Identity(1);
  EXPECT_EQ(pipeline_.StorageInterface->QueryByContent(&pipeline_, WINBIO_SUBTYPE_ANY, nullptr, 0),
            WINBIO_E_DATABASE_NO_RESULTS);
  EXPECT_EQ(pipeline_.StorageInterface->QueryBySubject(&pipeline_, &identity, 1),
            WINBIO_E_DATABASE_NO_RESULTS);
  EXPECT_EQ(pipeline_.StorageInterface->FirstRecord(&pipeline_), WINBIO_E_DATABASE_NO_RESULTS);
  SIZE_T count = 9;
  EXPECT_EQ(pipeline_.StorageInterface->GetRecordCount(&pipeline_, &count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(MemoryStorageTest, CursorWalksTheResultSetInInsertionOrder) {
  ASSERT_EQ(Add(1, 1, {1}), S_OK);
  ASSERT_EQ(Add(2, 2, {2}), S_OK);
  ASSERT_EQ(Add(3, 1, {3}), S_OK);
  WINBIO_STORAGE_INTERFACE& table = *pipeline_.StorageInterface;
  ASSERT_EQ(table.QueryByContent(&pipeline_, WINBIO_SUBTYPE_ANY, nullptr, 0), S_OK);
  SIZE_T count = 0;
  ASSERT_EQ(table.GetRecordCount(&pipeline_, &count), S_OK);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(table.FirstRecord(&pipeline_), S_OK);
  EXPECT_EQ(CurrentTag(), 1u);
  ASSERT_EQ(table.NextRecord(&pipeline_), S_OK);
  EXPECT_EQ(CurrentTag(), 2u);
  ASSERT_EQ(table.NextRecord(&pipeline_), S_OK);
  EXPECT_EQ(CurrentTag(), 3u);
  EXPECT_EQ(table.NextRecord(&pipeline_), WINBIO_E_DATABASE_NO_MORE_RECORDS);
  EXPECT_EQ(CurrentTag(), 3u);
}

TEST_F(MemoryStorageTest, QueriesSelectBySubjectAndSubFactor) {
  ASSERT_EQ(Add(1, 1, {1}), S_OK);
  ASSERT_EQ(Add(2, 1, {2}), S_OK);
  ASSERT_EQ(Add(1, 2, {3}), S_OK);
  WINBIO_STORAGE_INTERFACE& table = *pipeline_.StorageInterface;
  WINBIO_IDENTITY identity = Identity(1);
  ASSERT_EQ(table.QueryBySubject(&pipeline_, &identity, 2), S_OK);
  SIZE_T count = 0;
  table.GetRecordCount(&pipeline_, &count);
  EXPECT_EQ(count, 1u);
  WINBIO_STORAGE_RECORD record{};
  ASSERT_EQ(table.GetCurrentRecord(&pipeline_, &record), S_OK);
  ASSERT_EQ(record.TemplateBlobSize, 1u);
  EXPECT_EQ(record.TemplateBlob[0], 3);

  ASSERT_EQ(table.QueryBySubject(&pipeline_, &identity, WINBIO_SUBTYPE_ANY), S_OK);
  table.GetRecordCount(&pipeline_, &count);
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(table.QueryByContent(&pipeline_, 2, nullptr, 0), S_OK);
  table.GetRecordCount(&pipeline_, &count);
  EXPECT_EQ(count, 1u);
}

TEST_F(MemoryStorageTest, RecordsOwnCopiesOfTheirBlobs) {
  std::vector<uint8_t> blob = {7, 8, 9};
  ASSERT_EQ(Add(5, 1, blob, {42, 43}), S_OK);
  blob[0] = 0;
  ASSERT_EQ(storage_.records().size(), 1u);
  EXPECT_EQ(storage_.records()[0]->template_blob, (std::vector<uint8_t>{7, 8, 9}));
  ASSERT_EQ(pipeline_.StorageInterface->QueryByContent(&pipeline_, WINBIO_SUBTYPE_ANY, nullptr, 0),
            S_OK);
  WINBIO_STORAGE_RECORD record{};
  ASSERT_EQ(pipeline_.StorageInterface->GetCurrentRecord(&pipeline_, &record), S_OK);
  EXPECT_EQ(record.PayloadBlob, storage_.records()[0]->payload_blob.data());
  EXPECT_EQ(record.PayloadBlobSize, 2u);
  EXPECT_EQ(record.SubFactor, 1);
}

TEST_F(MemoryStorageTest, RefusesMissingPointersAndInconsistentSizes) {
  WINBIO_STORAGE_INTERFACE& table = *pipeline_.StorageInterface;
  EXPECT_EQ(table.AddRecord(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(table.AddRecord(&pipeline_, nullptr), E_POINTER);
  WINBIO_STORAGE_RECORD record{};
  EXPECT_EQ(table.AddRecord(&pipeline_, &record), E_POINTER);  // no identity
  WINBIO_IDENTITY identity = Identity(1);
  record.Identity = &identity;
  record.TemplateBlobSize = 4;  // size without bytes
  EXPECT_EQ(table.AddRecord(&pipeline_, &record), E_INVALIDARG);
  EXPECT_TRUE(storage_.records().empty());
  EXPECT_EQ(table.GetRecordCount(&pipeline_, nullptr), E_POINTER);
  EXPECT_EQ(table.GetCurrentRecord(&pipeline_, nullptr), E_POINTER);
}

}  // namespace
}  // namespace ridgeline::wintest
