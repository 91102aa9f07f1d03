// The constant engine interface table, the export that hands it out and the library entry
// routine with the load and unload hooks that call it where the loader does not.
#include "adapter/engine_interface.h"

#include "adapter/entry_points.h"
#include "core/trace_log.h"

namespace ridgeline {
namespace {

// Version 1.0 of the engine interface: slots 1 to 21 filled, the 20 slots of later versions
// null. Constant-initialised, so it lives in read-only memory and is never written.
constexpr WINBIO_ENGINE_INTERFACE kEngineInterface = {
    .Version = {1, 0},
    .Type = WINBIO_ADAPTER_TYPE_ENGINE,
    .Size = sizeof(WINBIO_ENGINE_INTERFACE),
    .AdapterId = kEngineAdapterId,
    .Attach = EngineAdapterAttach,
    .Detach = EngineAdapterDetach,
    .ClearContext = EngineAdapterClearContext,
    .QueryPreferredFormat = EngineAdapterQueryPreferredFormat,
    .QueryIndexVectorSize = EngineAdapterQueryIndexVectorSize,
    .QueryHashAlgorithms = EngineAdapterQueryHashAlgorithms,
    .SetHashAlgorithm = EngineAdapterSetHashAlgorithm,
    .QuerySampleHint = EngineAdapterQuerySampleHint,
    .AcceptSampleData = EngineAdapterAcceptSampleData,
    .ExportEngineData = EngineAdapterExportEngineData,
    .VerifyFeatureSet = EngineAdapterVerifyFeatureSet,
    .IdentifyFeatureSet = EngineAdapterIdentifyFeatureSet,
    .CreateEnrollment = EngineAdapterCreateEnrollment,
    .UpdateEnrollment = EngineAdapterUpdateEnrollment,
    .GetEnrollmentStatus = EngineAdapterGetEnrollmentStatus,
    .GetEnrollmentHash = EngineAdapterGetEnrollmentHash,
    .CheckForDuplicate = EngineAdapterCheckForDuplicate,
    .CommitEnrollment = EngineAdapterCommitEnrollment,
    .DiscardEnrollment = EngineAdapterDiscardEnrollment,
    .ControlUnit = EngineAdapterControlUnit,
    .ControlUnitPrivileged = EngineAdapterControlUnitPrivileged,
    // Slots of later interface versions: not provided.
    .NotifyPowerChange = nullptr,
    .Reserved_1 = nullptr,
    .PipelineInit = nullptr,
    .PipelineCleanup = nullptr,
    .Activate = nullptr,
    .Deactivate = nullptr,
    .QueryExtendedInfo = nullptr,
    .IdentifyAll = nullptr,
    .SetEnrollmentSelector = nullptr,
    .SetEnrollmentParameters = nullptr,
    .QueryExtendedEnrollmentStatus = nullptr,
    .RefreshCache = nullptr,
    .SelectCalibrationFormat = nullptr,
    .QueryCalibrationData = nullptr,
    .SetAccountPolicy = nullptr,
    .CreateKey = nullptr,
    .IdentifyFeatureSetSecure = nullptr,
    .AcceptPrivateSensorTypeInfo = nullptr,
    .CreateEnrollmentAuthenticated = nullptr,
    .IdentifyFeatureSetAuthenticated = nullptr,
};
static_assert(sizeof(kEngineInterface) == 360);

#ifndef _WIN32
// There is no loader callback here: the load and unload hooks stand in for it.
__attribute__((constructor)) void OnLibraryLoad() {
  EngineAdapterDllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
}
__attribute__((destructor)) void OnLibraryUnload() {
  EngineAdapterDllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
}
#endif

}  // namespace

BOOL WINAPI EngineAdapterDllMain(HINSTANCE, DWORD, LPVOID) {
  TraceLog("EngineAdapter DllMain\n");
  return TRUE;
}

}  // namespace ridgeline

#ifdef _WIN32
// The loader's entry routine, found by its C name.
extern "C" BOOL WINAPI DllMain(HINSTANCE Instance, DWORD Reason, LPVOID Reserved) {
  return ridgeline::EngineAdapterDllMain(Instance, Reason, Reserved);
}
#endif

extern "C" HRESULT WINAPI WbioQueryEngineInterface(PWINBIO_ENGINE_INTERFACE* EngineInterface) {
  ridgeline::TraceLog("WbioQueryEngineInterface\n");
  if (EngineInterface == nullptr) return E_POINTER;
  // The SDK's out-parameter is non-const; the table itself stays read-only.
  *EngineInterface = const_cast<PWINBIO_ENGINE_INTERFACE>(&ridgeline::kEngineInterface);
  return S_OK;
}
