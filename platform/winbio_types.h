// The biometric framework's types, constants, record layouts and adapter interface tables, as
// the engine adapter sees them. Sizes and field offsets are those of 64-bit Windows; the
// static_asserts at the end refuse to compile any other layout. Natural alignment throughout:
// nothing here is packed. Byte buffers from outside are read at these offsets with memcpy-based
// little-endian reads, never through casts to these structures.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

namespace ridgeline {
struct EngineContext;  // the engine's per-unit state; only its pointer travels in the pipeline
}

typedef ULONG32 WINBIO_BIOMETRIC_TYPE;
typedef UCHAR WINBIO_BIOMETRIC_SUBTYPE;
typedef UCHAR WINBIO_BIR_PURPOSE;
typedef UCHAR WINBIO_BIR_DATA_FLAGS;
typedef UCHAR WINBIO_BIR_VERSION;
typedef int8_t WINBIO_BIR_QUALITY;  // signed: CHAR
typedef ULONG WINBIO_REJECT_DETAIL;
typedef ULONG WINBIO_IDENTITY_TYPE;
typedef ULONG WINBIO_ADAPTER_TYPE;
typedef GUID WINBIO_UUID;

typedef WINBIO_BIOMETRIC_SUBTYPE* PWINBIO_BIOMETRIC_SUBTYPE;
typedef WINBIO_REJECT_DETAIL* PWINBIO_REJECT_DETAIL;
typedef WINBIO_UUID* PWINBIO_UUID;

// Framework result codes (facility 9).
constexpr HRESULT WINBIO_I_MORE_DATA = static_cast<HRESULT>(0x00090001u);
constexpr HRESULT WINBIO_E_UNKNOWN_ID = static_cast<HRESULT>(0x80098003u);
constexpr HRESULT WINBIO_E_NO_MATCH = static_cast<HRESULT>(0x80098005u);
constexpr HRESULT WINBIO_E_ENROLLMENT_IN_PROGRESS = static_cast<HRESULT>(0x80098007u);
constexpr HRESULT WINBIO_E_BAD_CAPTURE = static_cast<HRESULT>(0x80098008u);
constexpr HRESULT WINBIO_E_UNSUPPORTED_DATA_FORMAT = static_cast<HRESULT>(0x8009800Cu);
constexpr HRESULT WINBIO_E_INVALID_DEVICE_STATE = static_cast<HRESULT>(0x8009800Fu);
constexpr HRESULT WINBIO_E_DATABASE_NO_RESULTS = static_cast<HRESULT>(0x8009801Fu);
constexpr HRESULT WINBIO_E_DATABASE_NO_MORE_RECORDS = static_cast<HRESULT>(0x80098020u);

constexpr WINBIO_BIOMETRIC_TYPE WINBIO_TYPE_FINGERPRINT = 0x00000008;
constexpr WINBIO_BIOMETRIC_SUBTYPE WINBIO_SUBTYPE_NO_INFORMATION = 0x00;
constexpr WINBIO_BIOMETRIC_SUBTYPE WINBIO_SUBTYPE_ANY = 0xFF;

constexpr WINBIO_ADAPTER_TYPE WINBIO_ADAPTER_TYPE_SENSOR = 1;
constexpr WINBIO_ADAPTER_TYPE WINBIO_ADAPTER_TYPE_ENGINE = 2;
constexpr WINBIO_ADAPTER_TYPE WINBIO_ADAPTER_TYPE_STORAGE = 3;

constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_INTEGRITY = 0x01;
constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_PRIVACY = 0x02;
constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_SIGNED = 0x04;
constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_OPTION_MASK_PRESENT = 0x08;
constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_RAW = 0x20;
constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_INTERMEDIATE = 0x40;
constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_PROCESSED = 0x80;

