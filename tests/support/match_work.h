// A matcher work area with the default MatchParams for the length of a test.
#pragma once

#include <new>

#include "match/match_params.h"
#include "match/match_work.h"
#include "match/work_area.h"

namespace ridgeline::testing {

class OwnedMatchWork {
 public:
  OwnedMatchWork() : OwnedMatchWork(DefaultParams()) {}
  explicit OwnedMatchWork(const MatchParams& params)
      : work_(BuildMatchWork(kMatchCapacity, kMapSize, kMapSize, kMatchCapacity, kMapSize, kMapSize,
                             params)) {
    if (work_ == nullptr) throw std::bad_alloc();
  }
  ~OwnedMatchWork() { FreeMatchWork(work_); }
  OwnedMatchWork(const OwnedMatchWork&) = delete;
  OwnedMatchWork& operator=(const OwnedMatchWork&) = delete;

  MatchWork* get() const { return work_; }
  MatchWork* operator->() const { return work_; }

  static MatchParams DefaultParams() {
    MatchParams params;
    InitMatchParams(&params);
    return params;
  }

 private:
  MatchWork* work_;
};

}  // namespace ridgeline::testing
