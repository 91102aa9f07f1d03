// Walking a one-pixel skeleton (0 = ridge, anything else white): the crossing number that tells
// ridge endings from bifurcations, and the ridge trace that follows a ridge from an ending while
// whitening what it passed. Shared by skeleton repair and minutiae detection.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>

#include "core/records.h"
#include "extract/neighbour_codes.h"

namespace ridgeline {

struct PixelPoint {
  int x;
  int y;
  bool operator==(const PixelPoint&) const = default;
};

inline bool IsRidge(const ImageView& skeleton, int x, int y) { return skeleton[y][x] == 0; }

// The 8 neighbours in the order the crossing number goes round them: N, NE, E, SE, S, SW, W, NW.
inline constexpr PixelPoint kRoundNeighbours[8] = {{0, -1}, {1, -1}, {1, 0},  {1, 1},
                                                   {0, 1},  {-1, 1}, {-1, 0}, {-1, -1}};
// The order in which a walk picks its next pixel: the 4-neighbours first, N, E, S, W, then the
// diagonals NE, SE, SW, NW.
inline constexpr PixelPoint kStepOrder[8] = {{0, -1}, {1, 0}, {0, 1},  {-1, 0},
                                             {1, -1}, {1, 1}, {-1, 1}, {-1, -1}};

static_assert([] {
  for (int bit = 0; bit < 8; ++bit) {
    if (kRoundNeighbours[bit].x != kNeighbourDx[static_cast<size_t>(bit)] ||
        kRoundNeighbours[bit].y != kNeighbourDy[static_cast<size_t>(bit)]) {
      return false;
    }
  }
  return true;
}());

// The crossing number of each NeighbourCode: the white-to-black changes met going once round
// its bits N to NW (the kRoundNeighbours order) and back to N.
inline constexpr std::array<uint8_t, 256> kCrossingNumbers = [] {
  std::array<uint8_t, 256> crossings{};
  for (int code = 0; code < 256; ++code) {
    int changes = 0;
    bool previous_black = ((code >> kNorthWestBit) & 1) != 0;
    for (int bit = 0; bit < 8; ++bit) {
      const bool black = ((code >> bit) & 1) != 0;
      if (black && !previous_black) ++changes;
      previous_black = black;
    }
    crossings[static_cast<size_t>(code)] = static_cast<uint8_t>(changes);
  }
  return crossings;
}();

// The NeighbourCode bit of the first black neighbour in kStepOrder for each code; -1 for none.
inline constexpr std::array<int8_t, 256> kFirstStep = [] {
  std::array<int8_t, 256> first{};
  for (int code = 0; code < 256; ++code) {
    first[static_cast<size_t>(code)] = -1;
    for (const PixelPoint& step : kStepOrder) {
      int bit = 0;
      while (kNeighbourDx[static_cast<size_t>(bit)] != step.x ||
             kNeighbourDy[static_cast<size_t>(bit)] != step.y) {
        ++bit;
      }
      if (((code >> bit) & 1) != 0) {
        first[static_cast<size_t>(code)] = static_cast<int8_t>(bit);
        break;
      }
    }
  }
  return first;
}();

// The number of white-to-black changes met going once round the 8 neighbours of (x, y), N to NW
// and back to N: 1 at a ridge ending, 3 at a bifurcation. The pixel's own value is not read.
// REQUIRES: 1 <= x <= width - 2 and 1 <= y <= height - 2.
inline int CrossingNumber(const ImageView& skeleton, int x, int y) {
  assert(x >= 1 && x <= skeleton.width - 2 && y >= 1 && y <= skeleton.height - 2);
  return kCrossingNumbers[static_cast<size_t>(NeighbourCode(skeleton.rows, x, y))];
}

// Largest number of steps any trace takes (the longest caller asks for 20).
constexpr int kMaxRidgeTrace = 32;
// RidgeTrace::stop_crossing of a walk stopped by the image frame.
constexpr int kStoppedAtFrame = -1;

// The state of one ridge walk. The pixels the walk made white are listed in order; the caller
// makes them black again (RestoreRidge) when it is done with the trace.
struct RidgeTrace {
  int x = 0;  // the pixel the walk stands on; once stopped, its stop position
  int y = 0;
  int steps = 0;  // pixels made white so far
  // Why the walk stopped: the crossing number of the pixel that failed the test, or
  // kStoppedAtFrame; 1 while running and after using every step it was given.
  int stop_crossing = 1;
  PixelPoint whitened[kMaxRidgeTrace];
};

// One ridge step from the trace's current pixel: stop on the frame (row or column 0 or last), or
// when test_crossing is set and the pixel's crossing number is not 1; otherwise make the pixel
// white, list it and move to its first black neighbour in kStepOrder (staying when there is
// none, so that the next tested step stops on a white pixel). Returns false when it stopped.
// REQUIRES: trace->steps < kMaxRidgeTrace; the current pixel is inside the image.
bool StepRidge(const ImageView& skeleton, RidgeTrace* trace, bool test_crossing);

// Walks at most maxSteps ridge steps from (x, y), every step testing the crossing number. The
// traced pixels stay white; the stop position is the pixel the walk last moved to (after a full
// trace, the pixel beyond the last whitened one).
// REQUIRES: 0 <= maxSteps <= kMaxRidgeTrace; (x, y) inside the image.
RidgeTrace TraceRidge(const ImageView& skeleton, int x, int y, int maxSteps);

// Pixels of a junction's neighbourhood whitened for a moment (at most four), with the values to
// give back.
class SavedPixels {
 public:
  void Whiten(const ImageView& skeleton, int x, int y) {
    assert(count_ < 4);
    saved_[count_] = {x, y};
    values_[count_++] = skeleton[y][x];
    skeleton[y][x] = 255;
  }
  // Gives back the saved values, last first; then holds nothing.
  void Restore(const ImageView& skeleton) {
    while (count_ > 0) {
      --count_;
      skeleton[saved_[count_].y][saved_[count_].x] = values_[count_];
    }
  }

 private:
  PixelPoint saved_[4];
  uint8_t values_[4];
  int count_ = 0;
};

// Makes every pixel the trace whitened black again.
void RestoreRidge(const ImageView& skeleton, const RidgeTrace& trace);

}  // namespace ridgeline
