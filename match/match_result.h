// The outcome of one alignment: the rotation and translation that carry probe (A) coordinates
// into reference (B) coordinates, the minutia correspondences under it and the score it earned.
#pragma once

#include <cstdint>

#include "core/constants.h"

namespace ridgeline {

struct MatchResult {
  int32_t Score;
  int32_t Rotation;  // degrees 0..360 (a bearing difference of exactly 360 is kept)
  int32_t TX;        // pixels
  int32_t TY;        // pixels
  // For each A minutia, the index of its B partner or -1.
  int32_t Correspondence[kMatchCapacity];
  int32_t Anchor1;              // A index of the first anchor minutia, or -1
  int32_t Anchor2;              // A index of the second anchor minutia, or -1
  int32_t Overlap;              // minutiae in the common area of the best alignment
  int32_t Matched;              // minutiae paired under the best alignment, anchors not counted
  int32_t CorrespondenceCount;  // entries of Correspondence that are not -1
};

}  // namespace ridgeline
