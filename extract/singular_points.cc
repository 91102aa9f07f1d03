// Singular point search and refinement over the block and pixel direction fields.
#include "extract/singular_points.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/constants.h"
#include "core/folded_angle.h"
#include "core/int_math.h"

namespace ridgeline {
namespace {

// A direction lifted from the half turn (120 codes) to the full turn (240 steps).
constexpr int kHalfTurn = kDirectionSteps;
constexpr int kFullTurn = 2 * kDirectionSteps;

// Candidate rings: 8 blocks round the block, then the 5 x 5 square without its corners and
// without the inner 3 x 3, both clockwise, as (column, row) offsets.
constexpr int kInnerRingLength = 8;
constexpr int kInnerRing[kInnerRingLength][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0},
                                                 {1, 1},   {0, 1},  {-1, 1}, {-1, 0}};
constexpr int kOuterRingLength = 12;
constexpr int kOuterRing[kOuterRingLength][2] = {{-1, -2}, {0, -2}, {1, -2}, {2, -1},
                                                 {2, 0},   {2, 1},  {1, 2},  {0, 2},
                                                 {-1, 2},  {-2, 1}, {-2, 0}, {-2, -1}};
constexpr int kCandidateMargin = 2;  // blocks between a candidate and the grid border

constexpr int kDisagreementRadius = 2;  // 5 x 5 square
constexpr int kRefineRadius = 16;       // second search: 33 x 33 pixels round the first best
constexpr int kMaxGroupDistance2 = 4;   // squared block distance below it joins a group

constexpr int kProbeRadius = 40;           // pixels
constexpr int kProbeRadiusTolerance = 40;  // |dx^2 + dy^2 - 40^2| below it is on the ring
constexpr int kSlopeScale = 100;           // fixed-point error term of the line walk
constexpr int kNoScore = 60;               // a probe line entirely outside the image

void Append(SingularPointList* list, int x, int y, int direction, uint8_t type) {
  if (list->Count >= kSingularCapacity) return;  // keep the first kSingularCapacity entries
  const int i = list->Count++;
  list->X[i] = static_cast<int16_t>(x);
  list->Y[i] = static_cast<int16_t>(y);
  list->Direction[i] = static_cast<int16_t>(direction);
  list->Type[i] = type;
}

// The probes of SingularDirection: every point (dx, dy) of the radius-40 ring in row-major
// order (the order decides ties), with the angle of the line from the centre to it, the line's
// own DirectionCode, and the pixels of the digital line from the probe towards the centre as
// offsets from the centre: max(|dx|, |dy|) pixels, the probe first and the centre never. The
// walk depends on (dx, dy) alone, so it is made once for every point.
struct ProbeLine {
  int angle;
  int line_code;
  int first;  // index of the line's first offset in ProbeTable::offsets
  int length;
};

struct ProbeTable {
  std::vector<ProbeLine> lines;
  std::vector<int8_t> dx;  // offsets from the centre, one pair per pixel of every line
  std::vector<int8_t> dy;
};

ProbeTable MakeProbeTable() {
  ProbeTable table;
  for (int dy = -kProbeRadius; dy <= kProbeRadius; ++dy) {
    for (int dx = -kProbeRadius; dx <= kProbeRadius; ++dx) {
      const int r2 = dx * dx + dy * dy;
      if (std::abs(r2 - kProbeRadius * kProbeRadius) >= kProbeRadiusTolerance) continue;
      const int angle = LineAngle(0, 0, dx, dy);
      // The line's own DirectionCode, 1..120 (120 standing for 0).
      int code = angle * kDirectionSteps / 180;
      if (code >= kDirectionSteps) code -= kDirectionSteps;
      const bool along_x = std::abs(dx) > std::abs(dy);
      const int major = along_x ? std::abs(dx) : std::abs(dy);
      table.lines.push_back(
          {angle, kDirectionSteps - code, static_cast<int>(table.dx.size()), major});
      // The walk in the error terms of a line drawn from the probe to the centre.
      int x = dx;
      int y = dy;
      const int major_step = along_x ? (dx > 0 ? -1 : 1) : (dy > 0 ? -1 : 1);
      const int slope = (along_x ? -dy : -dx) * kSlopeScale / major;
      int error = 0;
      for (int i = 0; i < major; ++i) {
        table.dx.push_back(static_cast<int8_t>(x));
        table.dy.push_back(static_cast<int8_t>(y));
        int& minor = along_x ? y : x;
        (along_x ? x : y) += major_step;
        error += slope;
        // Two separate tests: an error of exactly 50 moves forward and at once back.
        if (error >= kSlopeScale / 2) {
          error -= kSlopeScale;
          ++minor;
        }
        if (error <= -kSlopeScale / 2) {
          error += kSlopeScale;
          --minor;
        }
      }
    }
  }
  return table;
}

const ProbeTable& Probes() {
  static const ProbeTable table = MakeProbeTable();
  return table;
}

// Mean folded difference between the pixel directions along the probe's line and the line's
// own code, or kNoScore when no pixel of the line is inside the image; inside says that every
// line pixel is.
template <bool inside>
int ProbeScore(int width, int height, const uint8_t* const* directionImage, int row, int column,
               const ProbeTable& table, const ProbeLine& line) {
  int sum = 0;
  int count = 0;
  const int8_t* dx = table.dx.data() + line.first;
  const int8_t* dy = table.dy.data() + line.first;
  for (int i = 0; i < line.length; ++i) {
    const int x = column + dx[i];
    const int y = row + dy[i];
    if (inside || (x >= 0 && x < width && y >= 0 && y < height)) {
      sum += CodeDistance(directionImage[y][x] & kCodeMask, line.line_code);
      ++count;
    }
  }
  return count == 0 ? kNoScore : sum / count;
}

// DirectionDisagreement of the count pixels (row, x0 .. x0 + count - 1) into out, summed for
// all of them at once square offset by square offset (a loop the compiler vectorises).
// REQUIRES: count <= kDisagreementSpan; the 5 x 5 squares lie inside the image.
constexpr int kDisagreementSpan = 64;
void DisagreementRow(const uint8_t* const* directionImage, int row, int x0, int count,
                     int16_t* out) {
  const uint8_t* __restrict centre = directionImage[row] + x0;
  int16_t sum[kDisagreementSpan] = {};
  for (int y = row - kDisagreementRadius; y <= row + kDisagreementRadius; ++y) {
    for (int dx = -kDisagreementRadius; dx <= kDisagreementRadius; ++dx) {
      const uint8_t* __restrict u = directionImage[y] + x0 + dx;
      for (int i = 0; i < count; ++i) {
        // |u - centre| in bytes, its fold in 16 bits (negative for bytes beyond the codes).
        const auto d = static_cast<uint8_t>(std::max(u[i], centre[i]) - std::min(u[i], centre[i]));
        const auto folded = static_cast<int16_t>(d > kDirectionSteps / 2 ? kDirectionSteps - d : d);
        sum[i] = static_cast<int16_t>(sum[i] + (u[i] != kNoDirection ? folded : int16_t{0}));
      }
    }
  }
  for (int i = 0; i < count; ++i) out[i] = centre[i] == kNoDirection ? int16_t{0} : sum[i];
}

// Moves (best, best_row, best_column) to the first pixel of the count pixels (row, x0 ..) whose
// disagreement is strictly greater, pixel by pixel from the left, in chunks of the row form.
void ScanDisagreement(const uint8_t* const* directionImage, int row, int x0, int count, int* best,
                      int* best_row, int* best_column) {
  int16_t values[kDisagreementSpan];
  for (int start = 0; start < count; start += kDisagreementSpan) {
    const int n = std::min(kDisagreementSpan, count - start);
    DisagreementRow(directionImage, row, x0 + start, n, values);
    for (int i = 0; i < n; ++i) {
      if (values[i] > *best) {
        *best = values[i];
        *best_row = row;
        *best_column = x0 + start + i;
      }
    }
  }
}

}  // namespace

