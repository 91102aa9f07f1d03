#include "adapter/engine_context.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "adapter/entry_points.h"
#include "tests/support/attached_pipeline.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::AttachedPipeline;
using testing::TraceCapture;
using testing::UnattachedPipeline;

std::string ContextLine(const void* context) {
  char line[64];
  std::snprintf(line, sizeof(line), "EngineAdapterAttach new Context = %p\n", context);
  return line;
}

TEST(EngineContext, AttachBuildsACompleteContext) {
  WINBIO_PIPELINE pipeline = UnattachedPipeline();
  TraceCapture capture;
  ASSERT_EQ(EngineAdapterAttach(&pipeline), S_OK);
  EngineContext* context = pipeline.EngineContext;
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(pipeline.EngineHandle, nullptr);
  EXPECT_EQ(capture.messages(),
            (std::vector<std::string>{"EngineAdapterAttach\n", ContextLine(context)}));

  EXPECT_EQ(context->HashValue, nullptr);
  EXPECT_EQ(context->HashSize, 0u);
  EngineParams defaults{};
  InitEngineParams(&defaults);
  EXPECT_EQ(std::memcmp(&context->EngineParams, &defaults, sizeof(defaults)), 0);
  MatchParams match_defaults;
  InitMatchParams(&match_defaults);
  EXPECT_EQ(std::memcmp(&context->MatchParams, &match_defaults, sizeof(MatchParams)), 0);
  EXPECT_EQ(context->MatchParams.Reserved1, 100);
  EXPECT_EQ(context->MatchParams.Reserved18, 1);
  EXPECT_NE(context->MatchWork, nullptr);
  EXPECT_EQ(context->TemplateCapacity, 1024u);
  EXPECT_EQ(context->MatchLevel, 4);
  // The scratch pairs exist; the sample, the BIR copy and the enrollment are empty.
  EXPECT_NE(context->pFPDataTmp, nullptr);
  EXPECT_NE(context->pFPSummaryTmp, nullptr);
  EXPECT_NE(context->pFPDataTmp2, nullptr);
  EXPECT_NE(context->pFPSummaryTmp2, nullptr);
  EXPECT_EQ(context->pFPData, nullptr);
  EXPECT_EQ(context->pFPSummary, nullptr);
  EXPECT_EQ(context->pBirSampleLast, nullptr);
  EXPECT_EQ(context->Enrollment.Count, 0u);
  EXPECT_EQ(context->Enrollment.InProgress, 0u);
  EXPECT_EQ(context->Enrollment.Template, nullptr);
  EXPECT_EQ(context->Enrollment.TemplateSize, 0u);

  EXPECT_EQ(EngineAdapterDetach(&pipeline), S_OK);
}

