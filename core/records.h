// The storage shared by the whole engine: the grey image, the pipeline's ExtractionResult and
// the FeatureSet / FeatureSummary pair through which one extraction reaches the adapter and the
// matcher. Plain data; allocation failures are reported as null, never thrown.
#pragma once

#include <cstdint>

#include "core/constants.h"

namespace ridgeline {

// A GrayImage is a table of row pointers into one contiguous, zeroed block of width x height
// bytes: row r starts at byte r x width of the block. The size travels beside it.
using GrayImage = uint8_t**;

// A non-owning view of a GrayImage with its size, for stages that take one.
struct ImageView {
  uint8_t* const* rows;
  int width;
  int height;

  uint8_t* operator[](int y) const { return rows[y]; }
  uint8_t& at(int x, int y) const { return rows[y][x]; }
};

// REQUIRES: width >= 0. Returns null when an allocation fails. A height of 0 or less yields an
// empty row table and no rows.
GrayImage AllocGrayImage(int width, int height);
// Releases the pixel block (the one row 0 points to) and the row table; null does nothing.
// REQUIRES: the image was allocated with a height of at least 1, or is null.
void FreeGrayImage(GrayImage image);
// Copies width bytes of each of the height rows; both images must be at least that large.
void CopyGrayImage(int width, int height, const uint8_t* const* source, GrayImage destination);

struct SingularPointList {
  int32_t Count;
  int16_t X[kSingularCapacity];
  int16_t Y[kSingularCapacity];
  int16_t Direction[kSingularCapacity];
  uint8_t Type[kSingularCapacity];  // signed class stored as a byte: -1 -> 255, -2 -> 254
};

struct ExtractionResult {
  int32_t CandidateCount;
  int16_t CandX[kFeatureCapacity];
  int16_t CandY[kFeatureCapacity];
  int16_t CandAngle[kFeatureCapacity];  // negative marks a rejected candidate until compaction
  uint8_t CandType[kFeatureCapacity];   // 0 ending, 1 bifurcation
  uint8_t CandVariation[kFeatureCapacity];
  SingularPointList SingularPoints;
  uint8_t BoundaryDensity;
  uint8_t BlockCols;
  uint8_t BlockRows;
  uint8_t DirectionMap[kMapSize][kMapSize];
};

// Minutiae of one capture (or of one decoded template) with the block grid and direction map.
// Count is the capacity right after allocation and the number of valid entries afterwards.
struct FeatureSet {
  int32_t Count;
  int16_t* X;
  int16_t* Y;
  int16_t* Angle;  // degrees 0..359
  uint8_t* Variation;
  uint8_t* Type;  // 0 ending, 1 bifurcation
  uint8_t BlockCols;
  uint8_t BlockRows;
  uint8_t DirectionMap[kMapSize][kMapSize];
};

struct FeatureSummary {
  uint8_t BoundaryDensity;
  uint8_t Quality;  // 0..100
  int32_t Count;
  int16_t X[kSingularCapacity];
  int16_t Y[kSingularCapacity];
  int16_t Direction[kSingularCapacity];
  uint8_t Type[kSingularCapacity];
};

// Gives featureSet five zeroed arrays of the given capacity and sets Count to it. Returns false
// (and leaves no array allocated) when an allocation fails.
bool InitFeatureSet(FeatureSet* featureSet, int capacity);
// Releases the five arrays (Type, Variation, Angle, Y, X) but not the record.
void ReleaseFeatureSetArrays(FeatureSet* featureSet);
// Allocates a zeroed FeatureSet with capacity 1000 and a zeroed FeatureSummary. On failure
// both outputs are null and nothing stays allocated.
bool AllocFeatureRecords(FeatureSet** featureSet, FeatureSummary** summary);
// Releases the summary, then the arrays, then the record. Null pointers are skipped.
void FreeFeatureRecords(FeatureSet* featureSet, FeatureSummary* summary);
// Copies Count minutiae, the grid size and the BlockRows x BlockCols corner of the map.
// REQUIRES: the destination's capacity is at least source->Count.
void CopyFeatureSet(FeatureSet* destination, const FeatureSet* source);

}  // namespace ridgeline