constexpr WINBIO_IDENTITY_TYPE WINBIO_ID_TYPE_NULL = 0;
constexpr WINBIO_IDENTITY_TYPE WINBIO_ID_TYPE_WILDCARD = 1;
constexpr WINBIO_IDENTITY_TYPE WINBIO_ID_TYPE_GUID = 2;
constexpr WINBIO_IDENTITY_TYPE WINBIO_ID_TYPE_SID = 3;
constexpr WINBIO_IDENTITY_TYPE WINBIO_ID_TYPE_SECURE_ID = 4;
constexpr ULONG WINBIO_IDENTITY_WILDCARD = 0x25066282;
// The Windows headers define SECURITY_MAX_SID_SIZE as a macro of the same value.
#ifndef SECURITY_MAX_SID_SIZE
constexpr std::size_t SECURITY_MAX_SID_SIZE = 68;
#endif
static_assert(SECURITY_MAX_SID_SIZE == 68);
constexpr std::size_t WINBIO_IDENTITY_SECURE_ID_SIZE = 32;

constexpr WINBIO_BIR_PURPOSE WINBIO_NO_PURPOSE_AVAILABLE = 0x00;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_VERIFY = 0x01;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_IDENTIFY = 0x02;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_ENROLL = 0x04;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_ENROLL_FOR_VERIFICATION = 0x08;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_ENROLL_FOR_IDENTIFICATION = 0x10;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_AUDIT = 0x80;

constexpr USHORT WINBIO_ANSI_381_FORMAT_OWNER = 0x001B;
constexpr USHORT WINBIO_ANSI_381_FORMAT_TYPE = 0x0401;
constexpr UCHAR WINBIO_ANSI_381_IMG_UNCOMPRESSED = 0;

constexpr WINBIO_REJECT_DETAIL WINBIO_FP_TOO_HIGH = 1;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_TOO_LOW = 2;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_TOO_LEFT = 3;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_TOO_RIGHT = 4;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_TOO_FAST = 5;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_TOO_SLOW = 6;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_POOR_QUALITY = 7;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_TOO_SKEWED = 8;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_TOO_SHORT = 9;
constexpr WINBIO_REJECT_DETAIL WINBIO_FP_MERGE_FAILURE = 10;

namespace ridgeline {
// The one reject detail this engine reports, for every bad capture. The framework's public
// list of fingerprint reject details stops at 10, so the value has no public name.
constexpr WINBIO_REJECT_DETAIL kRejectDetailBadCapture = 12;
}  // namespace ridgeline

struct WINBIO_ADAPTER_INTERFACE_VERSION {
  USHORT MajorVersion;
  USHORT MinorVersion;
};

struct WINBIO_REGISTERED_FORMAT {
  USHORT Owner;
  USHORT Type;
};
typedef WINBIO_REGISTERED_FORMAT* PWINBIO_REGISTERED_FORMAT;

struct WINBIO_IDENTITY {
  WINBIO_IDENTITY_TYPE Type;
  union {
    ULONG Null;
    ULONG Wildcard;
    GUID TemplateGuid;
    struct {
      ULONG Size;
      UCHAR Data[SECURITY_MAX_SID_SIZE];
    } AccountSid;
    UCHAR SecureId[WINBIO_IDENTITY_SECURE_ID_SIZE];
  } Value;
};
typedef WINBIO_IDENTITY* PWINBIO_IDENTITY;

// A block descriptor of a BIR; Offset counts from the start of the WINBIO_BIR.
struct WINBIO_BIR_DATA {
  ULONG Size;
  ULONG Offset;
};

struct WINBIO_BIR {
  WINBIO_BIR_DATA HeaderBlock;
  WINBIO_BIR_DATA StandardDataBlock;
  WINBIO_BIR_DATA VendorDataBlock;
  WINBIO_BIR_DATA SignatureBlock;
};
typedef WINBIO_BIR* PWINBIO_BIR;

struct WINBIO_BIR_HEADER {
  USHORT ValidFields;
  WINBIO_BIR_VERSION HeaderVersion;
  WINBIO_BIR_VERSION PatronHeaderVersion;
  WINBIO_BIR_DATA_FLAGS DataFlags;
  WINBIO_BIOMETRIC_TYPE Type;
  WINBIO_BIOMETRIC_SUBTYPE Subtype;
  WINBIO_BIR_PURPOSE Purpose;
  WINBIO_BIR_QUALITY DataQuality;
  LARGE_INTEGER CreationDate;
  struct {
    LARGE_INTEGER BeginDate;
    LARGE_INTEGER EndDate;
  } ValidityPeriod;
  WINBIO_REGISTERED_FORMAT BiometricDataFormat;
  WINBIO_REGISTERED_FORMAT ProductId;
};

