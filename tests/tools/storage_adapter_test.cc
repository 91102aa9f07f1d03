// The gallery's storage adapter, called through its interface table as the engine calls it:
// result sets, the cursor and its two end-of-data codes, record contents and ownership, and the
// refusals of AddRecord.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "tools/store/name_uuid.h"
#include "tools/store/storage_adapter.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

class StorageSlots : public ::testing::Test {
 protected:
  StorageSlots()
      : path_(fs::temp_directory_path() /
              ("ridgeline_slots_" + std::to_string(::getpid()) + ".db")),
        store_((fs::remove(path_), path_), TemplateStore::Mode::kCreateIfMissing),
        session_(store_),
        table_(*GalleryStorageInterface()) {
    pipeline_.StorageInterface = const_cast<PWINBIO_STORAGE_INTERFACE>(&table_);
    pipeline_.StorageContext = &session_;
  }
  ~StorageSlots() override {
    fs::remove(path_);
    fs::remove(path_.string() + "-wal");
    fs::remove(path_.string() + "-shm");
  }

  HRESULT Add(const WINBIO_IDENTITY& identity, uint8_t finger, std::vector<uint8_t> blob,
              std::vector<uint8_t> payload = {}) {
    WINBIO_IDENTITY copy = identity;
    WINBIO_STORAGE_RECORD record{};
    record.Identity = &copy;
    record.SubFactor = finger;
    record.TemplateBlob = blob.data();
    record.TemplateBlobSize = blob.size();
    record.PayloadBlob = payload.empty() ? nullptr : payload.data();
    record.PayloadBlobSize = payload.size();
    return table_.AddRecord(&pipeline_, &record);
  }

  fs::path path_;
  TemplateStore store_;
  StorageSession session_;
  const WINBIO_STORAGE_INTERFACE& table_;
  WINBIO_PIPELINE pipeline_{};
};

const WINBIO_IDENTITY kAlice = GuidIdentity(NameBasedUuid(kSubjectNamespace, "alice"));
const WINBIO_IDENTITY kBob = GuidIdentity(NameBasedUuid(kSubjectNamespace, "bob"));

TEST_F(StorageSlots, TableHeaderAndTheSevenSlots) {
  EXPECT_EQ(table_.Version.MajorVersion, 1);
  EXPECT_EQ(table_.Type, WINBIO_ADAPTER_TYPE_STORAGE);
  EXPECT_EQ(table_.Size, sizeof(WINBIO_STORAGE_INTERFACE));
  EXPECT_NE(table_.QueryBySubject, nullptr);
  EXPECT_NE(table_.GetCurrentRecord, nullptr);
  EXPECT_EQ(table_.DeleteRecord, nullptr);
}

TEST_F(StorageSlots, EmptyGalleryGivesNoResultsEverywhere) {
  SIZE_T count = 99;
  EXPECT_EQ(table_.QueryByContent(&pipeline_, WINBIO_SUBTYPE_ANY, nullptr, 0),
            WINBIO_E_DATABASE_NO_RESULTS);
  EXPECT_EQ(table_.GetRecordCount(&pipeline_, &count), WINBIO_E_DATABASE_NO_RESULTS);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(table_.FirstRecord(&pipeline_), WINBIO_E_DATABASE_NO_RESULTS);
  EXPECT_EQ(table_.NextRecord(&pipeline_), WINBIO_E_DATABASE_NO_RESULTS);
  WINBIO_STORAGE_RECORD record{};
  EXPECT_EQ(table_.GetCurrentRecord(&pipeline_, &record), WINBIO_E_DATABASE_NO_RESULTS);
  WINBIO_IDENTITY alice = kAlice;
  EXPECT_EQ(table_.QueryBySubject(&pipeline_, &alice, 2), WINBIO_E_DATABASE_NO_RESULTS);
}

