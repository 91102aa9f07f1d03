#include "adapter/engine_interface.h"

#include <cstring>

#include <gtest/gtest.h>

#include "adapter/entry_points.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::TraceCapture;

// The table seen as its 41 slots, in order.
using AnySlot = void (*)();
const AnySlot* Slots(const WINBIO_ENGINE_INTERFACE* table) {
  return reinterpret_cast<const AnySlot*>(reinterpret_cast<const char*>(table) +
                                          offsetof(WINBIO_ENGINE_INTERFACE, Attach));
}

TEST(EngineInterface, NullArgumentIsAPointerError) {
  TraceCapture capture;
  EXPECT_EQ(WbioQueryEngineInterface(nullptr), E_POINTER);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"WbioQueryEngineInterface\n"});
}

TEST(EngineInterface, TableHeaderAndFilledSlots) {
  TraceCapture capture;
  PWINBIO_ENGINE_INTERFACE table = nullptr;
  ASSERT_EQ(WbioQueryEngineInterface(&table), S_OK);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"WbioQueryEngineInterface\n"});

  EXPECT_EQ(table->Version.MajorVersion, 1);
  EXPECT_EQ(table->Version.MinorVersion, 0);
  EXPECT_EQ(table->Type, WINBIO_ADAPTER_TYPE_ENGINE);
  EXPECT_EQ(table->Size, 360u);
  EXPECT_EQ(std::memcmp(&table->AdapterId, &kEngineAdapterId, sizeof(GUID)), 0);

  // Slots 1 to 21 in the platform's order.
  EXPECT_EQ(table->Attach, &EngineAdapterAttach);
  EXPECT_EQ(table->Detach, &EngineAdapterDetach);
  EXPECT_EQ(table->ClearContext, &EngineAdapterClearContext);
  EXPECT_EQ(table->QueryPreferredFormat, &EngineAdapterQueryPreferredFormat);
  EXPECT_EQ(table->QueryIndexVectorSize, &EngineAdapterQueryIndexVectorSize);
  EXPECT_EQ(table->QueryHashAlgorithms, &EngineAdapterQueryHashAlgorithms);
  EXPECT_EQ(table->SetHashAlgorithm, &EngineAdapterSetHashAlgorithm);
  EXPECT_EQ(table->QuerySampleHint, &EngineAdapterQuerySampleHint);
  EXPECT_EQ(table->AcceptSampleData, &EngineAdapterAcceptSampleData);
  EXPECT_EQ(table->ExportEngineData, &EngineAdapterExportEngineData);
  EXPECT_EQ(table->VerifyFeatureSet, &EngineAdapterVerifyFeatureSet);
  EXPECT_EQ(table->IdentifyFeatureSet, &EngineAdapterIdentifyFeatureSet);
  EXPECT_EQ(table->CreateEnrollment, &EngineAdapterCreateEnrollment);
  EXPECT_EQ(table->UpdateEnrollment, &EngineAdapterUpdateEnrollment);
  EXPECT_EQ(table->GetEnrollmentStatus, &EngineAdapterGetEnrollmentStatus);
  EXPECT_EQ(table->GetEnrollmentHash, &EngineAdapterGetEnrollmentHash);
  EXPECT_EQ(table->CheckForDuplicate, &EngineAdapterCheckForDuplicate);
  EXPECT_EQ(table->CommitEnrollment, &EngineAdapterCommitEnrollment);
  EXPECT_EQ(table->DiscardEnrollment, &EngineAdapterDiscardEnrollment);
  EXPECT_EQ(table->ControlUnit, &EngineAdapterControlUnit);
  EXPECT_EQ(table->ControlUnitPrivileged, &EngineAdapterControlUnitPrivileged);

  const AnySlot* slots = Slots(table);
  for (int n = 1; n <= 41; ++n) {
    if (n <= 21) {
      EXPECT_NE(slots[n - 1], nullptr) << "slot " << n;
    } else {
      EXPECT_EQ(slots[n - 1], nullptr) << "slot " << n;
    }
  }
}

TEST(EngineInterface, DllMainTracesAndAcceptsEveryReason) {
  TraceCapture capture;
  for (DWORD reason :
       {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH, DWORD{77}}) {
    EXPECT_EQ(EngineAdapterDllMain(nullptr, reason, nullptr), TRUE);
  }
  EXPECT_EQ(capture.messages(), std::vector<std::string>(5, "EngineAdapter DllMain\n"));
}

}  // namespace
}  // namespace ridgeline
