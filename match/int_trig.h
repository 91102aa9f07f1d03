// The matcher's integer trigonometry: cosine and sine scaled by 1024 for whole degrees, rotation of
// a point with rounding, and the bearing of a vector in whole degrees. Every value is exact integer
// arithmetic on fixed tables.
#pragma once

#include <cassert>
#include <cstdint>

namespace ridgeline {

constexpr int kDegreesPerTurn = 360;
constexpr int kTrigScale = 1024;  // fixed-point factor of the cosine and sine tables
constexpr int kTrigShift = 10;    // log2 of kTrigScale
constexpr int kTrigRound = 512;   // half of kTrigScale, added before the shift
constexpr int kBearingArctanSize = 1025;

// Entry i = trunc(1024 cos(i degrees) + 0.5), so cos 180 = -1023, and likewise for sine.
extern const int16_t kCosTable[kDegreesPerTurn];
extern const int16_t kSinTable[kDegreesPerTurn];
// Entry r = atan(r / 1024) in whole degrees, rounded to nearest: 0..45.
extern const uint8_t kBearingArctan[kBearingArctanSize];

// Cosine and sine of one rotation angle, scaled by 1024.
struct Rotation {
  int cos;
  int sin;

  // x of the rotated point (x, y), rounded: (x cos - y sin + 512) >> 10.
  int X(int x, int y) const { return (cos * x - sin * y + kTrigRound) >> kTrigShift; }
  // y of the rotated point (x, y), rounded: (x sin + y cos + 512) >> 10.
  int Y(int x, int y) const { return (sin * x + cos * y + kTrigRound) >> kTrigShift; }
};

// The tables are read at angle mod 360: a bearing difference may be exactly 360.
// REQUIRES: angle >= 0.
inline Rotation RotationOf(int angle) {
  assert(angle >= 0);
  const int index = angle % kDegreesPerTurn;
  return {kCosTable[index], kSinTable[index]};
}

// Bearing of the vector (dx, dy) in whole degrees: 0 for the zero vector, otherwise the
// quadrant-folded arctangent. The result is 0..360: for dx > 0, dy < 0 and |dy| x 1024 / |dx|
// reading an arctangent of 0 it is 360, and is kept so.
inline int Bearing(int dx, int dy) {
  if (dx == 0 && dy == 0) return 0;
  const int m = dx < 0 ? -dx : dx;
  const int n = dy < 0 ? -dy : dy;
  const int c =
      m < n ? 90 - kBearingArctan[m * kTrigScale / n] : kBearingArctan[n * kTrigScale / m];
  if (dx >= 0) return dy >= 0 ? c : 360 - c;
  return dy >= 0 ? 180 - c : 180 + c;
}

}  // namespace ridgeline
