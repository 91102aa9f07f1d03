// The wipe-and-release steps behind every release of biometric data.
#include "core/secure_wipe.h"

#include <cstdlib>
#include <mutex>

#include "platform/secure_zero.h"

namespace ridgeline {
namespace {

std::mutex observer_mutex;
ReleaseObserver release_observer = nullptr;
void* release_observer_user = nullptr;

void NotifyRelease(const void* block, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(observer_mutex);
  if (release_observer != nullptr) release_observer(release_observer_user, block, bytes);
}

}  // namespace

void SetReleaseObserver(ReleaseObserver observer, void* user) {
  std::lock_guard<std::mutex> lock(observer_mutex);
  release_observer = observer;
  release_observer_user = user;
}

void WipeAndFree(void* block, std::size_t bytes) {
  if (block == nullptr) return;
  SecureZeroMemory(block, bytes);
  NotifyRelease(block, bytes);
  std::free(block);
}

void WipeFeatureRecords(FeatureSet* featureSet, FeatureSummary* summary) {
  if (featureSet != nullptr) {
    // The arrays were made with the full capacity; Count may already be smaller.
    constexpr std::size_t kCapacity = kFeatureCapacity;
    if (featureSet->X != nullptr) SecureZeroMemory(featureSet->X, kCapacity * sizeof(int16_t));
    if (featureSet->Y != nullptr) SecureZeroMemory(featureSet->Y, kCapacity * sizeof(int16_t));
    if (featureSet->Angle != nullptr) {
      SecureZeroMemory(featureSet->Angle, kCapacity * sizeof(int16_t));
    }
    if (featureSet->Variation != nullptr) SecureZeroMemory(featureSet->Variation, kCapacity);
    if (featureSet->Type != nullptr) SecureZeroMemory(featureSet->Type, kCapacity);
    featureSet->Count = 0;
    featureSet->BlockCols = 0;
    featureSet->BlockRows = 0;
    SecureZeroMemory(featureSet->DirectionMap, sizeof(featureSet->DirectionMap));
  }
  if (summary != nullptr) SecureZeroMemory(summary, sizeof(*summary));
}

void _SecureClearFeaturePair(FeatureSet** featureSet, FeatureSummary** summary) {
  WipeFeatureRecords(*featureSet, *summary);
  FreeFeatureRecords(*featureSet, *summary);
  *featureSet = nullptr;
  *summary = nullptr;
}

}  // namespace ridgeline
