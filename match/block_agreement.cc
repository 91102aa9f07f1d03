// Block agreement. Each ridge block of A is carried by its centre into B; where it lands on a
// ridge block of B (B's first block row and column excluded), the two directions, as undirected
// lines, agree when they differ by at most 30 degrees.
#include "match/block_agreement.h"

#include <algorithm>
#include <cstdlib>

#include "match/int_trig.h"

namespace ridgeline {

namespace {

constexpr int kHalfTurn = 180;
constexpr int kAgreeDegrees = 30;
constexpr int kFullOverlapPercent = 50;  // overlap from which the score is not reduced

int RidgeBlocks(const PairTables& t) {
  const int rows = std::min(t.block_rows, kMapSize);
  const int cols = std::min(t.block_cols, kMapSize);
  int count = 0;
  for (int r = 0; r < rows; ++r) {
    for (int q = 0; q < cols; ++q) count += t.map[r][q] != kEmptyBlock;
  }
  return count;
}

}  // namespace

int BlockAgreement(const PairTables& a, const PairTables& b, const MatchResult& alignment,
                   int score) {
  const int turn = alignment.Rotation > 179 ? alignment.Rotation - kHalfTurn : alignment.Rotation;
  const Rotation trig = RotationOf(alignment.Rotation);
  const int rows = std::min(a.block_rows, kMapSize);
  const int cols = std::min(a.block_cols, kMapSize);
  int valid_a = 0;
  int overlap = 0;
  int agree = 0;
  for (int r = 0; r < rows; ++r) {
    for (int q = 0; q < cols; ++q) {
      const int degrees_a = a.map[r][q];
      if (degrees_a == kEmptyBlock) continue;
      ++valid_a;
      const int x = kBlockSize * q + kBlockSize / 2;
      const int y = kBlockSize * r + kBlockSize / 2;
      const int column_b = (trig.X(x, y) + alignment.TX) >> 4;
      const int row_b = (trig.Y(x, y) + alignment.TY) >> 4;
      if (column_b < 1 || row_b < 1 || column_b >= b.block_cols || row_b >= b.block_rows) continue;
      const int degrees_b = BlockAt(b, row_b, column_b);
      if (degrees_b == kEmptyBlock) continue;
      ++overlap;
      int difference = std::abs((turn + degrees_a) % kHalfTurn - degrees_b);
      if (difference > kHalfTurn / 2) difference = kHalfTurn - difference;
      agree += difference <= kAgreeDegrees;
    }
  }
  if (overlap == 0) return 0;
  const int valid_b = RidgeBlocks(b);
  const int weighted = agree * (agree * score / overlap) / overlap;
  const int percent = overlap * 100 / std::max(valid_b, valid_a);
  return (weighted * (percent >= kFullOverlapPercent ? 100 : 2 * percent) + 50) / 100;
}

}  // namespace ridgeline
