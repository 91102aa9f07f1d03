// The matcher's work area: every table one comparison needs, allocated once per engine context
// for a fixed number of minutiae and a fixed block grid per side, and reused by each comparison.
// Callers outside the matcher see it only through this handle.
#pragma once

#include <memory>

#include "match/match_params.h"

namespace ridgeline {

struct MatchWork;

// Allocates a zeroed work area for up to maxA / maxB minutiae and the given block grids, and fills
// its variation weight table from params. Returns null when an allocation fails.
MatchWork* BuildMatchWork(int maxA, int colsA, int rowsA, int maxB, int colsB, int rowsB,
                          const MatchParams& params);
// Releases a work area built by BuildMatchWork; null does nothing.
void FreeMatchWork(MatchWork* work);

struct MatchWorkDeleter {
  void operator()(MatchWork* work) const { FreeMatchWork(work); }
};
using MatchWorkPtr = std::unique_ptr<MatchWork, MatchWorkDeleter>;

// The work area every engine context gives its matcher: 250 minutiae and a 64 x 64 grid a side,
// with the default MatchParams. Null when an allocation fails.
MatchWorkPtr BuildDefaultMatchWork();

}  // namespace ridgeline
