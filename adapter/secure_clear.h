// Wiping and releasing the biometric buffers of an engine context, through the wipe-and-release
// steps of core/secure_wipe.h; every pointer and size it clears is set to null or 0.
#pragma once

#include <cstddef>

#include "adapter/engine_context.h"
#include "core/secure_wipe.h"

namespace ridgeline {

// Wipes and releases the current sample pair, both scratch pairs and the kept BIR copy and,
// unless keepEnrollment, the enrollment container. Never touches Enrollment.Count,
// Enrollment.InProgress, MatchWork, EngineParams or MatchParams.
// REQUIRES: context != nullptr.
void _SecureClearBuffers(EngineContext* context, bool keepEnrollment);

}  // namespace ridgeline