TEST_F(StorageSlots, CursorWalksTheResultSetAndStopsPastTheEnd) {
  ASSERT_EQ(Add(kAlice, 2, {1, 2, 3}, {9, 9}), S_OK);
  ASSERT_EQ(Add(kBob, 2, {4, 5}), S_OK);
  ASSERT_EQ(Add(kAlice, 7, {6}), S_OK);
  ASSERT_EQ(table_.QueryByContent(&pipeline_, WINBIO_SUBTYPE_ANY, nullptr, 0), S_OK);
  SIZE_T count = 0;
  ASSERT_EQ(table_.GetRecordCount(&pipeline_, &count), S_OK);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(table_.FirstRecord(&pipeline_), S_OK);
  WINBIO_STORAGE_RECORD record{};
  ASSERT_EQ(table_.GetCurrentRecord(&pipeline_, &record), S_OK);
  EXPECT_EQ(std::memcmp(record.Identity, &kAlice, sizeof(WINBIO_IDENTITY)), 0);
  EXPECT_EQ(record.SubFactor, 2);
  ASSERT_EQ(record.TemplateBlobSize, 3u);
  EXPECT_EQ(record.TemplateBlob[2], 3);
  ASSERT_EQ(record.PayloadBlobSize, 2u);
  EXPECT_EQ(record.PayloadBlob[0], 9);
  EXPECT_EQ(record.IndexVector, nullptr);
  EXPECT_EQ(table_.NextRecord(&pipeline_), S_OK);
  ASSERT_EQ(table_.GetCurrentRecord(&pipeline_, &record), S_OK);
  EXPECT_EQ(record.PayloadBlob, nullptr);
  EXPECT_EQ(record.PayloadBlobSize, 0u);
  EXPECT_EQ(table_.NextRecord(&pipeline_), S_OK);
  EXPECT_EQ(table_.NextRecord(&pipeline_), WINBIO_E_DATABASE_NO_MORE_RECORDS);
  EXPECT_EQ(table_.GetCurrentRecord(&pipeline_, &record), WINBIO_E_DATABASE_NO_MORE_RECORDS);
  EXPECT_EQ(table_.FirstRecord(&pipeline_), S_OK);  // rewinds
  ASSERT_EQ(table_.GetCurrentRecord(&pipeline_, &record), S_OK);
  EXPECT_EQ(record.TemplateBlobSize, 3u);
}

TEST_F(StorageSlots, QueriesSelectBySubjectAndFinger) {
  ASSERT_EQ(Add(kAlice, 2, {1}), S_OK);
  ASSERT_EQ(Add(kBob, 2, {2}), S_OK);
  ASSERT_EQ(Add(kAlice, 7, {3}), S_OK);
  WINBIO_IDENTITY alice = kAlice;
  // Bytes past the GUID do not belong to the identity.
  std::memset(reinterpret_cast<uint8_t*>(&alice) + 20, 0xAB, sizeof alice - 20);
  SIZE_T count = 0;
  ASSERT_EQ(table_.QueryBySubject(&pipeline_, &alice, 7), S_OK);
  table_.GetRecordCount(&pipeline_, &count);
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(table_.QueryBySubject(&pipeline_, &alice, WINBIO_SUBTYPE_ANY), S_OK);
  table_.GetRecordCount(&pipeline_, &count);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(table_.QueryBySubject(&pipeline_, &alice, 3), WINBIO_E_DATABASE_NO_RESULTS);
  ASSERT_EQ(table_.QueryByContent(&pipeline_, 2, nullptr, 0), S_OK);
  table_.GetRecordCount(&pipeline_, &count);
  EXPECT_EQ(count, 2u);
}

TEST_F(StorageSlots, AddRecordRefusesWhatCannotBeStored) {
  WINBIO_STORAGE_RECORD record{};
  EXPECT_EQ(table_.AddRecord(&pipeline_, nullptr), E_POINTER);
  EXPECT_EQ(table_.AddRecord(&pipeline_, &record), E_POINTER);  // no identity
  EXPECT_EQ(Add(kAlice, 2, {}), E_INVALIDARG);                  // no template
  WINBIO_IDENTITY wildcard{};
  wildcard.Type = WINBIO_ID_TYPE_WILDCARD;
  EXPECT_EQ(Add(wildcard, 2, {1}), E_INVALIDARG);
  ASSERT_EQ(Add(kAlice, 2, {1}), S_OK);
  EXPECT_EQ(Add(kAlice, 2, {1}), kStorageDuplicate);
  EXPECT_EQ(table_.FirstRecord(nullptr), E_POINTER);
  WINBIO_PIPELINE bare{};
  EXPECT_EQ(table_.FirstRecord(&bare), E_POINTER);
}

TEST_F(StorageSlots, AddEndsTheCurrentResultSet) {
  ASSERT_EQ(Add(kAlice, 2, {1}), S_OK);
  ASSERT_EQ(table_.QueryByContent(&pipeline_, WINBIO_SUBTYPE_ANY, nullptr, 0), S_OK);
  ASSERT_EQ(Add(kBob, 2, {2}), S_OK);
  WINBIO_STORAGE_RECORD record{};
  EXPECT_EQ(table_.GetCurrentRecord(&pipeline_, &record), WINBIO_E_DATABASE_NO_RESULTS);
}

}  // namespace
}  // namespace ridgeline::tools
