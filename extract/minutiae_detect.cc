// Minutiae detection over the repaired skeleton.
#include "extract/minutiae_detect.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

#include "core/constants.h"
#include "core/folded_angle.h"
#include "core/int_math.h"
#include "extract/crossing_scan.h"
#include "extract/ridge_trace.h"

namespace ridgeline {
namespace {

constexpr int kScanMargin = 2;        // rows and columns scanned: 2 .. size - 3
constexpr int kStoreMargin = 6;       // stored only when strictly more than this inside
constexpr int kUncheckedSteps = 3;    // a branch leaves the junction before its crossing is tested
constexpr int kMinSpread = 90;        // the widest pair of branches must be at least this apart
constexpr int kJunctionCrossing = 2;  // crossing number where a traced branch meets a junction
constexpr int kHalfTurn = 60;         // largest folded difference of two direction codes
constexpr int kVariationScale = 255;

struct BranchTrace {
  int steps;
  int stop_crossing;  // kStoppedAtFrame for a branch stopped by the frame
  int angle;
};

}  // namespace

int EndingDirection(const ImageView& skeleton, int y, int x, int traceLength, int minTrace) {
  const RidgeTrace trace = TraceRidge(skeleton, x, y, traceLength);
  RestoreRidge(skeleton, trace);
  if (trace.steps < minTrace) return kShortRidgeMark;
  return LineAngle(x, y, trace.x, trace.y);
}

int BifurcationDirection(const ImageView& skeleton, int y, int x, int traceLength, int minTrace) {
  assert(x >= 1 && x <= skeleton.width - 2 && y >= 1 && y <= skeleton.height - 2);
  assert(traceLength <= kMaxRidgeTrace);
  // The junction and the branches already traced stay white until all three are done, so each
  // trace takes a branch not yet used; every whitened pixel was black and is made black again.
  RidgeTrace traces[3];
  BranchTrace branches[3];
  int traced = 0;
  bool short_branch = false;
  for (; traced < 3 && !short_branch; ++traced) {
    RidgeTrace& trace = traces[traced];
    trace.x = x;
    trace.y = y;
    // Side neighbours of the junction whitened after the first step, so that the second step
    // cannot slip sideways into them; restored after the second step or at the branch's end.
    SavedPixels sides;
    while (trace.steps < traceLength &&
           StepRidge(skeleton, &trace, trace.steps >= kUncheckedSteps)) {
      if (trace.steps == 1) {
        if (trace.x == x) {
          sides.Whiten(skeleton, x - 1, y);
          sides.Whiten(skeleton, x + 1, y);
        }
        if (trace.y == y) {
          sides.Whiten(skeleton, x, y - 1);
          sides.Whiten(skeleton, x, y + 1);
        }
      } else if (trace.steps == 2) {
        sides.Restore(skeleton);
      }
    }
    sides.Restore(skeleton);
    branches[traced] = {trace.steps, trace.stop_crossing, LineAngle(x, y, trace.x, trace.y)};
    short_branch = trace.steps < minTrace;
  }
  for (int i = traced - 1; i >= 0; --i) RestoreRidge(skeleton, traces[i]);
  if (short_branch) return kShortBranchMark;

  const int a0 = branches[0].angle;
  const int a1 = branches[1].angle;
  const int a2 = branches[2].angle;
  const int d01 = FoldedAngle(a0 - a1);
  const int d12 = FoldedAngle(a1 - a2);
  const int d02 = FoldedAngle(a0 - a2);
  if (std::max({d01, d12, d02}) < kMinSpread) return kShortRidgeMark;

  int first = 0;
  int second = 2;
  if (d01 < d12 && d02 >= d01) {
    first = 0;
    second = 1;
  } else if (d12 <= d01 && d02 >= d12) {
    first = 1;
    second = 2;
  }
  const BranchTrace& bf = branches[first];
  const BranchTrace& bs = branches[second];
  if (bf.stop_crossing == kJunctionCrossing && bf.steps < traceLength &&
      bs.stop_crossing == kJunctionCrossing && bs.steps < traceLength) {
    return kJunctionPairMark;
  }

  const int f = bf.angle;
  const int g = bs.angle;
  const int gap = std::abs(g - f);
  if (gap > 180) {
    int mean = std::max(f, g) + (360 - gap) / 2;
    if (mean >= 360) mean -= 360;
    return mean;
  }
  return (f + g) / 2;
}

int DirectionVariation(int width, int height, const uint8_t* const* directionImage, int y, int x,
                       int radius) {
  assert(x >= 0 && x < width && y >= 0 && y < height);
  const int centre = directionImage[y][x] & kCodeMask;
  if (centre == kNoDirection) return 0;
  const int top = std::max(0, y - radius);
  const int bottom = std::min(height - 1, y + radius);
  const int left = std::max(0, x - radius);
  const int right = std::min(width - 1, x + radius);
  int sum = 0;
  int count = 0;
  for (int j = top; j <= bottom; ++j) {
    const uint8_t* row = directionImage[j];
    // Branch-free so that the row vectorises: the pixels without a direction add 0 to both.
    for (int k = left; k <= right; ++k) {
      const int code = row[k] & kCodeMask;
      const int has_direction = code != kNoDirection ? 1 : 0;
      // CodeDistance: |d| folded, min(d, 120 - d) being d up to 60 and 120 - d above.
      const int d = std::abs(code - centre);
      const int folded = std::min(d, kDirectionSteps - d);
      sum += folded & -has_direction;
      count += has_direction;
    }
  }
  // count >= 1: the centre itself has a direction.
  return sum * kVariationScale / (count * kHalfTurn);
}

void DetectMinutiae(int width, int height, GrayImage skeleton, const uint8_t* const* directionImage,
                    ExtractionResult* result, int traceLength, int minEndingTrace,
                    int minBranchTrace, int variationRadius) {
  const ImageView sk{skeleton, width, height};
  result->CandidateCount = 0;
  const int x_end = width - kScanMargin;  // columns scanned: kScanMargin .. x_end - 1
  for (int y = kScanMargin; y <= height - 1 - kScanMargin; ++y) {
    constexpr uint8_t kWanted = kEndingMark | kBifurcationMark;
    for (int x = NextCrossing(sk, directionImage[y], y, kScanMargin, x_end, kWanted); x < x_end;
         x = NextCrossing(sk, directionImage[y], y, x + 1, x_end, kWanted)) {
      const int crossing = CrossingNumber(sk, x, y);  // 1 or 3
      // Tracing restores the skeleton exactly, so the direction of a candidate that cannot be
      // stored is not computed at all.
      const bool stored = result->CandidateCount < kFeatureCapacity && x > kStoreMargin &&
                          x < width - kStoreMargin && y > kStoreMargin && y < height - kStoreMargin;
      if (!stored) continue;
      const int n = result->CandidateCount++;
      result->CandX[n] = static_cast<int16_t>(x);
      result->CandY[n] = static_cast<int16_t>(y);
      if (crossing == 1) {
        result->CandAngle[n] =
            static_cast<int16_t>(EndingDirection(sk, y, x, traceLength, minEndingTrace));
        result->CandType[n] = 0;
      } else {
        result->CandAngle[n] =
            static_cast<int16_t>(BifurcationDirection(sk, y, x, traceLength, minBranchTrace));
        result->CandType[n] = 1;
      }
      result->CandVariation[n] = static_cast<uint8_t>(
          DirectionVariation(width, height, directionImage, y, x, variationRadius));
    }
  }
}

}  // namespace ridgeline
