// The per-unit state of the engine adapter. Attach creates one EngineContext, complete or not
// at all, and hangs it on the unit's pipeline; Detach wipes every biometric buffer and frees it.
// The service calls the entry points of one pipeline one at a time, so a context is never used
// from two threads at once and carries no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/engine_params.h"
#include "core/records.h"
#include "engine/engine_settings.h"
#include "match/match_params.h"
#include "match/match_work.h"
#include "platform/winbio_types.h"

namespace ridgeline {

// The matcher's work area is built for this many minutiae and this block grid on each side.
constexpr int kMatchWorkMinutiae = 250;
constexpr int kMatchWorkGridSide = 64;

// The open (or last) enrollment of a unit.
struct EnrollmentState {
  uint32_t Count;       // samples merged since the enrollment was opened
  uint32_t InProgress;  // 1 while an enrollment is open, else 0
  uint8_t* Template;    // the enrollment TemplateContainer; null when none
  std::size_t TemplateSize;
};

// Ownership: the context owns every buffer it points to. The three feature-set pairs are made by
// AllocFeatureRecords and released by FreeFeatureRecords, always as pairs (both set or both
// null). Enrollment.Template and pBirSampleLast are std::malloc / std::calloc blocks, released
// with std::free after a wipe (_SecureClearBuffers). MatchWork lives from Attach to Detach.
struct EngineContext {
  uint8_t* HashValue;    // template hash handed out by the matching entry points: always null
  std::size_t HashSize;  // always 0
  ridgeline::EngineParams EngineParams;
  FeatureSet* pFPData;  // current sample, from the last successful sample acceptance
  FeatureSummary* pFPSummary;
  FeatureSet* pFPDataTmp;   // scratch: a template entry decoded from a container
  FeatureSet* pFPDataTmp2;  // scratch: a second decoded entry or a rotated copy
  FeatureSummary* pFPSummaryTmp;
  FeatureSummary* pFPSummaryTmp2;
  ridgeline::MatchParams MatchParams;
  ridgeline::MatchWork* MatchWork;  // never wiped
  EnrollmentState Enrollment;
  std::size_t TemplateCapacity;  // kTemplateCapacity
  uint8_t MatchLevel;            // kDefaultMatchLevel
  // Copy of the last accepted BIR: its descriptors, header block and standard data block. Always
  // at least the 32 descriptor bytes long; its length is its own StandardDataBlock.Offset +
  // StandardDataBlock.Size (KeptBirLength). Null when none.
  uint8_t* pBirSampleLast;
};

// Length of a kept BIR copy, read from its own StandardDataBlock descriptor (little-endian Size
// at byte 8, Offset at byte 12). Sample acceptance keeps only records whose Offset + Size lies
// within the sample, so the 32-bit sum never wraps there; it is taken in 64 bits regardless.
// REQUIRES: kept points to at least 16 bytes.
inline std::size_t KeptBirLength(const uint8_t* kept) {
  constexpr std::size_t kSizeAt =
      offsetof(WINBIO_BIR, StandardDataBlock) + offsetof(WINBIO_BIR_DATA, Size);
  constexpr std::size_t kOffsetAt =
      offsetof(WINBIO_BIR, StandardDataBlock) + offsetof(WINBIO_BIR_DATA, Offset);
  auto read_le32 = [kept](std::size_t at) {
    return static_cast<uint32_t>(kept[at]) | static_cast<uint32_t>(kept[at + 1]) << 8 |
           static_cast<uint32_t>(kept[at + 2]) << 16 | static_cast<uint32_t>(kept[at + 3]) << 24;
  };
  return static_cast<std::size_t>(read_le32(kOffsetAt)) + read_le32(kSizeAt);
}

// How an attach obtains the parts of a context and gives them back when a later part fails.
// The adapter uses kSystemContextAllocation; tests substitute one that fails at a chosen step.
struct ContextAllocation {
  EngineContext* (*AllocContext)();  // zero-filled, or null
  void (*FreeContext)(EngineContext* context);
  ridgeline::MatchWork* (*BuildMatchWork)(const ridgeline::MatchParams& params);  // or null
  void (*FreeMatchWork)(ridgeline::MatchWork* work);
  bool (*AllocFeatureRecords)(FeatureSet** featureSet, FeatureSummary** summary);
  void (*FreeFeatureRecords)(FeatureSet* featureSet, FeatureSummary* summary);
};
extern const ContextAllocation kSystemContextAllocation;

// The whole attach of EngineAdapterAttach, with its traces and results, taking the context's
// parts from allocation. When any part cannot be had it releases what it built, leaves the
// pipeline untouched and returns E_OUTOFMEMORY.
HRESULT AttachEngineContext(PWINBIO_PIPELINE Pipeline, const ContextAllocation& allocation);

}  // namespace ridgeline
