#include "adapter/storage_calls.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/fake_storage.h"

namespace ridgeline {
namespace {

using testing::FakeStorage;

// One storage call as the engine makes it, with the slot it needs.
struct StorageCall {
  std::string slot;
  std::function<HRESULT(PWINBIO_PIPELINE)> call;
  void (*clear_slot)(WINBIO_STORAGE_INTERFACE&);
};

WINBIO_IDENTITY identity{};
WINBIO_STORAGE_RECORD record{};
SIZE_T count = 0;

std::vector<StorageCall> AllCalls() {
  return {
      {"QueryBySubject",
       [](PWINBIO_PIPELINE p) { return WbioStorageQueryBySubject(p, &identity, 3); },
       [](WINBIO_STORAGE_INTERFACE& t) { t.QueryBySubject = nullptr; }},
      {"QueryByContent", [](PWINBIO_PIPELINE p) { return WbioStorageQueryAll(p); },
       [](WINBIO_STORAGE_INTERFACE& t) { t.QueryByContent = nullptr; }},
      {"GetRecordCount", [](PWINBIO_PIPELINE p) { return WbioStorageGetRecordCount(p, &count); },
       [](WINBIO_STORAGE_INTERFACE& t) { t.GetRecordCount = nullptr; }},
      {"FirstRecord", [](PWINBIO_PIPELINE p) { return WbioStorageFirstRecord(p); },
       [](WINBIO_STORAGE_INTERFACE& t) { t.FirstRecord = nullptr; }},
      {"NextRecord", [](PWINBIO_PIPELINE p) { return WbioStorageNextRecord(p); },
       [](WINBIO_STORAGE_INTERFACE& t) { t.NextRecord = nullptr; }},
      {"GetCurrentRecord",
       [](PWINBIO_PIPELINE p) { return WbioStorageGetCurrentRecord(p, &record); },
       [](WINBIO_STORAGE_INTERFACE& t) { t.GetCurrentRecord = nullptr; }},
      {"AddRecord", [](PWINBIO_PIPELINE p) { return WbioStorageAddRecord(p, &record); },
       [](WINBIO_STORAGE_INTERFACE& t) { t.AddRecord = nullptr; }},
  };
}

TEST(StorageCalls, MissingPipelineOrInterfaceIsAPointerError) {
  for (const StorageCall& c : AllCalls()) {
    EXPECT_EQ(c.call(nullptr), E_POINTER) << c.slot;
    WINBIO_PIPELINE pipeline{};
    EXPECT_EQ(c.call(&pipeline), E_POINTER) << c.slot;
  }
}

TEST(StorageCalls, MissingSlotIsNotImplementedAndNothingIsCalled) {
  for (const StorageCall& c : AllCalls()) {
    FakeStorage storage;
    WINBIO_PIPELINE pipeline{};
    storage.Install(&pipeline);
    c.clear_slot(storage.table());
    EXPECT_EQ(c.call(&pipeline), E_NOTIMPL) << c.slot;
    EXPECT_TRUE(storage.calls.empty()) << c.slot;
  }
}

TEST(StorageCalls, SlotResultIsPassedThroughUnchanged) {
  for (const HRESULT result : {S_OK, WINBIO_I_MORE_DATA, WINBIO_E_DATABASE_NO_RESULTS,
                               WINBIO_E_DATABASE_NO_MORE_RECORDS, E_OUTOFMEMORY}) {
    for (const StorageCall& c : AllCalls()) {
      FakeStorage storage;
      WINBIO_PIPELINE pipeline{};
      storage.Install(&pipeline);
      storage.forced[c.slot] = result;
      EXPECT_EQ(c.call(&pipeline), result) << c.slot;
      ASSERT_EQ(storage.calls.size(), 1u) << c.slot;
      EXPECT_EQ(storage.calls[0].slot, c.slot);
      EXPECT_EQ(storage.calls[0].pipeline, &pipeline) << c.slot;
    }
  }
}

TEST(StorageCalls, ArgumentsReachTheSlot) {
  FakeStorage storage;
  WINBIO_PIPELINE pipeline{};
  storage.Install(&pipeline);
  WINBIO_IDENTITY subject{};
  subject.Type = WINBIO_ID_TYPE_GUID;
  EXPECT_EQ(WbioStorageQueryBySubject(&pipeline, &subject, 7), WINBIO_E_DATABASE_NO_RESULTS);
  EXPECT_EQ(WbioStorageQueryAll(&pipeline), WINBIO_E_DATABASE_NO_RESULTS);
  ULONG vector[2] = {1, 2};
  EXPECT_EQ(WbioStorageQueryByContent(&pipeline, 4, vector, 2), WINBIO_E_DATABASE_NO_RESULTS);
  SIZE_T n = 99;
  EXPECT_EQ(WbioStorageGetRecordCount(&pipeline, &n), S_OK);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(storage.calls.size(), 4u);
  EXPECT_EQ(storage.calls[0].identity, &subject);
  EXPECT_EQ(storage.calls[0].subFactor, 7);
  // The scan query: every record, any subfactor, no index vector.
  EXPECT_EQ(storage.calls[1].subFactor, WINBIO_SUBTYPE_ANY);
  EXPECT_EQ(storage.calls[1].indexVector, nullptr);
  EXPECT_EQ(storage.calls[1].indexElementCount, 0u);
  EXPECT_EQ(storage.calls[2].indexVector, vector);
  EXPECT_EQ(storage.calls[2].indexElementCount, 2u);
  EXPECT_EQ(storage.calls[3].out, &n);
}

}  // namespace
}  // namespace ridgeline
