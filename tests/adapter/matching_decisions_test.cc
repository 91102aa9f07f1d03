// Verification, identification and the match threshold, driven through the interface table
// against an in-memory storage adapter.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/match_threshold.h"
#include "template/template_decode.h"
#include "tests/support/match_work.h"
#include "tests/support/service_pipeline.h"
#include "tests/support/test_prints.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::Borderline;
using testing::ContainerOf;
using testing::EncodedRecord;
using testing::FakeStorage;
using testing::kAtThreshold;
using testing::kBelowThreshold;
using testing::kPrintGrid;
using testing::ServicePipeline;
using testing::TestFeatureSet;
using testing::TestIdentity;
using testing::TraceCapture;

constexpr WINBIO_BIOMETRIC_SUBTYPE kSubFactor = 3;
constexpr HRESULT kStorageFailure = static_cast<HRESULT>(0x80004005u);

bool SameIdentity(const WINBIO_IDENTITY& a, const WINBIO_IDENTITY& b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

int Calls(const FakeStorage& storage, const std::string& slot) {
  return static_cast<int>(
      std::count_if(storage.calls.begin(), storage.calls.end(),
                    [&](const FakeStorage::Call& c) { return c.slot == slot; }));
}

TEST(MatchThreshold, LevelsAreClampedToOneThroughSeven) {
  EXPECT_EQ(MatchThreshold(4), 325);
  EXPECT_EQ(MatchThreshold(0), 65);
  EXPECT_EQ(MatchThreshold(1), 65);
  EXPECT_EQ(MatchThreshold(7), 820);
  EXPECT_EQ(MatchThreshold(8), 820);
  EXPECT_EQ(MatchThreshold(255), 820);
}

class Matching : public ::testing::Test {
 protected:
  Matching()
      : print_(kPrintGrid, kPrintGrid),
        genuine_(kPrintGrid, kPrintGrid),
        impostor_(kPrintGrid, kPrintGrid),
        impostor2_(kPrintGrid, kPrintGrid) {
    testing::MakePrint(5, &print_);
    testing::MakeGenuineCapture(*print_, &genuine_);
    testing::MakePrint(6, &impostor_);
    testing::MakePrint(7, &impostor2_);
  }
  std::vector<uint8_t> Of(TestFeatureSet& set) { return ContainerOf({set.get()}); }

  ServicePipeline unit_;
  TestFeatureSet print_;
  TestFeatureSet genuine_;
  TestFeatureSet impostor_;
  TestFeatureSet impostor2_;
  std::vector<uint8_t> payload_ = {1, 2, 3, 4};
};

TEST_F(Matching, VerifyingAGenuineCaptureHandsOutTheRecordsPayload) {
  unit_.Store(1, kSubFactor, Of(print_), payload_);
  unit_.PlaySample(*genuine_);
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), S_OK);
  EXPECT_EQ(unit_.out.match, TRUE);
  EXPECT_EQ(unit_.out.payload, unit_.storage().records[0].payload.data());
  EXPECT_EQ(unit_.out.payloadSize, 4u);
  EXPECT_EQ(unit_.out.hashValue, nullptr);
  EXPECT_EQ(unit_.out.hashSize, 0u);
  EXPECT_EQ(unit_.out.rejectDetail, 0u);
}

TEST_F(Matching, NoMatchReleasesNoPayload) {
  unit_.Store(1, kSubFactor, Of(print_), payload_);
  unit_.PlaySample(*impostor_);
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), WINBIO_E_NO_MATCH);
  EXPECT_EQ(unit_.out.match, FALSE);
  EXPECT_EQ(unit_.out.payload, nullptr);
  EXPECT_EQ(unit_.out.payloadSize, 0u);
}

