// Wiping and releasing biometric buffers. Every wipe writes zeros over every byte in a way the
// compiler cannot drop, before the memory is released, and every pointer it clears is set to null.
#pragma once

#include <cstddef>

#include "core/records.h"

namespace ridgeline {

// Wipes one feature-set pair (the minutiae arrays over their whole capacity, the grid, the block
// map and the summary), releases it with FreeFeatureRecords and nulls both pointers. Either
// pointer may be null.
void _SecureClearFeaturePair(FeatureSet** featureSet, FeatureSummary** summary);

// Zero-fills a feature-set pair in place without releasing it; the array pointers stay.
void WipeFeatureRecords(FeatureSet* featureSet, FeatureSummary* summary);

// Zero-fills bytes bytes at block and frees it with std::free. Null does nothing.
void WipeAndFree(void* block, std::size_t bytes);

// Called by WipeAndFree with each block after the wipe and before the free. For tests: null
// removes the observer.
using ReleaseObserver = void (*)(void* user, const void* block, std::size_t bytes);
void SetReleaseObserver(ReleaseObserver observer, void* user);

}  // namespace ridgeline
