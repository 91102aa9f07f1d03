// The two comparisons behind verification, identification and the duplicate check: a stored
// TemplateContainer against the current sample, and the enrollment container against a stored
// one. Each scores with MatchCoord (first feature set as probe, second as reference, rebuilding
// the probe's tables every time) and decides with the match level's threshold; the first entry
// pair that reaches it ends the comparison.
#pragma once

#include <cstdint>
#include <span>

#include "adapter/engine_context.h"
#include "platform/winbio_types.h"

namespace ridgeline {

// Compares the current sample (pFPData) with every entry of the stored container, decoded in
// turn into the pFPDataTmp pair, until one reaches the threshold. When the pFPDataTmp2 pair
// exists, an entry that falls short is tried once more turned by 180 degrees (into pFPDataTmp2).
// S_OK whether or not an entry matched (*match tells); WINBIO_E_BAD_CAPTURE with reject detail 12
// for a container that is too short or fails the header check, and for a missing current sample
// or one with fewer than 4 minutiae.
// REQUIRES: context, match and RejectDetail not null.
HRESULT _AdapterCompareTemplateToCurrentFeatureSet(EngineContext* context,
                                                   std::span<const uint8_t> storedTemplate,
                                                   bool* match, PWINBIO_REJECT_DETAIL RejectDetail);

// Compares every entry of the enrollment container (probe, decoded into the pFPDataTmp pair) with
// every entry of the stored container (reference, into the pFPDataTmp2 pair) until a pair reaches
// the threshold; no rotated retry. S_OK whether or not a pair matched (*duplicate tells);
// WINBIO_E_BAD_CAPTURE when either container fails the header check, or when there is no current
// sample with at least 4 minutiae. Writes no reject detail.
// REQUIRES: context and duplicate not null.
HRESULT _AdapterCompareTemplateToEnrollmentTemplate(EngineContext* context,
                                                    std::span<const uint8_t> enrollmentTemplate,
                                                    std::span<const uint8_t> storedTemplate,
                                                    bool* duplicate);

}  // namespace ridgeline
