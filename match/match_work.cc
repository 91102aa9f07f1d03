// Stand-in until the matcher's tables land: an empty work area that can be built and freed.
#include "match/match_work.h"

#include <new>

namespace ridgeline {

struct MatchWork {
  MatchParams params;
};

MatchWork* BuildMatchWork(int, int, int, int, int, int, const MatchParams& params) {
  return new (std::nothrow) MatchWork{params};
}

void FreeMatchWork(MatchWork* work) { delete work; }

}  // namespace ridgeline
