// A fresh folder under the system's temporary directory, removed with everything in it.
#pragma once

#include "tests/support/scratch_dir.h"

namespace ridgeline::eval::testing {

class TempFolder : public ridgeline::testing::ScratchDir {
 public:
  TempFolder() : ScratchDir("ridgeline-eval-test") {}
};

}  // namespace ridgeline::eval::testing