// The framework's native (little-endian, aligned) form of the finger image record header, not
// the big-endian wire record.
struct WINBIO_BDB_ANSI_381_HEADER {
  ULONG64 RecordLength;
  ULONG FormatIdentifier;
  ULONG VersionNumber;
  WINBIO_REGISTERED_FORMAT ProductId;
  USHORT CaptureDeviceId;
  USHORT ImageAcquisitionLevel;
  USHORT HorizontalScanResolution;
  USHORT VerticalScanResolution;
  USHORT HorizontalImageResolution;
  USHORT VerticalImageResolution;
  UCHAR ElementCount;
  UCHAR ScaleUnits;
  UCHAR PixelDepth;
  UCHAR ImageCompressionAlg;
  USHORT Reserved;
};

struct WINBIO_BDB_ANSI_381_RECORD {
  ULONG BlockLength;
  USHORT HorizontalLineLength;
  USHORT VerticalLineLength;
  WINBIO_BIOMETRIC_SUBTYPE Position;
  UCHAR CountOfViews;
  UCHAR ViewNumber;
  UCHAR ImageQuality;
  UCHAR ImpressionType;
  UCHAR Reserved;
};

struct WINBIO_STORAGE_RECORD {
  PWINBIO_IDENTITY Identity;
  WINBIO_BIOMETRIC_SUBTYPE SubFactor;
  PULONG IndexVector;
  SIZE_T IndexElementCount;
  PUCHAR TemplateBlob;
  SIZE_T TemplateBlobSize;
  PUCHAR PayloadBlob;
  SIZE_T PayloadBlobSize;
};
typedef WINBIO_STORAGE_RECORD* PWINBIO_STORAGE_RECORD;

struct WINBIO_ENGINE_INTERFACE;
struct WINBIO_STORAGE_INTERFACE;
struct WINBIO_SENSOR_INTERFACE;     // never used by the engine
struct WINBIO_FRAMEWORK_INTERFACE;  // never used by the engine
typedef WINBIO_ENGINE_INTERFACE* PWINBIO_ENGINE_INTERFACE;
typedef WINBIO_STORAGE_INTERFACE* PWINBIO_STORAGE_INTERFACE;
typedef WINBIO_SENSOR_INTERFACE* PWINBIO_SENSOR_INTERFACE;
typedef WINBIO_FRAMEWORK_INTERFACE* PWINBIO_FRAMEWORK_INTERFACE;

// One biometric unit as the service hands it to every entry point. The engine reads and writes
// only EngineHandle, EngineContext and StorageInterface; the service owns the structure.
struct WINBIO_PIPELINE {
  HANDLE SensorHandle;
  HANDLE EngineHandle;
  HANDLE StorageHandle;
  PWINBIO_SENSOR_INTERFACE SensorInterface;
  PWINBIO_ENGINE_INTERFACE EngineInterface;
  PWINBIO_STORAGE_INTERFACE StorageInterface;
  void* SensorContext;
  ridgeline::EngineContext* EngineContext;
  void* StorageContext;
  PWINBIO_FRAMEWORK_INTERFACE FrameworkInterface;
};
typedef WINBIO_PIPELINE* PWINBIO_PIPELINE;

// Engine adapter slots, in table order.
typedef HRESULT(WINAPI* PIBIO_ENGINE_ATTACH_FN)(PWINBIO_PIPELINE Pipeline);
typedef HRESULT(WINAPI* PIBIO_ENGINE_DETACH_FN)(PWINBIO_PIPELINE Pipeline);
typedef HRESULT(WINAPI* PIBIO_ENGINE_CLEAR_CONTEXT_FN)(PWINBIO_PIPELINE Pipeline);
typedef HRESULT(WINAPI* PIBIO_ENGINE_QUERY_PREFERRED_FORMAT_FN)(
    PWINBIO_PIPELINE Pipeline, PWINBIO_REGISTERED_FORMAT StandardFormat, PWINBIO_UUID VendorFormat);
typedef HRESULT(WINAPI* PIBIO_ENGINE_QUERY_INDEX_VECTOR_SIZE_FN)(PWINBIO_PIPELINE Pipeline,
                                                                 PSIZE_T IndexElementCount);
