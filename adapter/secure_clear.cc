// _SecureClearBuffers and the wipe-and-release steps it is made of.
#include "adapter/secure_clear.h"

#include <cassert>

#include "core/secure_wipe.h"
#include "core/trace_log.h"

namespace ridgeline {

void _SecureClearBuffers(EngineContext* context, bool keepEnrollment) {
  assert(context != nullptr);
  TraceLog("_SecureClearBuffers\n");
  // Pairs are created and released together; testing either pointer also frees a stray half.
  if (context->pFPData != nullptr || context->pFPSummary != nullptr) {
    TraceLog("_SecureClearBuffers context->pFPData\n");
    _SecureClearFeaturePair(&context->pFPData, &context->pFPSummary);
  }
  if (context->pFPDataTmp != nullptr || context->pFPSummaryTmp != nullptr) {
    TraceLog("_SecureClearBuffers context->pFPDataTmp\n");
    _SecureClearFeaturePair(&context->pFPDataTmp, &context->pFPSummaryTmp);
  }
  if (context->pFPDataTmp2 != nullptr || context->pFPSummaryTmp2 != nullptr) {
    TraceLog("_SecureClearBuffers context->pFPDataTmp2\n");
    _SecureClearFeaturePair(&context->pFPDataTmp2, &context->pFPSummaryTmp2);
  }
  if (context->pBirSampleLast != nullptr) {
    TraceLog("_SecureClearBuffers context->pBirSampleLast\n");
    WipeAndFree(context->pBirSampleLast, KeptBirLength(context->pBirSampleLast));
    context->pBirSampleLast = nullptr;
  }
  if (!keepEnrollment && context->Enrollment.Template != nullptr) {
    TraceLog("_SecureClearBuffers context->Enrollment.Template\n");
    WipeAndFree(context->Enrollment.Template, context->Enrollment.TemplateSize);
    context->Enrollment.Template = nullptr;
    context->Enrollment.TemplateSize = 0;
  }
}

}  // namespace ridgeline
