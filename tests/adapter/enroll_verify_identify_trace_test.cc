// The trace of one whole session as the service runs it: an enrollment with its duplicate check
// and commit, then a verification and an identification of a later capture. Every line is
// checked word for word; the time stamps are masked.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "match/match_coord.h"
#include "template/template_decode.h"
#include "tests/support/match_work.h"
#include "tests/support/service_pipeline.h"
#include "tests/support/test_prints.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::ContainerOf;
using testing::EncodedRecord;
using testing::FixedClock;
using testing::kPrintGrid;
using testing::ServicePipeline;
using testing::TestFeatureSet;
using testing::TestIdentity;
using testing::TraceCapture;
using Lines = std::vector<std::string>;

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  return text;
}

std::string Pointer(const void* p) { return Format("%p", p); }

// The length of the first entry of a container.
unsigned FirstEntryLength(const std::vector<uint8_t>& container) {
  return container[8] | container[9] << 8;
}

// The score the adapter will see for capture against the first entry of a stored container.
int ScoreAgainst(const FeatureSet& capture, const FeatureSet& enrolled) {
  FeatureSet* stored = nullptr;
  FeatureSummary* summary = nullptr;
  if (!AllocFeatureRecords(&stored, &summary)) std::abort();
  DecodeTemplate(stored, summary, EncodedRecord(enrolled));
  testing::OwnedMatchWork work;
  MatchResult result;
  const int score = MatchCoord(capture, *stored, work.get(), &result);
  FreeFeatureRecords(stored, summary);
  return score;
}

Lines ParsedOne(int index, unsigned length) {
  return {Format("_ParseTemplate(idx=%d)\n", index),
          Format("_ParseTemplate size@%d = %u\n", index, length), "_ParseTemplate done 1\n"};
}

Lines PastTheLast(int index, int count) {
  return {Format("_ParseTemplate(idx=%d)\n", index),
          Format("_ParseTemplate abnormal parameters (template count=%d)\n", count)};
}

void Append(Lines* lines, const Lines& more) {
  lines->insert(lines->end(), more.begin(), more.end());
}

