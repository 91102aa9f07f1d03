// Attach, Detach and ClearContext: creating an engine context on a pipeline, wiping it and
// taking it down again.
#include "adapter/engine_context.h"

#include <cstdlib>

#include "adapter/entry_points.h"
#include "adapter/secure_clear.h"
#include "core/trace_log.h"

namespace ridgeline {
namespace {

EngineContext* SystemAllocContext() {
  return static_cast<EngineContext*>(std::calloc(1, sizeof(EngineContext)));
}

void SystemFreeContext(EngineContext* context) { std::free(context); }

MatchWork* SystemBuildMatchWork(const MatchParams& params) {
  return BuildMatchWork(kMatchWorkMinutiae, kMatchWorkGridSide, kMatchWorkGridSide,
                        kMatchWorkMinutiae, kMatchWorkGridSide, kMatchWorkGridSide, params);
}

// Builds every part of a context, or releases what it built and returns null.
EngineContext* CreateEngineContext(const ContextAllocation& allocation) {
  EngineContext* context = allocation.AllocContext();
  if (context == nullptr) return nullptr;
  InitMatchParams(&context->MatchParams);
  context->MatchWork = allocation.BuildMatchWork(context->MatchParams);
  context->TemplateCapacity = kTemplateCapacity;
  context->MatchLevel = kDefaultMatchLevel;
  InitEngineParams(&context->EngineParams);
  if (context->MatchWork != nullptr &&
      allocation.AllocFeatureRecords(&context->pFPDataTmp, &context->pFPSummaryTmp) &&
      allocation.AllocFeatureRecords(&context->pFPDataTmp2, &context->pFPSummaryTmp2)) {
    return context;
  }
  // Nothing biometric is in the fresh parts yet, so they are released without a wipe.
  allocation.FreeFeatureRecords(context->pFPDataTmp2, context->pFPSummaryTmp2);
  allocation.FreeFeatureRecords(context->pFPDataTmp, context->pFPSummaryTmp);
  if (context->MatchWork != nullptr) allocation.FreeMatchWork(context->MatchWork);
  allocation.FreeContext(context);
  return nullptr;
}

}  // namespace

const ContextAllocation kSystemContextAllocation = {
    SystemAllocContext, SystemFreeContext,   SystemBuildMatchWork,
    FreeMatchWork,      AllocFeatureRecords, FreeFeatureRecords,
};

HRESULT AttachEngineContext(PWINBIO_PIPELINE Pipeline, const ContextAllocation& allocation) {
  TraceLog("EngineAdapterAttach\n");
  if (Pipeline == nullptr) return E_POINTER;
  if (Pipeline->EngineContext != nullptr || Pipeline->EngineHandle != INVALID_HANDLE_VALUE) {
    return WINBIO_E_INVALID_DEVICE_STATE;
  }
  EngineContext* context = CreateEngineContext(allocation);
  if (context == nullptr) return E_OUTOFMEMORY;
  Pipeline->EngineContext = context;
  TraceLog("EngineAdapterAttach new Context = %p\n", static_cast<void*>(context));
  Pipeline->EngineHandle = nullptr;
  return S_OK;
}

HRESULT WINAPI EngineAdapterAttach(PWINBIO_PIPELINE Pipeline) {
  return AttachEngineContext(Pipeline, kSystemContextAllocation);
}

HRESULT WINAPI EngineAdapterDetach(PWINBIO_PIPELINE Pipeline) {
  TraceLog("EngineAdapterDetach\n");
  if (Pipeline == nullptr) return E_POINTER;
  EngineContext* context = Pipeline->EngineContext;
  if (context == nullptr) return S_OK;
  Pipeline->EngineContext = nullptr;
  Pipeline->EngineHandle = INVALID_HANDLE_VALUE;
  // There is no crypto state to clean up; the step is traced all the same.
  TraceLog("EngineAdapterDetach _AdapterCleanupCrypto\n");
  TraceLog("EngineAdapterDetach _SecureClearBuffers\n");
  _SecureClearBuffers(context, false);
  FreeMatchWork(context->MatchWork);
  std::free(context);
  return S_OK;
}

HRESULT WINAPI EngineAdapterClearContext(PWINBIO_PIPELINE Pipeline) {
  TraceLog("EngineAdapterClearContext\n");
  if (Pipeline == nullptr) return E_POINTER;
  EngineContext* context = Pipeline->EngineContext;
  if (context != nullptr) {
    _SecureClearBuffers(context, false);
    context->Enrollment.Count = 0;
    context->Enrollment.InProgress = 0;
  }
  return S_OK;
}

}  // namespace ridgeline