typedef HRESULT(WINAPI* PIBIO_ENGINE_QUERY_HASH_ALGORITHMS_FN)(PWINBIO_PIPELINE Pipeline,
                                                               PSIZE_T AlgorithmCount,
                                                               PSIZE_T AlgorithmBufferSize,
                                                               PUCHAR* AlgorithmBuffer);
typedef HRESULT(WINAPI* PIBIO_ENGINE_SET_HASH_ALGORITHM_FN)(PWINBIO_PIPELINE Pipeline,
                                                            SIZE_T AlgorithmBufferSize,
                                                            PUCHAR AlgorithmBuffer);
typedef HRESULT(WINAPI* PIBIO_ENGINE_QUERY_SAMPLE_HINT_FN)(PWINBIO_PIPELINE Pipeline,
                                                           PSIZE_T SampleHint);
typedef HRESULT(WINAPI* PIBIO_ENGINE_ACCEPT_SAMPLE_DATA_FN)(PWINBIO_PIPELINE Pipeline,
                                                            PWINBIO_BIR SampleBuffer,
                                                            SIZE_T SampleSize,
                                                            WINBIO_BIR_PURPOSE Purpose,
                                                            PWINBIO_REJECT_DETAIL RejectDetail);
typedef HRESULT(WINAPI* PIBIO_ENGINE_EXPORT_ENGINE_DATA_FN)(PWINBIO_PIPELINE Pipeline,
                                                            WINBIO_BIR_DATA_FLAGS Flags,
                                                            PWINBIO_BIR* SampleBuffer,
                                                            PSIZE_T SampleSize);
typedef HRESULT(WINAPI* PIBIO_ENGINE_VERIFY_FEATURE_SET_FN)(
    PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity, WINBIO_BIOMETRIC_SUBTYPE SubFactor,
    PBOOLEAN Match, PUCHAR* PayloadBlob, PSIZE_T PayloadBlobSize, PUCHAR* HashValue,
    PSIZE_T HashSize, PWINBIO_REJECT_DETAIL RejectDetail);
typedef HRESULT(WINAPI* PIBIO_ENGINE_IDENTIFY_FEATURE_SET_FN)(
    PWINBIO_PIPELINE Pipeline, PWINBIO_IDENTITY Identity, PWINBIO_BIOMETRIC_SUBTYPE SubFactor,
    PUCHAR* PayloadBlob, PSIZE_T PayloadBlobSize, PUCHAR* HashValue, PSIZE_T HashSize,
    PWINBIO_REJECT_DETAIL RejectDetail);
typedef HRESULT(WINAPI* PIBIO_ENGINE_CREATE_ENROLLMENT_FN)(PWINBIO_PIPELINE Pipeline);
typedef HRESULT(WINAPI* PIBIO_ENGINE_UPDATE_ENROLLMENT_FN)(PWINBIO_PIPELINE Pipeline,
                                                           PWINBIO_REJECT_DETAIL RejectDetail);
typedef HRESULT(WINAPI* PIBIO_ENGINE_GET_ENROLLMENT_STATUS_FN)(PWINBIO_PIPELINE Pipeline,
                                                               PWINBIO_REJECT_DETAIL RejectDetail);
typedef HRESULT(WINAPI* PIBIO_ENGINE_GET_ENROLLMENT_HASH_FN)(PWINBIO_PIPELINE Pipeline,
                                                             PUCHAR* HashValue, PSIZE_T HashSize);
typedef HRESULT(WINAPI* PIBIO_ENGINE_CHECK_FOR_DUPLICATE_FN)(PWINBIO_PIPELINE Pipeline,
                                                             PWINBIO_IDENTITY Identity,
                                                             PWINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                                             PBOOLEAN Duplicate);
typedef HRESULT(WINAPI* PIBIO_ENGINE_COMMIT_ENROLLMENT_FN)(PWINBIO_PIPELINE Pipeline,
                                                           PWINBIO_IDENTITY Identity,
                                                           WINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                                           PUCHAR PayloadBlob,
                                                           SIZE_T PayloadBlobSize);
