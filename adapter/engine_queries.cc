// The entry points that answer fixed questions about the engine: preferred format, index
// vector size, sample hint, the hash entry points (not supported) and the control requests
// (none supported).
#include "adapter/engine_interface.h"
#include "adapter/entry_points.h"
#include "core/trace_log.h"

namespace ridgeline {
namespace {

// One good sample completes an enrollment.
constexpr SIZE_T kSampleHint = 1;

// Both control entry points reject every request: E_INVALIDARG when every pointer they would
// use is present, otherwise E_POINTER. Nothing is written.
HRESULT RejectControlRequest(PWINBIO_PIPELINE Pipeline, PUCHAR SendBuffer, PUCHAR ReceiveBuffer,
                             PSIZE_T ReceiveDataSize, PULONG OperationStatus) {
  if (Pipeline == nullptr || SendBuffer == nullptr || ReceiveBuffer == nullptr ||
      ReceiveDataSize == nullptr || OperationStatus == nullptr) {
    return E_POINTER;
  }
  return E_INVALIDARG;
}

}  // namespace

HRESULT WINAPI EngineAdapterQueryPreferredFormat(PWINBIO_PIPELINE Pipeline,
                                                 PWINBIO_REGISTERED_FORMAT StandardFormat,
                                                 PWINBIO_UUID VendorFormat) {
  TraceLog("EngineAdapterQueryPreferredFormat\n");
  if (Pipeline == nullptr || StandardFormat == nullptr || VendorFormat == nullptr) {
    return E_POINTER;
  }
  StandardFormat->Owner = WINBIO_ANSI_381_FORMAT_OWNER;
  StandardFormat->Type = WINBIO_ANSI_381_FORMAT_TYPE;
  *VendorFormat = kVendorFormatId;
  return S_OK;
}

HRESULT WINAPI EngineAdapterQueryIndexVectorSize(PWINBIO_PIPELINE Pipeline,
                                                 PSIZE_T IndexElementCount) {
  TraceLog("EngineAdapterQueryIndexVectorSize\n");
  if (Pipeline == nullptr || IndexElementCount == nullptr) return E_POINTER;
  *IndexElementCount = 0;  // the engine uses no index vector
  return S_OK;
}

HRESULT WINAPI EngineAdapterQueryHashAlgorithms(PWINBIO_PIPELINE, PSIZE_T, PSIZE_T, PUCHAR*) {
  TraceLog("EngineAdapterQueryHashAlgorithms\n");
  return E_NOTIMPL;
}

HRESULT WINAPI EngineAdapterSetHashAlgorithm(PWINBIO_PIPELINE, SIZE_T, PUCHAR) { return E_NOTIMPL; }

HRESULT WINAPI EngineAdapterGetEnrollmentHash(PWINBIO_PIPELINE, PUCHAR*, PSIZE_T) {
  return E_NOTIMPL;
}

HRESULT WINAPI EngineAdapterQuerySampleHint(PWINBIO_PIPELINE Pipeline, PSIZE_T SampleHint) {
  if (Pipeline == nullptr || SampleHint == nullptr) return E_POINTER;
  *SampleHint = kSampleHint;
  return S_OK;
}

HRESULT WINAPI EngineAdapterControlUnit(PWINBIO_PIPELINE Pipeline, ULONG, PUCHAR SendBuffer, SIZE_T,
                                        PUCHAR ReceiveBuffer, SIZE_T, PSIZE_T ReceiveDataSize,
                                        PULONG OperationStatus) {
  return RejectControlRequest(Pipeline, SendBuffer, ReceiveBuffer, ReceiveDataSize,
                              OperationStatus);
}

HRESULT WINAPI EngineAdapterControlUnitPrivileged(PWINBIO_PIPELINE Pipeline, ULONG,
                                                  PUCHAR SendBuffer, SIZE_T, PUCHAR ReceiveBuffer,
                                                  SIZE_T, PSIZE_T ReceiveDataSize,
                                                  PULONG OperationStatus) {
  TraceLog("EngineAdapterControlUnitPrivileged\n");
  return RejectControlRequest(Pipeline, SendBuffer, ReceiveBuffer, ReceiveDataSize,
                              OperationStatus);
}

}  // namespace ridgeline
