#include "extract/block_mask.h"

#include <algorithm>
#include <cassert>

#include "core/constants.h"

namespace ridgeline {
namespace {

// A block stays foreground only with more than this many usable blocks around it.
constexpr int kMaxUsableForBackground = 4;

}  // namespace

void ErodeBlockMask(const EngineParams& params, int blockCols, int blockRows,
                    GrayImage blockDirectionMap, const uint8_t* const* blockIsotropyMap) {
  assert(blockCols >= 0 && blockRows >= 0);
  const int limit = params.MaskIsotropyLimit;
  for (int r = 0; r < blockRows; ++r) {
    for (int c = 0; c < blockCols; ++c) {
      int usable = 0;
      for (int nr = std::max(r - 1, 0); nr <= std::min(r + 1, blockRows - 1); ++nr) {
        for (int nc = std::max(c - 1, 0); nc <= std::min(c + 1, blockCols - 1); ++nc) {
          if (blockIsotropyMap[nr][nc] < limit) ++usable;
        }
      }
      if (usable <= kMaxUsableForBackground) blockDirectionMap[r][c] = kBackground;
    }
  }
}

}  // namespace ridgeline