int PoincareIndex(int length, const uint8_t* ring) {
  assert(length >= 1);
  int previous = ring[length - 1];
  int sum = 0;
  for (int i = 0; i < length; ++i) {
    const int code = ring[i];
    const int a = FoldedDifference(previous - code, kFullTurn);
    const int b = FoldedDifference(previous - (code + kHalfTurn), kFullTurn);
    if (a == b) return 0;  // the lift is ambiguous: no index
    // Lift to whichever of code, code + 120 lies closer to the previous lifted direction.
    const int lifted = b < a ? code + kHalfTurn : code;
    int step = lifted - previous;
    if (step > kHalfTurn) step -= kFullTurn;
    if (step < -kHalfTurn) step += kFullTurn;
    sum += step;
    previous = lifted;
  }
  return sum / kHalfTurn;
}

void FindSingularCandidates(int wholeCols, int wholeRows, const uint8_t* const* blockDirectionMap,
                            SingularPointList* candidates) {
  std::memset(candidates, 0, sizeof(*candidates));
  for (int r = kCandidateMargin; r < wholeRows - kCandidateMargin; ++r) {
    for (int c = kCandidateMargin; c < wholeCols - kCandidateMargin; ++c) {
      uint8_t inner[kInnerRingLength];
      uint8_t outer[kOuterRingLength];
      bool background = false;
      for (int i = 0; i < kInnerRingLength; ++i) {
        inner[i] = blockDirectionMap[r + kInnerRing[i][1]][c + kInnerRing[i][0]];
        background |= inner[i] == kBackground;
      }
      for (int i = 0; i < kOuterRingLength; ++i) {
        outer[i] = blockDirectionMap[r + kOuterRing[i][1]][c + kOuterRing[i][0]];
        background |= outer[i] == kBackground;
      }
      if (background) continue;
      const int f = PoincareIndex(kInnerRingLength, inner);
      const int g = PoincareIndex(kOuterRingLength, outer);
      if (g != 0 && (f == g || f * g > 0)) {
        Append(candidates, c, r, -1, static_cast<uint8_t>(static_cast<int8_t>(g)));
      }
    }
  }
}