typedef HRESULT(WINAPI* PIBIO_ENGINE_DISCARD_ENROLLMENT_FN)(PWINBIO_PIPELINE Pipeline);
typedef HRESULT(WINAPI* PIBIO_ENGINE_CONTROL_UNIT_FN)(PWINBIO_PIPELINE Pipeline, ULONG ControlCode,
                                                      PUCHAR SendBuffer, SIZE_T SendBufferSize,
                                                      PUCHAR ReceiveBuffer,
                                                      SIZE_T ReceiveBufferSize,
                                                      PSIZE_T ReceiveDataSize,
                                                      PULONG OperationStatus);
typedef HRESULT(WINAPI* PIBIO_ENGINE_CONTROL_UNIT_PRIVILEGED_FN)(
    PWINBIO_PIPELINE Pipeline, ULONG ControlCode, PUCHAR SendBuffer, SIZE_T SendBufferSize,
    PUCHAR ReceiveBuffer, SIZE_T ReceiveBufferSize, PSIZE_T ReceiveDataSize,
    PULONG OperationStatus);
// Slots of later interface versions, always null in this adapter. Every function pointer is
// 8 bytes, so one placeholder type keeps the layout.
typedef HRESULT(WINAPI* PIBIO_ENGINE_UNUSED_SLOT_FN)(PWINBIO_PIPELINE Pipeline);

// The first 32 bytes of every adapter interface table.
#define RIDGELINE_WINBIO_INTERFACE_HEADER   \
  WINBIO_ADAPTER_INTERFACE_VERSION Version; \
  WINBIO_ADAPTER_TYPE Type;                 \
  SIZE_T Size;                              \
  GUID AdapterId

struct WINBIO_ENGINE_INTERFACE {
  RIDGELINE_WINBIO_INTERFACE_HEADER;
  // Version 1.0
  PIBIO_ENGINE_ATTACH_FN Attach;
  PIBIO_ENGINE_DETACH_FN Detach;
  PIBIO_ENGINE_CLEAR_CONTEXT_FN ClearContext;
  PIBIO_ENGINE_QUERY_PREFERRED_FORMAT_FN QueryPreferredFormat;
  PIBIO_ENGINE_QUERY_INDEX_VECTOR_SIZE_FN QueryIndexVectorSize;
  PIBIO_ENGINE_QUERY_HASH_ALGORITHMS_FN QueryHashAlgorithms;
  PIBIO_ENGINE_SET_HASH_ALGORITHM_FN SetHashAlgorithm;
  PIBIO_ENGINE_QUERY_SAMPLE_HINT_FN QuerySampleHint;
  PIBIO_ENGINE_ACCEPT_SAMPLE_DATA_FN AcceptSampleData;
  PIBIO_ENGINE_EXPORT_ENGINE_DATA_FN ExportEngineData;
  PIBIO_ENGINE_VERIFY_FEATURE_SET_FN VerifyFeatureSet;
  PIBIO_ENGINE_IDENTIFY_FEATURE_SET_FN IdentifyFeatureSet;
  PIBIO_ENGINE_CREATE_ENROLLMENT_FN CreateEnrollment;
  PIBIO_ENGINE_UPDATE_ENROLLMENT_FN UpdateEnrollment;
  PIBIO_ENGINE_GET_ENROLLMENT_STATUS_FN GetEnrollmentStatus;
  PIBIO_ENGINE_GET_ENROLLMENT_HASH_FN GetEnrollmentHash;
  PIBIO_ENGINE_CHECK_FOR_DUPLICATE_FN CheckForDuplicate;
  PIBIO_ENGINE_COMMIT_ENROLLMENT_FN CommitEnrollment;
  PIBIO_ENGINE_DISCARD_ENROLLMENT_FN DiscardEnrollment;
  PIBIO_ENGINE_CONTROL_UNIT_FN ControlUnit;
  PIBIO_ENGINE_CONTROL_UNIT_PRIVILEGED_FN ControlUnitPrivileged;
  // Version 2.0
  PIBIO_ENGINE_UNUSED_SLOT_FN NotifyPowerChange;
  PIBIO_ENGINE_UNUSED_SLOT_FN Reserved_1;
  // Version 3.0
  PIBIO_ENGINE_UNUSED_SLOT_FN PipelineInit;
  PIBIO_ENGINE_UNUSED_SLOT_FN PipelineCleanup;
  PIBIO_ENGINE_UNUSED_SLOT_FN Activate;
  PIBIO_ENGINE_UNUSED_SLOT_FN Deactivate;
  PIBIO_ENGINE_UNUSED_SLOT_FN QueryExtendedInfo;
  PIBIO_ENGINE_UNUSED_SLOT_FN IdentifyAll;
  PIBIO_ENGINE_UNUSED_SLOT_FN SetEnrollmentSelector;
  PIBIO_ENGINE_UNUSED_SLOT_FN SetEnrollmentParameters;
  PIBIO_ENGINE_UNUSED_SLOT_FN QueryExtendedEnrollmentStatus;
  PIBIO_ENGINE_UNUSED_SLOT_FN RefreshCache;
  PIBIO_ENGINE_UNUSED_SLOT_FN SelectCalibrationFormat;
  PIBIO_ENGINE_UNUSED_SLOT_FN QueryCalibrationData;
  PIBIO_ENGINE_UNUSED_SLOT_FN SetAccountPolicy;
  // Version 4.0
  PIBIO_ENGINE_UNUSED_SLOT_FN CreateKey;
  PIBIO_ENGINE_UNUSED_SLOT_FN IdentifyFeatureSetSecure;
  // Version 5.0
  PIBIO_ENGINE_UNUSED_SLOT_FN AcceptPrivateSensorTypeInfo;
  // Version 6.0
  PIBIO_ENGINE_UNUSED_SLOT_FN CreateEnrollmentAuthenticated;
  PIBIO_ENGINE_UNUSED_SLOT_FN IdentifyFeatureSetAuthenticated;
};