TEST(SessionTrace, EnrollVerifyIdentify) {
  FixedClock clock(9, 5, 7);
  ServicePipeline unit;
  TestFeatureSet print(kPrintGrid, kPrintGrid);
  TestFeatureSet later(kPrintGrid, kPrintGrid);
  TestFeatureSet stranger(kPrintGrid, kPrintGrid);
  testing::MakePrint(5, &print);
  testing::MakeGenuineCapture(*print, &later);
  testing::MakePrint(6, &stranger);
  const std::vector<uint8_t> stranger_container = ContainerOf({stranger.get()});
  unit.Store(1, 1, stranger_container);
  const WINBIO_IDENTITY subject = TestIdentity(9);
  constexpr WINBIO_BIOMETRIC_SUBTYPE kFinger = 2;
  uint8_t payload[4] = {4, 3, 2, 1};

  EngineContext* context = unit.context();
  Lines seen;
  Lines expected;
  bool all_stamped = true;
  // Runs one entry point with the trace captured and keeps its lines.
  auto traced = [&](auto call) {
    TraceCapture trace;
    const HRESULT hr = call();
    for (const std::string& s : trace.strings()) all_stamped &= s.rfind("[09:05:07] ", 0) == 0;
    Append(&seen, trace.messages());
    return hr;
  };

  ASSERT_EQ(traced([&] { return unit.Create(); }), S_OK);
  Append(&expected, {Format("EngineAdapterCreateEnrollment(%s)\n", Pointer(unit.get()).c_str()),
                     "EngineAdapterCreateEnrollment done (0x0)\n"});

  unit.PlaySample(*print);
  ASSERT_EQ(traced([&] { return unit.Update(); }), S_OK);
  const EnrollmentState& enrollment = context->Enrollment;
  const std::vector<uint8_t> enrolled(enrollment.Template,
                                      enrollment.Template + enrollment.TemplateSize);
  const unsigned enrolled_length = FirstEntryLength(enrolled);
  const unsigned stranger_length = FirstEntryLength(stranger_container);
  const std::string status_lines =
      Format("_AdapterCheckEnrollmentStatus (enrollment=0x%x, count=1, t-size=%d)\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(&enrollment)),
             static_cast<int>(enrolled.size()));
  const std::string checking =
      Format("_CheckEnrollment checking Template enrolled (%s, %lu)\n",
             Pointer(enrollment.Template).c_str(), static_cast<unsigned long>(enrolled.size()));
  Append(&expected, {"EngineAdapterUpdateEnrollment\n", "_AdapterMergeFeatureSetWithEnrollment\n",
                     Format("_AdapterMergeFeatureSetWithEnrollment _CheckTemplate (%s)...\n",
                            Pointer(nullptr).c_str()),
                     "_AdapterMergeFeatureSetWithEnrollment enrollment TemplateCount = 1\n",
                     "_AdapterMergeFeatureSetWithEnrollment done hr = 0x0\n",
                     "EngineAdapterGetEnrollmentStatus\n", status_lines, checking,
                     "_CheckEnrollment ok\n", "EngineAdapterGetEnrollmentStatus done (0x0)\n",
                     "EngineAdapterUpdateEnrollment done hr = 0x0\n"});

  ASSERT_EQ(traced([&] { return unit.Status(); }), S_OK);
  Append(&expected, {"EngineAdapterGetEnrollmentStatus\n", status_lines, checking,
                     "_CheckEnrollment ok\n", "EngineAdapterGetEnrollmentStatus done (0x0)\n"});

  ASSERT_EQ(traced([&] { return unit.CheckForDuplicate(); }), S_OK);
  EXPECT_EQ(unit.out.duplicate, FALSE);
  Append(&expected, {"EngineAdapterCheckForDuplicate\n"});
  Append(&expected, ParsedOne(0, enrolled_length));
  Append(&expected, ParsedOne(0, stranger_length));
  Append(&expected, {Format("MatchCoord %s, %s\n", Pointer(context->pFPDataTmp).c_str(),
                            Pointer(context->pFPDataTmp2).c_str()),
                     "MatchCoord failed\n"});
  Append(&expected, PastTheLast(1, 1));
  Append(&expected, PastTheLast(1, 1));
  Append(&expected, {"_AdapterCompareTemplateToEnrollmentTemplate done hr = 0x0\n",
                     "EngineAdapterCheckForDuplicate DID NOT find duplicate!\n"});

  ASSERT_EQ(traced([&] { return unit.Commit(subject, kFinger, payload, sizeof(payload)); }), S_OK);
  Append(&expected,
         {"EngineAdapterCommitEnrollment\n",
          Format("EngineAdapterCommitEnrollment PayloadBlob = %s\n", Pointer(payload).c_str()),
          "EngineAdapterCommitEnrollment PayloadBlobSize = 4\n",
          "EngineAdapterCommitEnrollment done hr = 0x0\n"});

  // A later capture of the same finger: verified, then identified among both records.
  unit.PlaySample(*later);
  const int score = ScoreAgainst(*later, *print);
  ASSERT_GE(score, 325);
  ASSERT_EQ(traced([&] { return unit.Verify(subject, kFinger); }), S_OK);
  const std::string compare_start =
      Format("_AdapterCompareTemplateToCurrentFeatureSet context = %s\n", Pointer(context).c_str());
  const std::string match_line = Format("MatchCoord %s, %s\n", Pointer(context->pFPData).c_str(),
                                        Pointer(context->pFPDataTmp).c_str());
  Append(&expected, {"EngineAdapterVerifyFeatureSet\n", compare_start});
  Append(&expected, ParsedOne(0, enrolled_length));
  Append(&expected, {match_line, Format("MatchCoord successful %d\n", score),
                     "_AdapterCompareTemplateToCurrentFeatureSet done hr = 0x0\n",
                     "EngineAdapterVerifyFeatureSet done hr = 0x0\n"});

  ASSERT_EQ(traced([&] { return unit.Identify(); }), S_OK);
  Append(&expected, {"EngineAdapterIdentifyFeatureSet\n", compare_start});
  Append(&expected, ParsedOne(0, stranger_length));
  Append(&expected, {match_line, "MatchCoord failed\n"});
  Append(&expected, PastTheLast(1, 1));
  Append(&expected, {"_AdapterCompareTemplateToCurrentFeatureSet done hr = 0x0\n", compare_start});
  Append(&expected, ParsedOne(0, enrolled_length));
  Append(&expected, {match_line, Format("MatchCoord successful %d\n", score),
                     "_AdapterCompareTemplateToCurrentFeatureSet done hr = 0x0\n",
                     "EngineAdapterIdentifyFeatureSet done hr = 0x0\n"});

  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(all_stamped);
}

}  // namespace
}  // namespace ridgeline
