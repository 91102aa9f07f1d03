// Sample acceptance and engine data export: the service hands in a record holding one finger
// image; the adapter checks it, resamples it, tests its grey levels, extracts its features and
// keeps them as the current sample, with a copy of the record for export.
#include "adapter/sample_acceptance.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "adapter/bir_reader.h"
#include "adapter/engine_context.h"
#include "adapter/entry_points.h"
#include "adapter/secure_clear.h"
#include "core/trace_log.h"
#include "engine/engine_settings.h"
#include "extract/check_image.h"
#include "extract/features_extraction.h"
#include "extract/resample_image.h"

namespace ridgeline {
namespace {

// An export must name a processing level, and raw data goes out neither private nor signed
// for integrity.
bool ExportFlagsValid(WINBIO_BIR_DATA_FLAGS flags) {
  constexpr WINBIO_BIR_DATA_FLAGS kLevels =
      WINBIO_DATA_FLAG_RAW | WINBIO_DATA_FLAG_INTERMEDIATE | WINBIO_DATA_FLAG_PROCESSED;
  if ((flags & kLevels) == 0) return false;
  if ((flags & WINBIO_DATA_FLAG_RAW) != 0 &&
      (flags & (WINBIO_DATA_FLAG_PRIVACY | WINBIO_DATA_FLAG_INTEGRITY)) != 0) {
    return false;
  }
  return true;
}

// Steps of an acceptance once the arguments are known good and the previous sample is gone.
// Owns nothing: the caller frees what the out-parameters hold.
HRESULT PrepareAndExtract(EngineContext* context, std::span<const uint8_t> sample,
                          PWINBIO_REJECT_DETAIL RejectDetail, const SampleAcceptanceHooks& hooks,
                          FeatureSet** featureSet, FeatureSummary** summary, GrayImage* image) {
  SampleRecord record{};
  switch (ReadSampleRecord(sample, &record)) {
    case SampleRecordStatus::kOk:
      break;
    case SampleRecordStatus::kMalformed:
      TraceLog("EngineAdapterAcceptSampleData invalid record\n");
      return E_INVALIDARG;
    case SampleRecordStatus::kWrongFormat:
      TraceLog("EngineAdapterAcceptSampleData image data format error\n");
      return E_INVALIDARG;
    case SampleRecordStatus::kWrongBiometricType:
      TraceLog("EngineAdapterAcceptSampleData image type not supported\n");
      return WINBIO_E_UNSUPPORTED_DATA_FORMAT;
    case SampleRecordStatus::kCompressed:
      TraceLog("EngineAdapterAcceptSampleData image compression not supported\n");
      return WINBIO_E_UNSUPPORTED_DATA_FORMAT;
  }

  const int width = ResampledSide(record.width);
  const int height = ResampledSide(record.height);
  // Beyond this side the resampler's fixed-point positions would overflow; such an image is
  // far larger than any the extraction accepts.
  if (std::max(width, height) > MaxResampleSide(kSensorResolution, kEngineResolution)) {
    TraceLog("EngineAdapterAcceptSampleData image too large\n");
    return E_INVALIDARG;
  }
  *image = AllocGrayImage(width, height);
  if (*image == nullptr) {
    TraceLog("EngineAdapterAcceptSampleData case#8\n");
    return E_OUTOFMEMORY;
  }
  TraceLog("EngineAdapterAcceptSampleData width=%d, height=%d\n", record.width, record.height);
  TraceLog("       SourceResolution=%d, TargetResolution=%d\n", kSensorResolution,
           kEngineResolution);
  if (!ResampleImage(record.pixels.data(), record.width, record.height, kSensorResolution, *image,
                     width, height, kEngineResolution)) {
    return E_OUTOFMEMORY;
  }

  TraceLog("EngineAdapterAcceptSampleData CheckImage...\n");
  if (!CheckImage(*image, width, height)) {
    TraceLog("EngineAdapterAcceptSampleData CheckImage failed\n");
    *RejectDetail = kRejectDetailBadCapture;
    return WINBIO_E_BAD_CAPTURE;
  }

  TraceLog("EngineAdapterAcceptSampleData FeaturesExtractionEx...\n");
  const int extracted = hooks.Extract(
      &context->EngineParams, width, height, *image, kExtractionResolutionPercent, *featureSet,
      *summary, static_cast<int32_t>(context->TemplateCapacity), kExtractionQualityType);
  // A failed extraction is no error of the call: it leaves no current sample, and the next
  // enrollment or comparison reports the bad capture.
  if (extracted == 0) return S_OK;
  TraceLog("EngineAdapterAcceptSampleData FeaturesExtractionEx successful\n");

  // The copy is made before anything is handed over, so a failure leaves nothing half-stored.
  auto* kept = static_cast<uint8_t*>(hooks.AllocKeptCopy(record.keptLength));
  if (kept == nullptr) return E_OUTOFMEMORY;
  std::memcpy(kept, sample.data(), record.keptLength);
  context->pBirSampleLast = kept;
  context->pFPData = *featureSet;
  context->pFPSummary = *summary;
  *featureSet = nullptr;
  *summary = nullptr;
  return S_OK;
}

}  // namespace

namespace {

// The service hands the adapter one capture at a time: the extraction takes the second core.
// Except in the Windows DLL: there the loader calls DllMain, which traces every call, for each
// thread the DLL starts and ends, so a worker thread would add lines to the trace.
int ExtractInCaptureBands(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                          int32_t resolutionPercent, FeatureSet* featureSet,
                          FeatureSummary* featureSummary, int32_t templateBudget, int32_t type) {
#ifdef _WIN32
  const int bands = 1;
#else
  const int bands = CaptureExtractionBands();
#endif
  return FeaturesExtractionInBands(params, width, height, image, resolutionPercent, featureSet,
                                   featureSummary, templateBudget, type, bands);
}

}  // namespace

const SampleAcceptanceHooks kSystemSampleAcceptance = {ExtractInCaptureBands, std::malloc};

HRESULT AcceptSample(PWINBIO_PIPELINE Pipeline, PWINBIO_BIR SampleBuffer, SIZE_T SampleSize,
                     WINBIO_BIR_PURPOSE Purpose, PWINBIO_REJECT_DETAIL RejectDetail,
                     const SampleAcceptanceHooks& hooks) {
  TraceLog("EngineAdapterAcceptSampleData\n");
  HRESULT hr = S_OK;
  if (Pipeline == nullptr || SampleBuffer == nullptr || RejectDetail == nullptr) {
    TraceLog("EngineAdapterAcceptSampleData invalid parameter\n");
    hr = E_POINTER;
  } else if (Pipeline->EngineContext == nullptr || SampleSize == 0 ||
             Purpose == WINBIO_NO_PURPOSE_AVAILABLE) {
    TraceLog("EngineAdapterAcceptSampleData invalid data\n");
    hr = E_INVALIDARG;
  } else {
    EngineContext* context = Pipeline->EngineContext;
    _SecureClearBuffers(context, /*keepEnrollment=*/true);
    FeatureSet* feature_set = nullptr;
    FeatureSummary* summary = nullptr;
    if (!AllocFeatureRecords(&feature_set, &summary)) {
      hr = E_OUTOFMEMORY;
    } else {
      GrayImage image = nullptr;
      const std::span<const uint8_t> sample(reinterpret_cast<const uint8_t*>(SampleBuffer),
                                            SampleSize);
      hr = PrepareAndExtract(context, sample, RejectDetail, hooks, &feature_set, &summary, &image);
      if (image != nullptr) {
        TraceLog("EngineAdapterAcceptSampleData free buf_img\n");
        FreeGrayImage(image);
      }
      // A pair not handed over may hold a failed extraction's features: wipe it too.
      if (feature_set != nullptr) _SecureClearFeaturePair(&feature_set, &summary);
    }
  }
  TraceLog("EngineAdapterAcceptSampleData done hr = 0x%x\n", static_cast<unsigned>(hr));
  return hr;
}

HRESULT WINAPI EngineAdapterAcceptSampleData(PWINBIO_PIPELINE Pipeline, PWINBIO_BIR SampleBuffer,
                                             SIZE_T SampleSize, WINBIO_BIR_PURPOSE Purpose,
                                             PWINBIO_REJECT_DETAIL RejectDetail) {
  return AcceptSample(Pipeline, SampleBuffer, SampleSize, Purpose, RejectDetail,
                      kSystemSampleAcceptance);
}

// SampleBuffer is the caller's buffer itself (not a place to return one): the adapter copies
// the kept record into it and never allocates for the caller. SampleSize carries its capacity.
HRESULT WINAPI EngineAdapterExportEngineData(PWINBIO_PIPELINE Pipeline, WINBIO_BIR_DATA_FLAGS Flags,
                                             PWINBIO_BIR* SampleBuffer, PSIZE_T SampleSize) {
  TraceLog("EngineAdapterExportEngineData(%p,0x%x,%p,%p(%lu))\n", static_cast<void*>(Pipeline),
           static_cast<unsigned>(Flags), static_cast<void*>(SampleBuffer),
           static_cast<void*>(SampleSize),
           static_cast<unsigned long>(SampleSize != nullptr ? *SampleSize : 0));
  HRESULT hr = S_OK;
  if (Pipeline == nullptr || SampleBuffer == nullptr || SampleSize == nullptr) {
    TraceLog("EA_ED_2 EngineAdapterExportEngineData NULL values\n");
    hr = E_POINTER;
  } else if (Pipeline->EngineContext == nullptr) {
    TraceLog("EngineAdapterExportEngineData context NULL\n");
    hr = WINBIO_E_INVALID_DEVICE_STATE;
  } else if (Pipeline->EngineContext->pBirSampleLast == nullptr) {
    TraceLog("EngineAdapterExportEngineData No previous data\n");
    hr = WINBIO_E_INVALID_DEVICE_STATE;
  } else {
    const uint8_t* kept = Pipeline->EngineContext->pBirSampleLast;
    const std::size_t needed = KeptBirLength(kept);
    if (*SampleSize < needed) {
      *SampleSize = needed;
      TraceLog("EngineAdapterExportEngineData buffer too small - must be at least %lu\n",
               static_cast<unsigned long>(needed));
      hr = E_INVALIDARG;
    } else if (!ExportFlagsValid(Flags)) {
      hr = E_INVALIDARG;
    } else {
      std::memcpy(reinterpret_cast<uint8_t*>(SampleBuffer), kept, needed);
    }
  }
  TraceLog("EngineAdapterExportEngineData done (0x%x)\n", static_cast<unsigned>(hr));
  return hr;
}

}  // namespace ridgeline