typedef HRESULT(WINAPI* PWINBIO_QUERY_ENGINE_INTERFACE_FN)(
    PWINBIO_ENGINE_INTERFACE* EngineInterface);
#define WINBIO_QUERY_ENGINE_INTERFACE_FN_NAME "WbioQueryEngineInterface"

// Storage adapter slots that the engine calls.
typedef HRESULT(WINAPI* PIBIO_STORAGE_ADD_RECORD_FN)(PWINBIO_PIPELINE Pipeline,
                                                     PWINBIO_STORAGE_RECORD RecordContents);
typedef HRESULT(WINAPI* PIBIO_STORAGE_QUERY_BY_SUBJECT_FN)(PWINBIO_PIPELINE Pipeline,
                                                           PWINBIO_IDENTITY Identity,
                                                           WINBIO_BIOMETRIC_SUBTYPE SubFactor);
typedef HRESULT(WINAPI* PIBIO_STORAGE_QUERY_BY_CONTENT_FN)(PWINBIO_PIPELINE Pipeline,
                                                           WINBIO_BIOMETRIC_SUBTYPE SubFactor,
                                                           ULONG IndexVector[],
                                                           SIZE_T IndexElementCount);
typedef HRESULT(WINAPI* PIBIO_STORAGE_GET_RECORD_COUNT_FN)(PWINBIO_PIPELINE Pipeline,
                                                           PSIZE_T RecordCount);
typedef HRESULT(WINAPI* PIBIO_STORAGE_FIRST_RECORD_FN)(PWINBIO_PIPELINE Pipeline);
typedef HRESULT(WINAPI* PIBIO_STORAGE_NEXT_RECORD_FN)(PWINBIO_PIPELINE Pipeline);
typedef HRESULT(WINAPI* PIBIO_STORAGE_GET_CURRENT_RECORD_FN)(PWINBIO_PIPELINE Pipeline,
                                                             PWINBIO_STORAGE_RECORD RecordContents);
// Slots the engine never calls; one placeholder type keeps the layout.
typedef HRESULT(WINAPI* PIBIO_STORAGE_UNUSED_SLOT_FN)(PWINBIO_PIPELINE Pipeline);

