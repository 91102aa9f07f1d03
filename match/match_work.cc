// Building and releasing the matcher's work area.
#include "match/match_work.h"

#include <new>

#include "match/work_area.h"

namespace ridgeline {

namespace {

bool SideFits(int max_minutiae, int cols, int rows) {
  return max_minutiae >= 0 && max_minutiae <= kMatchCapacity && cols >= 0 && cols <= kMapSize &&
         rows >= 0 && rows <= kMapSize;
}

}  // namespace

MatchWork* BuildMatchWork(int maxA, int colsA, int rowsA, int maxB, int colsB, int rowsB,
                          const MatchParams& params) {
  // The tables have fixed capacity; a larger request cannot be honoured.
  if (!SideFits(maxA, colsA, rowsA) || !SideFits(maxB, colsB, rowsB)) return nullptr;
  auto* work = new (std::nothrow) MatchWork();  // value-initialised: every table zeroed
  if (work == nullptr) return nullptr;
  work->params = params;
  const int span = params.VariationSpan;
  for (int d = 0; d < kVariationWeights; ++d) {
    work->variation_weight[d] = static_cast<uint8_t>(d < span ? 100 - (100 * d) / span : 0);
  }
  return work;
}

void FreeMatchWork(MatchWork* work) { delete work; }

MatchWorkPtr BuildDefaultMatchWork() {
  MatchParams params;
  InitMatchParams(&params);
  return MatchWorkPtr(BuildMatchWork(kMatchCapacity, kMapSize, kMapSize, kMatchCapacity, kMapSize,
                                     kMapSize, params));
}

}  // namespace ridgeline
