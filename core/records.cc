// Allocation, copy and release of the engine's shared records.
#include "core/records.h"

#include <cstdlib>
#include <cstring>

namespace ridgeline {

GrayImage AllocGrayImage(int width, int height) {
  const size_t rows = height > 0 ? static_cast<size_t>(height) : 0;
  // One extra pointer slot keeps the table non-empty for a zero height.
  auto** table = static_cast<uint8_t**>(std::calloc(rows + 1, sizeof(uint8_t*)));
  if (table == nullptr) return nullptr;
  if (rows == 0) return table;
  const size_t row_bytes = width > 0 ? static_cast<size_t>(width) : 0;
  auto* block = static_cast<uint8_t*>(std::calloc(rows * row_bytes + 1, 1));
  if (block == nullptr) {
    std::free(table);
    return nullptr;
  }
  for (size_t r = 0; r < rows; ++r) table[r] = block + r * row_bytes;
  return table;
}

void FreeGrayImage(GrayImage image) {
  if (image == nullptr) return;
  std::free(image[0]);  // the pixel block (null for an image without rows)
  std::free(image);
}

void CopyGrayImage(int width, int height, const uint8_t* const* source, GrayImage destination) {
  for (int r = 0; r < height; ++r)
    std::memcpy(destination[r], source[r], static_cast<size_t>(width));
}

bool InitFeatureSet(FeatureSet* featureSet, int capacity) {
  const size_t n = capacity > 0 ? static_cast<size_t>(capacity) : 0;
  featureSet->X = static_cast<int16_t*>(std::calloc(n + 1, sizeof(int16_t)));
  featureSet->Y = static_cast<int16_t*>(std::calloc(n + 1, sizeof(int16_t)));
  featureSet->Angle = static_cast<int16_t*>(std::calloc(n + 1, sizeof(int16_t)));
  featureSet->Variation = static_cast<uint8_t*>(std::calloc(n + 1, 1));
  featureSet->Type = static_cast<uint8_t*>(std::calloc(n + 1, 1));
  if (!featureSet->X || !featureSet->Y || !featureSet->Angle || !featureSet->Variation ||
      !featureSet->Type) {
    ReleaseFeatureSetArrays(featureSet);
    return false;
  }
  featureSet->Count = capacity;
  return true;
}

void ReleaseFeatureSetArrays(FeatureSet* featureSet) {
  std::free(featureSet->Type);
  std::free(featureSet->Variation);
  std::free(featureSet->Angle);
  std::free(featureSet->Y);
  std::free(featureSet->X);
  featureSet->Type = nullptr;
  featureSet->Variation = nullptr;
  featureSet->Angle = nullptr;
  featureSet->Y = nullptr;
  featureSet->X = nullptr;
}

bool AllocFeatureRecords(FeatureSet** featureSet, FeatureSummary** summary) {
  *featureSet = nullptr;
  *summary = nullptr;
  auto* fs = static_cast<FeatureSet*>(std::calloc(1, sizeof(FeatureSet)));
  if (fs == nullptr) return false;
  if (!InitFeatureSet(fs, kFeatureCapacity)) {
    std::free(fs);
    return false;
  }
  fs->BlockCols = 0;
  fs->BlockRows = 0;
  auto* sum = static_cast<FeatureSummary*>(std::calloc(1, sizeof(FeatureSummary)));
  if (sum == nullptr) {
    ReleaseFeatureSetArrays(fs);
    std::free(fs);
    return false;
  }
  *featureSet = fs;
  *summary = sum;
  return true;
}

void FreeFeatureRecords(FeatureSet* featureSet, FeatureSummary* summary) {
  std::free(summary);
  if (featureSet != nullptr) {
    ReleaseFeatureSetArrays(featureSet);
    std::free(featureSet);
  }
}

void CopyFeatureSet(FeatureSet* destination, const FeatureSet* source) {
  const int32_t n = source->Count;
  destination->Count = n;
  if (n > 0) {
    const size_t count = static_cast<size_t>(n);
    std::memcpy(destination->X, source->X, count * sizeof(int16_t));
    std::memcpy(destination->Y, source->Y, count * sizeof(int16_t));
    std::memcpy(destination->Angle, source->Angle, count * sizeof(int16_t));
    std::memcpy(destination->Variation, source->Variation, count);
    std::memcpy(destination->Type, source->Type, count);
  }
  destination->BlockCols = source->BlockCols;
  destination->BlockRows = source->BlockRows;
  for (int r = 0; r < source->BlockRows; ++r) {
    std::memcpy(destination->DirectionMap[r], source->DirectionMap[r], source->BlockCols);
  }
}

}  // namespace ridgeline