struct WINBIO_STORAGE_INTERFACE {
  RIDGELINE_WINBIO_INTERFACE_HEADER;
  // Version 1.0
  PIBIO_STORAGE_UNUSED_SLOT_FN Attach;
  PIBIO_STORAGE_UNUSED_SLOT_FN Detach;
  PIBIO_STORAGE_UNUSED_SLOT_FN ClearContext;
  PIBIO_STORAGE_UNUSED_SLOT_FN CreateDatabase;
  PIBIO_STORAGE_UNUSED_SLOT_FN EraseDatabase;
  PIBIO_STORAGE_UNUSED_SLOT_FN OpenDatabase;
  PIBIO_STORAGE_UNUSED_SLOT_FN CloseDatabase;
  PIBIO_STORAGE_UNUSED_SLOT_FN GetDataFormat;
  PIBIO_STORAGE_UNUSED_SLOT_FN GetDatabaseSize;
  PIBIO_STORAGE_ADD_RECORD_FN AddRecord;
  PIBIO_STORAGE_UNUSED_SLOT_FN DeleteRecord;
  PIBIO_STORAGE_QUERY_BY_SUBJECT_FN QueryBySubject;
  PIBIO_STORAGE_QUERY_BY_CONTENT_FN QueryByContent;
  PIBIO_STORAGE_GET_RECORD_COUNT_FN GetRecordCount;
  PIBIO_STORAGE_FIRST_RECORD_FN FirstRecord;
  PIBIO_STORAGE_NEXT_RECORD_FN NextRecord;
  PIBIO_STORAGE_GET_CURRENT_RECORD_FN GetCurrentRecord;
  PIBIO_STORAGE_UNUSED_SLOT_FN ControlUnit;
  PIBIO_STORAGE_UNUSED_SLOT_FN ControlUnitPrivileged;
  // Version 2.0
  PIBIO_STORAGE_UNUSED_SLOT_FN NotifyPowerChange;
  // Version 3.0
  PIBIO_STORAGE_UNUSED_SLOT_FN PipelineInit;
  PIBIO_STORAGE_UNUSED_SLOT_FN PipelineCleanup;
  PIBIO_STORAGE_UNUSED_SLOT_FN Activate;
  PIBIO_STORAGE_UNUSED_SLOT_FN Deactivate;
  PIBIO_STORAGE_UNUSED_SLOT_FN QueryExtendedInfo;
  // Version 4.0
  PIBIO_STORAGE_UNUSED_SLOT_FN NotifyDatabaseChange;
  // Version 5.0
  PIBIO_STORAGE_UNUSED_SLOT_FN Reserved1;
  PIBIO_STORAGE_UNUSED_SLOT_FN Reserved2;
  PIBIO_STORAGE_UNUSED_SLOT_FN UpdateRecordBegin;
  PIBIO_STORAGE_UNUSED_SLOT_FN UpdateRecordCommit;
};

#undef RIDGELINE_WINBIO_INTERFACE_HEADER

// The layout of 64-bit Windows; a change that moves any field the engine or the service reads
// does not compile.
static_assert(sizeof(WINBIO_ADAPTER_INTERFACE_VERSION) == 4 &&
              sizeof(WINBIO_REGISTERED_FORMAT) == 4 && alignof(WINBIO_REGISTERED_FORMAT) == 2);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, Type) == 4 &&
              offsetof(WINBIO_ENGINE_INTERFACE, Size) == 8);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, AdapterId) == 16 &&
              offsetof(WINBIO_ENGINE_INTERFACE, Attach) == 32);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, AcceptSampleData) == 96 &&
              offsetof(WINBIO_ENGINE_INTERFACE, IdentifyFeatureSet) == 120);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, GetEnrollmentHash) == 152 &&
              offsetof(WINBIO_ENGINE_INTERFACE, DiscardEnrollment) == 176);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, ControlUnitPrivileged) == 192);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, NotifyPowerChange) == 200);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, PipelineInit) == 216 &&
              offsetof(WINBIO_ENGINE_INTERFACE, SetAccountPolicy) == 312);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, CreateKey) == 320 &&
              offsetof(WINBIO_ENGINE_INTERFACE, AcceptPrivateSensorTypeInfo) == 336);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, IdentifyFeatureSetAuthenticated) == 352);
static_assert(sizeof(WINBIO_ENGINE_INTERFACE) == 360);
static_assert(offsetof(WINBIO_PIPELINE, EngineHandle) == 8 &&
              offsetof(WINBIO_PIPELINE, StorageInterface) == 40);
static_assert(offsetof(WINBIO_PIPELINE, EngineContext) == 56 && sizeof(WINBIO_PIPELINE) == 80);
static_assert(offsetof(WINBIO_STORAGE_INTERFACE, AddRecord) == 104 &&
              offsetof(WINBIO_STORAGE_INTERFACE, QueryBySubject) == 120);
