// The duplicate check: the open enrollment's container against every stored record.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/service_pipeline.h"
#include "tests/support/test_prints.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::ContainerOf;
using testing::kPrintGrid;
using testing::ServicePipeline;
using testing::TestFeatureSet;
using testing::TestIdentity;
using testing::TraceCapture;

class DuplicateCheck : public ::testing::Test {
 protected:
  DuplicateCheck()
      : print_(kPrintGrid, kPrintGrid),
        genuine_(kPrintGrid, kPrintGrid),
        impostor_(kPrintGrid, kPrintGrid),
        impostor2_(kPrintGrid, kPrintGrid) {
    testing::MakePrint(5, &print_);
    testing::MakeGenuineCapture(*print_, &genuine_);
    testing::MakePrint(6, &impostor_);
    testing::MakePrint(7, &impostor2_);
  }
  // Opens an enrollment and merges each capture into it.
  void Enroll(std::vector<TestFeatureSet*> captures) {
    ASSERT_EQ(unit_.Create(), S_OK);
    for (TestFeatureSet* capture : captures) {
      unit_.PlaySample(**capture);
      ASSERT_EQ(unit_.Update(), S_OK);
    }
  }

  ServicePipeline unit_;
  TestFeatureSet print_;
  TestFeatureSet genuine_;
  TestFeatureSet impostor_;
  TestFeatureSet impostor2_;
};

TEST_F(DuplicateCheck, RunsOnlyDuringAnEnrollment) {
  EXPECT_EQ(unit_.CheckForDuplicate(), static_cast<HRESULT>(0x8009800Fu));
  EXPECT_EQ(unit_.out.duplicate, 0xEE);  // nothing written
  EXPECT_TRUE(unit_.storage().calls.empty());
}

TEST_F(DuplicateCheck, EmptyDatabaseHoldsNoDuplicate) {
  Enroll({&genuine_});
  EXPECT_EQ(unit_.CheckForDuplicate(), S_OK);
  EXPECT_EQ(unit_.out.duplicate, FALSE);
  const WINBIO_IDENTITY none{};
  EXPECT_EQ(std::memcmp(&unit_.out.identity, &none, sizeof(none)), 0);
  EXPECT_EQ(unit_.out.subFactor, 0);
}

TEST_F(DuplicateCheck, FindsTheRecordWhoseSecondEntryMatches) {
  unit_.Store(1, 1, ContainerOf({impostor_.get()}));
  unit_.Store(2, 6, ContainerOf({impostor2_.get(), print_.get()}));
  unit_.Store(3, 7, ContainerOf({print_.get()}));
  Enroll({&genuine_});
  TraceCapture trace;
  EXPECT_EQ(unit_.CheckForDuplicate(), S_OK);
  EXPECT_EQ(unit_.out.duplicate, TRUE);
  const WINBIO_IDENTITY expected = TestIdentity(2);
  EXPECT_EQ(std::memcmp(&unit_.out.identity, &expected, sizeof(expected)), 0);
  EXPECT_EQ(unit_.out.subFactor, 6);
  EXPECT_EQ(trace.messages().back(), "EngineAdapterCheckForDuplicate found duplicate!\n");
}

TEST_F(DuplicateCheck, EveryEnrollmentEntryIsTried) {
  unit_.Store(1, 1, ContainerOf({print_.get()}));
  Enroll({&impostor_, &genuine_});
  EXPECT_EQ(unit_.CheckForDuplicate(), S_OK);
  EXPECT_EQ(unit_.out.duplicate, TRUE);
}

TEST_F(DuplicateCheck, NoMatchingRecordIsNoDuplicate) {
  unit_.Store(1, 1, ContainerOf({impostor_.get()}));
  unit_.Store(2, 2, ContainerOf({impostor2_.get()}));
  Enroll({&genuine_});
  TraceCapture trace;
  EXPECT_EQ(unit_.CheckForDuplicate(), S_OK);
  EXPECT_EQ(unit_.out.duplicate, FALSE);
  EXPECT_EQ(trace.messages().back(), "EngineAdapterCheckForDuplicate DID NOT find duplicate!\n");
}

TEST_F(DuplicateCheck, BadStoredContainerEndsTheCheck) {
  std::vector<uint8_t> bad = ContainerOf({print_.get()});
  bad[5] = 0;  // TemplateCount 0
  unit_.Store(1, 1, bad);
  unit_.Store(2, 2, ContainerOf({print_.get()}));
  Enroll({&genuine_});
  TraceCapture trace;
  EXPECT_EQ(unit_.CheckForDuplicate(), WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(unit_.out.duplicate, FALSE);
  const auto lines = trace.messages();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "_AdapterCompareTemplateToEnrollmentTemplate _CheckTemplate failed\n"),
            lines.end());
}

TEST_F(DuplicateCheck, StorageFailureEndsTheCheckWithItsCode) {
  unit_.Store(1, 1, ContainerOf({impostor_.get()}));
  Enroll({&genuine_});
  unit_.storage().forced["GetRecordCount"] = E_OUTOFMEMORY;
  EXPECT_EQ(unit_.CheckForDuplicate(), E_OUTOFMEMORY);
  unit_.storage().table().QueryByContent = nullptr;
  EXPECT_EQ(unit_.CheckForDuplicate(), E_NOTIMPL);
}

}  // namespace
}  // namespace ridgeline
