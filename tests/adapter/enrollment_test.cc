// Enrollment driven through the interface table as the service drives it: create, update with
// the current sample, status, commit and discard, with the container the updates build.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapter/entry_points.h"
#include "template/template_container.h"
#include "tests/support/features.h"
#include "tests/support/service_pipeline.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::ContainerOf;
using testing::EncodedRecord;
using testing::MakeSyntheticPrint;
using testing::ServicePipeline;
using testing::TestFeatureSet;
using testing::TestIdentity;
using testing::TraceCapture;

constexpr int kGrid = 20;
constexpr WINBIO_BIOMETRIC_SUBTYPE kRightIndex = 2;

std::vector<uint8_t> Container(const EngineContext* context) {
  const EnrollmentState& e = context->Enrollment;
  return e.Template == nullptr ? std::vector<uint8_t>{}
                               : std::vector<uint8_t>(e.Template, e.Template + e.TemplateSize);
}

bool Traced(const TraceCapture& trace, const std::string& line) {
  const auto lines = trace.messages();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Enrollment : public ::testing::Test {
 protected:
  Enrollment() : first_(kGrid, kGrid), second_(kGrid, kGrid) {
    MakeSyntheticPrint(11, 36, kGrid, kGrid, 14, &first_);
    MakeSyntheticPrint(12, 30, kGrid, kGrid, 14, &second_);
  }
  // Create, play the print, update: the usual first round.
  void EnrollOnce(const FeatureSet& print) {
    ASSERT_EQ(unit_.Create(), S_OK);
    unit_.PlaySample(print);
    ASSERT_EQ(unit_.Update(), S_OK);
  }

  ServicePipeline unit_;
  TestFeatureSet first_;
  TestFeatureSet second_;
};

TEST_F(Enrollment, StatusBeforeAnyUpdateAsksForMoreData) {
  ASSERT_EQ(unit_.Create(), S_OK);
  EXPECT_EQ(unit_.Status(), WINBIO_I_MORE_DATA);
  EXPECT_EQ(unit_.out.rejectDetail, 0xEEEEu);
}

TEST_F(Enrollment, OneUpdateCompletesWithOneEntry) {
  EnrollOnce(*first_);
  const std::vector<uint8_t> record = EncodedRecord(*first_);
  EXPECT_EQ(Container(unit_.context()), ContainerOf({first_.get()}));
  EXPECT_EQ(unit_.context()->Enrollment.TemplateSize, 10 + record.size());
  EXPECT_EQ(unit_.context()->Enrollment.Count, 1u);
  EXPECT_EQ(unit_.Status(), S_OK);
  // The status check releases the scratch pair the merge decoded into.
  EXPECT_EQ(unit_.context()->pFPDataTmp, nullptr);
}

TEST_F(Enrollment, SecondUpdateAppendsAndKeepsTheFirstEntry) {
  EnrollOnce(*first_);
  const std::vector<uint8_t> after_first = Container(unit_.context());
  unit_.PlaySample(*second_);
  ASSERT_EQ(unit_.Update(), S_OK);
  const std::vector<uint8_t> after_second = Container(unit_.context());
  ASSERT_GT(after_second.size(), after_first.size());
  EXPECT_TRUE(std::equal(after_first.begin() + 8, after_first.end(), after_second.begin() + 8));
  EXPECT_EQ(after_second[5], 2);
  EXPECT_EQ(after_second, ContainerOf({first_.get(), second_.get()}));
  EXPECT_EQ(unit_.context()->Enrollment.Count, 2u);
}

TEST_F(Enrollment, UpdateAfterAFailedExtractionIsABadCapture) {
  EnrollOnce(*first_);
  const std::vector<uint8_t> before = Container(unit_.context());
  unit_.PlayFailedSample();
  TraceCapture trace;
  EXPECT_EQ(unit_.Update(), WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(unit_.out.rejectDetail, kRejectDetailBadCapture);
  EXPECT_TRUE(Traced(trace, "EngineAdapterUpdateEnrollment no fingerprint data\n"));
  EXPECT_EQ(Container(unit_.context()), before);
  EXPECT_EQ(unit_.context()->Enrollment.Count, 1u);
}

TEST_F(Enrollment, SampleWithoutMinutiaeIsRefusedWithoutTouchingTheContainer) {
  EnrollOnce(*first_);
  const std::vector<uint8_t> before = Container(unit_.context());
  TestFeatureSet empty(kGrid, kGrid);
  unit_.PlaySample(*empty);
  EXPECT_EQ(unit_.Update(), WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(unit_.out.rejectDetail, kRejectDetailBadCapture);
  EXPECT_EQ(Container(unit_.context()), before);
  EXPECT_EQ(unit_.context()->Enrollment.Count, 1u);
}

TEST_F(Enrollment, ContainerOfAnotherTypeIsRefusedAndLeftAsItIs) {
  EnrollOnce(*first_);
  EnrollmentState& e = unit_.context()->Enrollment;
  e.Template[6] = 0xD2;  // TemplateType 2002
  const std::vector<uint8_t> before = Container(unit_.context());
  unit_.PlaySample(*second_);
  TraceCapture trace;
  EXPECT_EQ(unit_.Update(), static_cast<HRESULT>(0x8009800Cu));
  // The line shows the TemplateCount byte, not the type.
  EXPECT_TRUE(
      Traced(trace, "_AdapterMergeFeatureSetWithEnrollment unsupported tempalte type (1)\n"));
  EXPECT_EQ(Container(unit_.context()), before);
  EXPECT_EQ(e.Count, 1u);
}

TEST_F(Enrollment, FullContainerRefusesAFurtherSample) {
  ASSERT_EQ(unit_.Create(), S_OK);
  const std::vector<uint8_t> record = EncodedRecord(*first_);
  EnrollmentState& e = unit_.context()->Enrollment;
  for (int i = 0; i < kMaxContainerEntries; ++i) {
    ASSERT_EQ(AppendTemplateEntry(&e.Template, &e.TemplateSize, record), AppendResult::kAppended);
  }
  const std::vector<uint8_t> before = Container(unit_.context());
  unit_.PlaySample(*second_);
  EXPECT_EQ(unit_.Update(), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(Container(unit_.context()), before);
  EXPECT_EQ(e.Count, 0u);
}

TEST_F(Enrollment, CommitStoresTheContainerWithIdentitySubfactorAndPayload) {
  EnrollOnce(*first_);
  uint8_t payload[3] = {7, 8, 9};
  ASSERT_EQ(unit_.Commit(TestIdentity(0x21), kRightIndex, payload, sizeof(payload)), S_OK);
  ASSERT_EQ(unit_.storage().records.size(), 1u);
  const auto& stored = unit_.storage().records[0];
  const WINBIO_IDENTITY expected = TestIdentity(0x21);
  EXPECT_EQ(std::memcmp(&stored.identity, &expected, sizeof(expected)), 0);
  EXPECT_EQ(stored.subFactor, kRightIndex);
  EXPECT_EQ(stored.templateBlob, Container(unit_.context()));
  EXPECT_EQ(stored.payload, std::vector<uint8_t>(payload, payload + 3));
  // Committed: closed, the count and the container kept.
  EXPECT_EQ(unit_.context()->Enrollment.InProgress, 0u);
  EXPECT_EQ(unit_.context()->Enrollment.Count, 1u);
  EXPECT_EQ(unit_.Discard(), WINBIO_E_INVALID_DEVICE_STATE);
}

TEST_F(Enrollment, CommitWithPayloadPointerAndSizeZeroIsInvalid) {
  EnrollOnce(*first_);
  uint8_t payload = 1;
  EXPECT_EQ(unit_.Commit(TestIdentity(1), kRightIndex, &payload, 0), E_INVALIDARG);
  EXPECT_TRUE(unit_.storage().calls.empty());
  EXPECT_EQ(unit_.context()->Enrollment.InProgress, 1u);
}

TEST_F(Enrollment, CommitBeforeAnyMergedSampleIsRefused) {
  ASSERT_EQ(unit_.Create(), S_OK);
  EXPECT_EQ(unit_.Commit(TestIdentity(1), kRightIndex), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_TRUE(unit_.storage().calls.empty());
  EXPECT_EQ(unit_.context()->Enrollment.InProgress, 1u);

  // Nor is the container of an enrollment already committed stored again under a new identity.
  unit_.PlaySample(*first_);
  ASSERT_EQ(unit_.Update(), S_OK);
  ASSERT_EQ(unit_.Commit(TestIdentity(1), kRightIndex), S_OK);
  ASSERT_EQ(unit_.Create(), S_OK);
  EXPECT_EQ(unit_.Commit(TestIdentity(2), kRightIndex), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(unit_.storage().records.size(), 1u);
}

TEST_F(Enrollment, FailedAddRecordKeepsTheEnrollmentOpen) {
  EnrollOnce(*first_);
  unit_.storage().forced["AddRecord"] = E_OUTOFMEMORY;
  EXPECT_EQ(unit_.Commit(TestIdentity(1), kRightIndex), E_OUTOFMEMORY);
  EXPECT_EQ(unit_.context()->Enrollment.InProgress, 1u);
  unit_.storage().forced.clear();
  EXPECT_EQ(unit_.Commit(TestIdentity(1), kRightIndex), S_OK);
}

TEST_F(Enrollment, DiscardThenCreateAppendsToTheOldContainer) {
  EnrollOnce(*first_);
  ASSERT_EQ(unit_.Discard(), S_OK);
  ASSERT_EQ(unit_.Create(), S_OK);
  EXPECT_EQ(unit_.Status(), WINBIO_I_MORE_DATA);
  unit_.PlaySample(*second_);
  ASSERT_EQ(unit_.Update(), S_OK);
  EXPECT_EQ(Container(unit_.context()), ContainerOf({first_.get(), second_.get()}));
  EXPECT_EQ(unit_.context()->Enrollment.Count, 1u);
}

TEST_F(Enrollment, ClosedEnrollmentRefusesEveryStep) {
  EXPECT_EQ(unit_.Update(), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(unit_.Status(), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(unit_.Commit(TestIdentity(1), kRightIndex), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(unit_.Discard(), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_TRUE(unit_.storage().calls.empty());
  // ClearContext ends an open enrollment and drops its container.
  EnrollOnce(*first_);
  ASSERT_EQ(unit_.engine().ClearContext(unit_.get()), S_OK);
  EXPECT_EQ(unit_.Status(), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(unit_.context()->Enrollment.Template, nullptr);
}

TEST(EnrollmentWithoutContext, EveryEntryPointRefusesAnUnattachedPipeline) {
  WINBIO_PIPELINE pipeline = testing::UnattachedPipeline();
  WINBIO_REJECT_DETAIL detail = 0;
  WINBIO_IDENTITY identity = TestIdentity(1);
  WINBIO_BIOMETRIC_SUBTYPE sub_factor = 0;
  BOOLEAN flag = 0;
  PUCHAR payload = nullptr;
  SIZE_T size = 0;
  EXPECT_EQ(EngineAdapterCreateEnrollment(&pipeline), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(EngineAdapterUpdateEnrollment(&pipeline, &detail), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(EngineAdapterGetEnrollmentStatus(&pipeline, &detail), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(EngineAdapterCommitEnrollment(&pipeline, &identity, 1, nullptr, 0),
            WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(EngineAdapterDiscardEnrollment(&pipeline), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(EngineAdapterCheckForDuplicate(&pipeline, &identity, &sub_factor, &flag),
            WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(EngineAdapterVerifyFeatureSet(&pipeline, &identity, 1, &flag, &payload, &size, &payload,
                                          &size, &detail),
            WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(EngineAdapterIdentifyFeatureSet(&pipeline, &identity, &sub_factor, &payload, &size,
                                            &payload, &size, &detail),
            WINBIO_E_INVALID_DEVICE_STATE);
}

}  // namespace
}  // namespace ridgeline
