// The engine adapter's entry points: the 21 slots of the interface table and the library entry
// routine. Each checks its pointer arguments and reports every outcome as an HRESULT; none
// throws. The service calls the entry points of one pipeline one at a time.
#pragma once

#include "platform/winbio_types.h"

namespace ridgeline {

// The library entry routine: traces for every reason code and returns TRUE. On Linux the
// library's load and unload hooks call it.
BOOL WINAPI EngineAdapterDllMain(HINSTANCE Instance, DWORD Reason, LPVOID Reserved);

// Context lifecycle (engine_context.cc).
HRESULT WINAPI EngineAdapterAttach(PWINBIO_PIPELINE Pipeline);
HRESULT WINAPI EngineAdapterDetach(PWINBIO_PIPELINE Pipeline);
HRESULT WINAPI EngineAdapterClearContext(PWINBIO_PIPELINE Pipeline);

// Queries, hash and control requests (engine_queries.cc).
HRESULT WINAPI EngineAdapterQueryPreferredFormat(PWINBIO_PIPELINE Pipeline,
                                                 PWINBIO_REGISTERED_FORMAT StandardFormat,
                                                 PWINBIO_UUID VendorFormat);
HRESULT WINAPI EngineAdapterQueryIndexVectorSize(PWINBIO_PIPELINE Pipeline,
                                                 PSIZE_T IndexElementCount);
HRESULT WINAPI EngineAdapterQueryHashAlgorithms(PWINBIO_PIPELINE Pipeline, PSIZE_T AlgorithmCount,
                                                PSIZE_T AlgorithmBufferSize,
                                                PUCHAR* AlgorithmBuffer);
HRESULT WINAPI EngineAdapterSetHashAlgorithm(PWINBIO_PIPELINE Pipeline, SIZE_T AlgorithmBufferSize,
                                             PUCHAR AlgorithmBuffer);
HRESULT WINAPI EngineAdapterQuerySampleHint(PWINBIO_PIPELINE Pipeline, PSIZE_T SampleHint);
HRESULT WINAPI EngineAdapterGetEnrollmentHash(PWINBIO_PIPELINE Pipeline, PUCHAR* HashValue,
                                              PSIZE_T HashSize);
HRESULT WINAPI EngineAdapterControlUnit(PWINBIO_PIPELINE Pipeline, ULONG ControlCode,
                                        PUCHAR SendBuffer, SIZE_T SendBufferSize,
                                        PUCHAR ReceiveBuffer, SIZE_T ReceiveBufferSize,
                                        PSIZE_T ReceiveDataSize, PULONG OperationStatus);
HRESULT WINAPI EngineAdapterControlUnitPrivileged(PWINBIO_PIPELINE Pipeline, ULONG ControlCode,
                                                  PUCHAR SendBuffer, SIZE_T SendBufferSize,
                                                  PUCHAR ReceiveBuffer, SIZE_T ReceiveBufferSize,
                                                  PSIZE_T ReceiveDataSize, PULONG OperationStatus);

// Sample acceptance and engine data export (sample_acceptance.cc).
HRESULT WINAPI EngineAdapterAcceptSampleData(PWINBIO_PIPELINE Pipeline, PWINBIO_BIR SampleBuffer,
                                             SIZE_T SampleSize, WINBIO_BIR_PURPOSE Purpose,
                                             PWINBIO_REJECT_DETAIL RejectDetail);
HRESULT WINAPI EngineAdapterExportEngineData(PWINBIO_PIPELINE Pipeline, WINBIO_BIR_DATA_FLAGS Flags,
                                             PWINBIO_BIR* SampleBuffer, PSIZE_T SampleSize);

// Enrollment (enrollment.cc) and the duplicate check (duplicate_check.cc).
HRESULT WINAPI EngineAdapterCreateEnrollment(PWINBIO_PIPELINE Pipeline);
HRESULT WINAPI EngineAdapterUpdateEnrollment(PWINBIO_PIPELINE Pipeline,
                                             PWINBIO_REJECT_DETAIL RejectDetail);
HRESULT WINAPI EngineAdapterGetEnrollmentStatus(PWINBIO_PIPELINE Pipeline,
                                                PWINBIO_REJECT_DETAIL RejectDetail);
HRESULT WINAPI EngineAdapterCheckForDuplicate(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                              PWINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                              PBOOLEAN Duplicate);
HRESULT WINAPI EngineAdapterCommitEnrollment(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                             WINBIO_BIOMETRIC_SUBTYPE SubFactor, PUCHAR PayloadBlob,
                                             SIZE_T PayloadBlobSize);
HRESULT WINAPI EngineAdapterDiscardEnrollment(PWINBIO_PIPELINE Pipeline);

// Verification and identification (matching_decisions.cc).
HRESULT WINAPI EngineAdapterVerifyFeatureSet(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                             WINBIO_BIOMETRIC_SUBTYPE SubFactor, PBOOLEAN Match,
                                             PUCHAR* PayloadBlob, PSIZE_T PayloadBlobSize,
                                             PUCHAR* HashValue, PSIZE_T HashSize,
                                             PWINBIO_REJECT_DETAIL RejectDetail);
HRESULT WINAPI EngineAdapterIdentifyFeatureSet(PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity,
                                               PWINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                               PUCHAR* PayloadBlob, PSIZE_T PayloadBlobSize,
                                               PUCHAR* HashValue, PSIZE_T HashSize,
                                               PWINBIO_REJECT_DETAIL RejectDetail);

}  // namespace ridgeline
