// Runs a test body once per vector instruction set the engine's run-time dispatch can pick on
// this processor, so that every compiled form is checked, not only the best one.
#pragma once

#include <string>

#include <gtest/gtest.h>

#if RIDGELINE_HIGHWAY
#include <hwy/targets.h>
#endif

namespace ridgeline::testing {

// body(name) for every instruction set, with dispatch restricted to it; returns the count.
template <class Body>
int ForEachVectorTarget(Body body) {
#if RIDGELINE_HIGHWAY
  int count = 0;
  for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    const std::string name = hwy::TargetName(target);
    SCOPED_TRACE(name);
    body(name);
    ++count;
  }
  hwy::SetSupportedTargetsForTest(0);
  return count;
#else
  body(std::string("portable"));
  return 1;
#endif
}

}  // namespace ridgeline::testing