TEST_F(Matching, VerifyingAnUnknownSubjectIsNoMatch) {
  unit_.Store(1, kSubFactor, Of(print_), payload_);
  unit_.PlaySample(*genuine_);
  TraceCapture trace;
  EXPECT_EQ(unit_.Verify(TestIdentity(2), kSubFactor), static_cast<HRESULT>(0x80098005u));
  EXPECT_EQ(unit_.out.match, FALSE);
  EXPECT_EQ(unit_.out.payload, nullptr);
  EXPECT_EQ(Count(trace.messages(), "EngineAdapterVerifyFeatureSet there is no match\n"), 1);
}

TEST_F(Matching, VerificationComparesOnlyTheSubjectsFirstRecord) {
  unit_.Store(1, kSubFactor, Of(impostor_));
  unit_.Store(1, kSubFactor, Of(print_));
  unit_.PlaySample(*genuine_);
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), WINBIO_E_NO_MATCH);
  EXPECT_EQ(Calls(unit_.storage(), "GetCurrentRecord"), 1);
  EXPECT_EQ(Calls(unit_.storage(), "NextRecord"), 0);
}

TEST_F(Matching, ScoreAtTheThresholdMatchesAndOneBelowDoesNot) {
  TestFeatureSet print(kPrintGrid, kPrintGrid);
  testing::MakeBorderlinePrint(&print);
  unit_.Store(1, kSubFactor, Of(print));
  // The two captures score 325 and 324 against the stored template.
  FeatureSet* stored = nullptr;
  FeatureSummary* summary = nullptr;
  ASSERT_TRUE(AllocFeatureRecords(&stored, &summary));
  DecodeTemplate(stored, summary, EncodedRecord(*print));
  testing::OwnedMatchWork work;
  for (const auto& [how, score] : {std::pair{kAtThreshold, 325}, std::pair{kBelowThreshold, 324}}) {
    TestFeatureSet capture(kPrintGrid, kPrintGrid);
    testing::MakeBorderlineCapture(*print, how, &capture);
    MatchResult result;
    ASSERT_EQ(MatchCoord(*capture, *stored, work.get(), &result), score);
    unit_.PlaySample(*capture);
    EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), score == 325 ? S_OK : WINBIO_E_NO_MATCH)
        << score;
    EXPECT_EQ(unit_.out.match, score == 325 ? TRUE : FALSE);
  }
  FreeFeatureRecords(stored, summary);
  // The level chooses the threshold: 325 falls short of level 5's.
  TestFeatureSet capture(kPrintGrid, kPrintGrid);
  testing::MakeBorderlineCapture(*print, kAtThreshold, &capture);
  unit_.PlaySample(*capture);
  unit_.context()->MatchLevel = 5;
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), WINBIO_E_NO_MATCH);
}

TEST_F(Matching, ContainerWhoseSecondEntryMatchesIsAMatch) {
  unit_.Store(1, kSubFactor, ContainerOf({impostor_.get(), print_.get()}), payload_);
  unit_.PlaySample(*genuine_);
  TraceCapture trace;
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), S_OK);
  const auto lines = trace.messages();
  EXPECT_EQ(Count(lines, "MatchCoord failed\n"), 1);
  EXPECT_EQ(Count(lines, "_ParseTemplate(idx=1)\n"), 1);
  EXPECT_EQ(Count(lines, "_ParseTemplate(idx=2)\n"), 0);
}

TEST_F(Matching, UpsideDownTemplateMatchesOnlyByTheRotatedRetry) {
  TestFeatureSet upside_down(kPrintGrid, kPrintGrid);
  testing::MakeUpsideDown(*print_, &upside_down);
  unit_.Store(1, kSubFactor, Of(upside_down));
  const std::string rotated_line = "MatchCoord successful by a rotated image (";

  // Right after a sample acceptance the second scratch pair is gone: no retry.
  unit_.PlaySample(*print_);
  {
    TraceCapture trace;
    EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), WINBIO_E_NO_MATCH);
    for (const std::string& line : trace.messages()) EXPECT_NE(line.rfind(rotated_line, 0), 0u);
  }
  // A duplicate check decodes stored entries into that pair; a verification of the same sample
  // after the enrollment is committed then retries the entry turned round.
  ASSERT_EQ(unit_.Create(), S_OK);
  ASSERT_EQ(unit_.Update(), S_OK);
  ASSERT_EQ(unit_.CheckForDuplicate(), S_OK);
  EXPECT_EQ(unit_.out.duplicate, FALSE);  // the duplicate check has no rotated retry
  ASSERT_EQ(unit_.Commit(TestIdentity(2), kSubFactor), S_OK);
  ASSERT_NE(unit_.context()->pFPDataTmp2, nullptr);
  TraceCapture trace;
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), S_OK);
  const auto lines = trace.messages();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.rfind(rotated_line, 0) == 0; }),
            1);
}