int DirectionDisagreement(const uint8_t* const* directionImage, int row, int column) {
  const int v = directionImage[row][column];
  if (v == kNoDirection) return 0;
  int sum = 0;
  for (int y = row - kDisagreementRadius; y <= row + kDisagreementRadius; ++y) {
    for (int x = column - kDisagreementRadius; x <= column + kDisagreementRadius; ++x) {
      const int u = directionImage[y][x];
      if (u != kNoDirection) sum += CodeDistance(u, v);
    }
  }
  return sum;
}

int SingularDirection(int width, int height, const uint8_t* const* directionImage, int row,
                      int column) {
  const ProbeTable& table = Probes();
  const bool inside = row - kProbeRadius >= 0 && row + kProbeRadius < height &&
                      column - kProbeRadius >= 0 && column + kProbeRadius < width;
  int best_score = INT_MAX;
  int best_angle = 0;
  for (const ProbeLine& line : table.lines) {
    const int score =
        inside ? ProbeScore<true>(width, height, directionImage, row, column, table, line)
               : ProbeScore<false>(width, height, directionImage, row, column, table, line);
    if (score < best_score) {
      best_score = score;
      best_angle = line.angle;
    }
  }
  return best_angle;
}

void RefineSingularPoints(int width, int height, int blockSize,
                          const uint8_t* const* directionImage, SingularPointList* candidates,
                          SingularPointList* singularPoints) {
  assert(candidates->Count >= 0 && candidates->Count <= kSingularCapacity);
  std::memset(singularPoints, 0, sizeof(*singularPoints));
  int group_x[kSingularCapacity];
  int group_y[kSingularCapacity];
  uint8_t group_type[kSingularCapacity];
  for (;;) {
    // The group is the 8-connected component of the first unconsumed candidate.
    int members = 0;
    for (bool grew = true; grew;) {
      grew = false;
      for (int i = 0; i < candidates->Count; ++i) {
        if (candidates->Type[i] == 0) continue;
        bool joins = members == 0;
        for (int m = 0; m < members && !joins; ++m) {
          const int dx = candidates->X[i] - group_x[m];
          const int dy = candidates->Y[i] - group_y[m];
          joins = dx * dx + dy * dy < kMaxGroupDistance2;
        }
        if (!joins) continue;
        group_x[members] = candidates->X[i];
        group_y[members] = candidates->Y[i];
        group_type[members] = candidates->Type[i];
        ++members;
        candidates->Type[i] = 0;
        grew = true;
      }
    }
    if (members == 0) break;
    if (std::any_of(group_type, group_type + members,
                    [&](uint8_t t) { return t != group_type[0]; })) {
      continue;  // members of mixed type yield no point
    }

    int best = -1;
    int best_row = 0;
    int best_column = 0;
    for (int m = 0; m < members; ++m) {
      for (int y = group_y[m] * blockSize; y < (group_y[m] + 1) * blockSize; ++y) {
        ScanDisagreement(directionImage, y, group_x[m] * blockSize, blockSize, &best, &best_row,
                         &best_column);
      }
    }
    // The window stays where the block search put it; only a strictly greater value moves the
    // point.
    const int center_row = best_row;
    const int center_column = best_column;
    for (int y = center_row - kRefineRadius; y <= center_row + kRefineRadius; ++y) {
      ScanDisagreement(directionImage, y, center_column - kRefineRadius, 2 * kRefineRadius + 1,
                       &best, &best_row, &best_column);
    }
    Append(singularPoints, best_column, best_row,
           SingularDirection(width, height, directionImage, best_row, best_column), group_type[0]);
  }
}

}  // namespace ridgeline
