// Scoring stored templates against the current sample and against the enrollment template.
#include "adapter/template_comparison.h"

#include <cassert>

#include "core/trace_log.h"
#include "engine/match_threshold.h"
#include "match/match_coord.h"
#include "match/match_result.h"
#include "template/template_container.h"

namespace ridgeline {
namespace {

bool HasComparableSample(const EngineContext& context) {
  return context.pFPData != nullptr && context.pFPSummary != nullptr &&
         context.pFPData->Count >= kMinComparableMinutiae;
}

int Score(EngineContext* context, const FeatureSet& probe, const FeatureSet& reference) {
  MatchResult result;
  return MatchCoord(probe, reference, context->MatchWork, &result, /*rebuildA=*/true);
}

}  // namespace

HRESULT _AdapterCompareTemplateToCurrentFeatureSet(EngineContext* context,
                                                   std::span<const uint8_t> storedTemplate,
                                                   bool* match,
                                                   PWINBIO_REJECT_DETAIL RejectDetail) {
  assert(context != nullptr && match != nullptr && RejectDetail != nullptr);
  TraceLog("_AdapterCompareTemplateToCurrentFeatureSet context = %p\n",
           static_cast<void*>(context));
  *match = false;
  HRESULT hr = S_OK;
  bool usable = storedTemplate.size() >= kContainerHeaderSize && context->pFPData != nullptr &&
                context->pFPSummary != nullptr;
  if (usable && !_CheckTemplate(storedTemplate)) {
    TraceLog("_AdapterCompareTemplateToCurrentFeatureSet _CheckTemplate failed\n");
    usable = false;
  }
  if (!usable || !HasComparableSample(*context)) {
    *RejectDetail = kRejectDetailBadCapture;
    hr = WINBIO_E_BAD_CAPTURE;
  } else {
    const int threshold = MatchThreshold(context->MatchLevel);
    const FeatureSet& sample = *context->pFPData;
    for (int k = 0;
         _ParseTemplate(storedTemplate, k, &context->pFPDataTmp, &context->pFPSummaryTmp); ++k) {
      TraceLog("MatchCoord %p, %p\n", static_cast<void*>(context->pFPData),
               static_cast<void*>(context->pFPDataTmp));
      int score = Score(context, sample, *context->pFPDataTmp);
      if (ReachesThreshold(score, threshold)) {
        TraceLog("MatchCoord successful %d\n", score);
        *match = true;
        break;
      }
      // The second scratch pair is there only until the next sample acceptance drops it; the
      // retry with the entry turned round happens only while it is.
      if (context->pFPDataTmp2 != nullptr) {
        RotateFeatureSet180(context->pFPDataTmp2, *context->pFPDataTmp);
        score = Score(context, sample, *context->pFPDataTmp2);
        if (ReachesThreshold(score, threshold)) {
          TraceLog("MatchCoord successful by a rotated image (%d)\n", score);
          *match = true;
          break;
        }
      }
      TraceLog("MatchCoord failed\n");
    }
  }
  TraceLog("_AdapterCompareTemplateToCurrentFeatureSet done hr = 0x%x\n",
           static_cast<unsigned>(hr));
  return hr;
}

HRESULT _AdapterCompareTemplateToEnrollmentTemplate(EngineContext* context,
                                                    std::span<const uint8_t> enrollmentTemplate,
                                                    std::span<const uint8_t> storedTemplate,
                                                    bool* duplicate) {
  assert(context != nullptr && duplicate != nullptr);
  *duplicate = false;
  HRESULT hr = S_OK;
  if (!_CheckTemplate(enrollmentTemplate) || !_CheckTemplate(storedTemplate)) {
    TraceLog("_AdapterCompareTemplateToEnrollmentTemplate _CheckTemplate failed\n");
    hr = WINBIO_E_BAD_CAPTURE;
  } else if (!HasComparableSample(*context)) {
    hr = WINBIO_E_BAD_CAPTURE;
  } else {
    const int threshold = MatchThreshold(context->MatchLevel);
    for (int i = 0; !*duplicate && _ParseTemplate(enrollmentTemplate, i, &context->pFPDataTmp,
                                                  &context->pFPSummaryTmp);
         ++i) {
      for (int j = 0;
           _ParseTemplate(storedTemplate, j, &context->pFPDataTmp2, &context->pFPSummaryTmp2);
           ++j) {
        TraceLog("MatchCoord %p, %p\n", static_cast<void*>(context->pFPDataTmp),
                 static_cast<void*>(context->pFPDataTmp2));
        const int score = Score(context, *context->pFPDataTmp, *context->pFPDataTmp2);
        if (ReachesThreshold(score, threshold)) {
          TraceLog("MatchCoord successful %d\n", score);
          *duplicate = true;
          break;
        }
        TraceLog("MatchCoord failed\n");
      }
    }
  }
  TraceLog("_AdapterCompareTemplateToEnrollmentTemplate done hr = 0x%x\n",
           static_cast<unsigned>(hr));
  return hr;
}

}  // namespace ridgeline