TEST_F(Matching, UnusableTemplateOrSampleIsABadCapture) {
  std::vector<uint8_t> other_type = Of(print_);
  other_type[6] = 0xD2;                                  // TemplateType 2002
  unit_.Store(1, kSubFactor, {0, 0, 0, 0, 0, 1, 0xD1});  // 7 bytes: no whole header
  unit_.Store(2, kSubFactor, other_type);
  unit_.Store(3, kSubFactor, Of(print_));
  unit_.PlaySample(*genuine_);
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(unit_.out.rejectDetail, kRejectDetailBadCapture);
  {
    TraceCapture trace;
    EXPECT_EQ(unit_.Verify(TestIdentity(2), kSubFactor), WINBIO_E_BAD_CAPTURE);
    EXPECT_EQ(Count(trace.messages(),
                    "_AdapterCompareTemplateToCurrentFeatureSet _CheckTemplate failed\n"),
              1);
  }
  genuine_.Truncate(3);
  unit_.PlaySample(*genuine_);
  unit_.out.rejectDetail = 0xEEEE;
  EXPECT_EQ(unit_.Verify(TestIdentity(3), kSubFactor), WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(unit_.out.rejectDetail, kRejectDetailBadCapture);
  unit_.PlayFailedSample();
  EXPECT_EQ(unit_.Verify(TestIdentity(3), kSubFactor), WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(unit_.out.payload, nullptr);
}

TEST_F(Matching, StorageFailuresAndBadArguments) {
  unit_.Store(1, kSubFactor, Of(print_));
  unit_.PlaySample(*genuine_);
  EXPECT_EQ(unit_.Verify(TestIdentity(1), 0), E_INVALIDARG);
  unit_.storage().table().QueryBySubject = nullptr;
  {
    TraceCapture trace;
    EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), E_NOTIMPL);
    EXPECT_EQ(Count(trace.messages(),
                    "EngineAdapterVerifyFeatureSet WbioStorageQueryBySubject ecode = "
                    "0x80004001\n"),
              1);
  }
  unit_.get()->StorageInterface = nullptr;
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), E_POINTER);
  EXPECT_EQ(unit_.Identify(), E_POINTER);
  unit_.storage().Install(unit_.get());
  unit_.storage().forced["FirstRecord"] = WINBIO_E_DATABASE_NO_RESULTS;
  EXPECT_EQ(unit_.Identify(), WINBIO_E_UNKNOWN_ID);
  unit_.storage().forced["FirstRecord"] = kStorageFailure;
  EXPECT_EQ(unit_.Identify(), kStorageFailure);

  const WINBIO_ENGINE_INTERFACE& engine = unit_.engine();
  WINBIO_IDENTITY identity{};
  auto& o = unit_.out;
  EXPECT_EQ(engine.VerifyFeatureSet(unit_.get(), &identity, kSubFactor, &o.match, &o.payload,
                                    &o.payloadSize, &o.hashValue, nullptr, &o.rejectDetail),
            E_POINTER);
  TraceCapture trace;
  EXPECT_EQ(engine.IdentifyFeatureSet(unit_.get(), &identity, &o.subFactor, &o.payload,
                                      &o.payloadSize, &o.hashValue, &o.hashSize, nullptr),
            E_POINTER);
  EXPECT_EQ(trace.messages().size(), 4u);
  EXPECT_EQ(trace.messages()[1], "EngineAdapterIdentifyFeatureSet invalid parameter\n");
}

