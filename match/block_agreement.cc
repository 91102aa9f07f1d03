// Block agreement. Each ridge block of A is carried by its centre into B; where it lands on a
// ridge block of B (B's first block row and column excluded), the two directions, as undirected
// lines, agree when they differ by at most 30 degrees.
#include "match/block_agreement.h"

#include <algorithm>

#include "match/match_kernels.h"

namespace ridgeline {

namespace {

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
  BlockCounts counts{};
  CountBlockAgreement(a, b, alignment, &counts);
  const int valid_a = counts.valid_a;
  const int overlap = counts.overlap;
  const int agree = counts.agree;
  if (overlap == 0) return 0;
  const int valid_b = RidgeBlocks(b);
  const int weighted = agree * (agree * score / overlap) / overlap;
  const int percent = overlap * 100 / std::max(valid_b, valid_a);
  return (weighted * (percent >= kFullOverlapPercent ? 100 : 2 * percent) + 50) / 100;
}

}  // namespace ridgeline