static_assert(offsetof(WINBIO_STORAGE_INTERFACE, QueryByContent) == 128 &&
              offsetof(WINBIO_STORAGE_INTERFACE, GetRecordCount) == 136);
static_assert(offsetof(WINBIO_STORAGE_INTERFACE, FirstRecord) == 144 &&
              offsetof(WINBIO_STORAGE_INTERFACE, NextRecord) == 152);
static_assert(offsetof(WINBIO_STORAGE_INTERFACE, GetCurrentRecord) == 160 &&
              sizeof(WINBIO_STORAGE_INTERFACE) == 272);
static_assert(offsetof(WINBIO_STORAGE_INTERFACE, NotifyPowerChange) == 184 &&
              offsetof(WINBIO_STORAGE_INTERFACE, NotifyDatabaseChange) == 232);
static_assert(offsetof(WINBIO_STORAGE_RECORD, SubFactor) == 8 &&
              offsetof(WINBIO_STORAGE_RECORD, IndexVector) == 16);
static_assert(offsetof(WINBIO_STORAGE_RECORD, IndexElementCount) == 24 &&
              offsetof(WINBIO_STORAGE_RECORD, TemplateBlob) == 32 &&
              offsetof(WINBIO_STORAGE_RECORD, TemplateBlobSize) == 40);
static_assert(offsetof(WINBIO_STORAGE_RECORD, PayloadBlob) == 48 &&
              offsetof(WINBIO_STORAGE_RECORD, PayloadBlobSize) == 56);
static_assert(sizeof(WINBIO_STORAGE_RECORD) == 64);
static_assert(sizeof(WINBIO_IDENTITY) == 76 && alignof(WINBIO_IDENTITY) == 4 &&
              offsetof(WINBIO_IDENTITY, Value) == 4);
static_assert(offsetof(WINBIO_IDENTITY, Value.AccountSid.Data) == 8);
static_assert(sizeof(WINBIO_BIR_DATA) == 8 && sizeof(WINBIO_BIR) == 32 &&
              alignof(WINBIO_BIR) == 4 && offsetof(WINBIO_BIR, StandardDataBlock) == 8);
static_assert(offsetof(WINBIO_BIR, HeaderBlock) + offsetof(WINBIO_BIR_DATA, Offset) == 4 &&
              offsetof(WINBIO_BIR, StandardDataBlock) + offsetof(WINBIO_BIR_DATA, Offset) == 12);
static_assert(offsetof(WINBIO_BIR_HEADER, Type) == 8 && offsetof(WINBIO_BIR_HEADER, Purpose) == 13);
static_assert(offsetof(WINBIO_BIR_HEADER, CreationDate) == 16 &&
              offsetof(WINBIO_BIR_HEADER, BiometricDataFormat) == 40);
static_assert(offsetof(WINBIO_BIR_HEADER, BiometricDataFormat) +
                  offsetof(WINBIO_REGISTERED_FORMAT, Type) ==
              42);
static_assert(offsetof(WINBIO_BIR_HEADER, ProductId) == 44 && sizeof(WINBIO_BIR_HEADER) == 48);
static_assert(offsetof(WINBIO_BDB_ANSI_381_HEADER, ImageCompressionAlg) == 35 &&
              sizeof(WINBIO_BDB_ANSI_381_HEADER) == 40);
static_assert(offsetof(WINBIO_BDB_ANSI_381_RECORD, HorizontalLineLength) == 4);
static_assert(offsetof(WINBIO_BDB_ANSI_381_RECORD, VerticalLineLength) == 6 &&
              sizeof(WINBIO_BDB_ANSI_381_RECORD) == 16);
// The standard data block is the image header, one image record, then the pixels: width at 44,
// height at 46 and pixels at 56 from the start of the block.
static_assert(sizeof(WINBIO_BDB_ANSI_381_HEADER) +
                  offsetof(WINBIO_BDB_ANSI_381_RECORD, HorizontalLineLength) ==
              44);
static_assert(sizeof(WINBIO_BDB_ANSI_381_HEADER) +
                  offsetof(WINBIO_BDB_ANSI_381_RECORD, VerticalLineLength) ==
              46);
static_assert(sizeof(WINBIO_BDB_ANSI_381_HEADER) + sizeof(WINBIO_BDB_ANSI_381_RECORD) == 56);