TEST_F(Matching, IdentifyingAgainstAnEmptySetIsAnUnknownIdentity) {
  unit_.PlaySample(*genuine_);
  EXPECT_EQ(unit_.Identify(), static_cast<HRESULT>(0x80098003u));
  EXPECT_TRUE(SameIdentity(unit_.out.identity, WINBIO_IDENTITY{}));
  EXPECT_EQ(unit_.out.subFactor, 0);
  EXPECT_EQ(unit_.out.payload, nullptr);
}

TEST_F(Matching, IdentificationStopsAtTheFirstMatchingRecord) {
  unit_.Store(1, 1, Of(impostor_));
  unit_.Store(2, 2, Of(impostor2_));
  unit_.Store(3, 4, Of(print_), payload_);
  unit_.Store(4, 5, Of(print_));
  unit_.PlaySample(*genuine_);
  EXPECT_EQ(unit_.Identify(), S_OK);
  EXPECT_TRUE(SameIdentity(unit_.out.identity, TestIdentity(3)));
  EXPECT_EQ(unit_.out.subFactor, 4);
  EXPECT_EQ(unit_.out.payload, unit_.storage().records[2].payload.data());
  EXPECT_EQ(unit_.out.payloadSize, 4u);
  EXPECT_EQ(Calls(unit_.storage(), "GetCurrentRecord"), 3);
  EXPECT_EQ(Calls(unit_.storage(), "NextRecord"), 2);
  const auto& query = unit_.storage().calls[0];
  EXPECT_EQ(query.slot, "QueryByContent");
  EXPECT_EQ(query.subFactor, WINBIO_SUBTYPE_ANY);
  EXPECT_EQ(query.indexVector, nullptr);
  EXPECT_EQ(query.indexElementCount, 0u);
}

TEST_F(Matching, IdentificationWithoutAMatchIsAnUnknownIdentity) {
  unit_.Store(1, 1, Of(impostor_), payload_);
  unit_.Store(2, 2, Of(impostor2_), payload_);
  unit_.PlaySample(*genuine_);
  EXPECT_EQ(unit_.Identify(), WINBIO_E_UNKNOWN_ID);
  EXPECT_EQ(unit_.out.payload, nullptr);
  EXPECT_EQ(Calls(unit_.storage(), "NextRecord"), 2);
}

TEST_F(Matching, OneBadStoredRecordEndsAnIdentification) {
  std::vector<uint8_t> bad = Of(print_);
  bad[4] = 1;  // Version 1
  unit_.Store(1, 1, bad);
  unit_.Store(2, 2, Of(print_));
  unit_.PlaySample(*genuine_);
  TraceCapture trace;
  EXPECT_EQ(unit_.Identify(), WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(unit_.out.rejectDetail, kRejectDetailBadCapture);
  EXPECT_EQ(Count(trace.messages(),
                  "EngineAdapterIdentifyFeatureSet _AdapterCompareTemplateToCurrentFeatureSet "
                  "failed hr = 0x80098008\n"),
            1);
  EXPECT_EQ(Calls(unit_.storage(), "GetCurrentRecord"), 1);
}

TEST_F(Matching, OpenEnrollmentRefusesVerificationAndIdentification) {
  unit_.Store(1, kSubFactor, Of(print_));
  unit_.PlaySample(*genuine_);
  ASSERT_EQ(unit_.Create(), S_OK);
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), static_cast<HRESULT>(0x80098007u));
  EXPECT_EQ(unit_.Identify(), static_cast<HRESULT>(0x80098007u));
  EXPECT_TRUE(unit_.storage().calls.empty());
  ASSERT_EQ(unit_.Discard(), S_OK);
  EXPECT_EQ(unit_.Verify(TestIdentity(1), kSubFactor), S_OK);
}

}  // namespace
}  // namespace ridgeline