TEST(EngineContext, SecondAttachIsRefusedAndKeepsTheFirstContext) {
  AttachedPipeline unit;
  EngineContext* first = unit.context();
  EXPECT_EQ(EngineAdapterAttach(unit.get()), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(unit.context(), first);
  EXPECT_EQ(unit.get()->EngineHandle, nullptr);
}

TEST(EngineContext, AttachNeedsAnInvalidEngineHandle) {
  WINBIO_PIPELINE pipeline = UnattachedPipeline();
  pipeline.EngineHandle = nullptr;
  EXPECT_EQ(EngineAdapterAttach(&pipeline), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(pipeline.EngineContext, nullptr);
  EXPECT_EQ(EngineAdapterAttach(nullptr), E_POINTER);
}

// Counts the parts an attach takes and gives back, and refuses the one with index fail_at.
struct CountingAllocation {
  static inline int fail_at = -1;
  static inline int step = 0;
  static inline int outstanding = 0;

  static bool Take() {
    if (step++ == fail_at) return false;
    ++outstanding;
    return true;
  }
  static EngineContext* AllocContext() {
    return Take() ? kSystemContextAllocation.AllocContext() : nullptr;
  }
  static void FreeContext(EngineContext* context) {
    --outstanding;
    kSystemContextAllocation.FreeContext(context);
  }
  static MatchWork* BuildMatchWork(const MatchParams& params) {
    return Take() ? kSystemContextAllocation.BuildMatchWork(params) : nullptr;
  }
  static void FreeMatchWork(MatchWork* work) {
    --outstanding;
    kSystemContextAllocation.FreeMatchWork(work);
  }
  static bool AllocFeatureRecords(FeatureSet** featureSet, FeatureSummary** summary) {
    if (!Take()) {
      *featureSet = nullptr;
      *summary = nullptr;
      return false;
    }
    return kSystemContextAllocation.AllocFeatureRecords(featureSet, summary);
  }
  static void FreeFeatureRecords(FeatureSet* featureSet, FeatureSummary* summary) {
    if (featureSet != nullptr) --outstanding;
    kSystemContextAllocation.FreeFeatureRecords(featureSet, summary);
  }
  static constexpr ContextAllocation kTable = {AllocContext,        FreeContext,
                                               BuildMatchWork,      FreeMatchWork,
                                               AllocFeatureRecords, FreeFeatureRecords};
};

TEST(EngineContext, AttachOutOfMemoryAtAnyStepLeavesNothingBehind) {
  constexpr int kParts = 4;  // context, work area, two scratch pairs
  for (int fail_at = 0; fail_at < kParts; ++fail_at) {
    CountingAllocation::fail_at = fail_at;
    CountingAllocation::step = 0;
    CountingAllocation::outstanding = 0;
    WINBIO_PIPELINE pipeline = UnattachedPipeline();
    TraceCapture capture;
    EXPECT_EQ(AttachEngineContext(&pipeline, CountingAllocation::kTable), E_OUTOFMEMORY)
        << "failing part " << fail_at;
    EXPECT_EQ(CountingAllocation::step, fail_at + 1);
    EXPECT_EQ(CountingAllocation::outstanding, 0) << "failing part " << fail_at;
    EXPECT_EQ(pipeline.EngineContext, nullptr);
    EXPECT_EQ(pipeline.EngineHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"EngineAdapterAttach\n"});
    // The unit can still be attached once memory is back.
    ASSERT_EQ(EngineAdapterAttach(&pipeline), S_OK);
    EXPECT_EQ(EngineAdapterDetach(&pipeline), S_OK);
  }
  CountingAllocation::fail_at = -1;
  CountingAllocation::step = 0;
  WINBIO_PIPELINE pipeline = UnattachedPipeline();
  ASSERT_EQ(AttachEngineContext(&pipeline, CountingAllocation::kTable), S_OK);
  EXPECT_EQ(CountingAllocation::step, kParts);
  EXPECT_EQ(EngineAdapterDetach(&pipeline), S_OK);
}

TEST(EngineContext, DetachWithoutContextChangesNothing) {
  WINBIO_PIPELINE pipeline = UnattachedPipeline();
  TraceCapture capture;
  EXPECT_EQ(EngineAdapterDetach(&pipeline), S_OK);
  EXPECT_EQ(pipeline.EngineHandle, INVALID_HANDLE_VALUE);
  pipeline.EngineHandle = nullptr;
  EXPECT_EQ(EngineAdapterDetach(&pipeline), S_OK);
  EXPECT_EQ(pipeline.EngineHandle, nullptr);
  EXPECT_EQ(EngineAdapterDetach(nullptr), E_POINTER);
  EXPECT_EQ(capture.messages(), std::vector<std::string>(3, "EngineAdapterDetach\n"));
}

TEST(EngineContext, DetachWipesTakesDownAndAllowsANewAttach) {
  WINBIO_PIPELINE pipeline = UnattachedPipeline();
  ASSERT_EQ(EngineAdapterAttach(&pipeline), S_OK);
  EngineContext* context = pipeline.EngineContext;
  context->Enrollment.TemplateSize = 16;
  context->Enrollment.Template = static_cast<uint8_t*>(std::malloc(16));
  std::memset(context->Enrollment.Template, 0x5C, 16);
  TraceCapture capture;
  ASSERT_EQ(EngineAdapterDetach(&pipeline), S_OK);
  EXPECT_EQ(pipeline.EngineContext, nullptr);
  EXPECT_EQ(pipeline.EngineHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{
                                    "EngineAdapterDetach\n",
                                    "EngineAdapterDetach _AdapterCleanupCrypto\n",
                                    "EngineAdapterDetach _SecureClearBuffers\n",
                                    "_SecureClearBuffers\n",
                                    "_SecureClearBuffers context->pFPDataTmp\n",
                                    "_SecureClearBuffers context->pFPDataTmp2\n",
                                    "_SecureClearBuffers context->Enrollment.Template\n",
                                }));
  ASSERT_EQ(EngineAdapterAttach(&pipeline), S_OK);
  EXPECT_EQ(EngineAdapterDetach(&pipeline), S_OK);
}

TEST(EngineContext, ClearContextEndsAnOpenEnrollment) {
  AttachedPipeline unit;
  EngineContext* context = unit.context();
  MatchWork* work = context->MatchWork;
  context->Enrollment.InProgress = 1;
  context->Enrollment.Count = 2;
  context->Enrollment.TemplateSize = 40;
  context->Enrollment.Template = static_cast<uint8_t*>(std::calloc(40, 1));
  context->MatchLevel = 6;
  TraceCapture capture;
  ASSERT_EQ(EngineAdapterClearContext(unit.get()), S_OK);
  EXPECT_EQ(unit.context(), context);
  EXPECT_EQ(context->Enrollment.InProgress, 0u);
  EXPECT_EQ(context->Enrollment.Count, 0u);
  EXPECT_EQ(context->Enrollment.Template, nullptr);
  EXPECT_EQ(context->Enrollment.TemplateSize, 0u);
  EXPECT_EQ(context->pFPDataTmp, nullptr);
  EXPECT_EQ(context->pFPDataTmp2, nullptr);
  // The matcher's state and the settings survive.
  EXPECT_EQ(context->MatchWork, work);
  EXPECT_EQ(context->MatchLevel, 6);
  EXPECT_EQ(context->TemplateCapacity, 1024u);
  EXPECT_EQ(capture.messages().front(), "EngineAdapterClearContext\n");
  EXPECT_EQ(capture.messages().back(), "_SecureClearBuffers context->Enrollment.Template\n");
}

TEST(EngineContext, ClearContextWithoutContextSucceeds) {
  WINBIO_PIPELINE pipeline = UnattachedPipeline();
  TraceCapture capture;
  EXPECT_EQ(EngineAdapterClearContext(&pipeline), S_OK);
  EXPECT_EQ(EngineAdapterClearContext(nullptr), E_POINTER);
  EXPECT_EQ(capture.messages(), std::vector<std::string>(2, "EngineAdapterClearContext\n"));
}

}  // namespace
}  // namespace ridgeline
