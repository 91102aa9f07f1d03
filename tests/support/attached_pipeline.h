// A unit's pipeline for adapter tests: unattached as the service hands it over, or attached for
// the life of the fixture (detached again at the end).
#pragma once

#include <cstdlib>

#include "adapter/engine_context.h"
#include "adapter/entry_points.h"
#include "platform/winbio_types.h"

namespace ridgeline::testing {

// A pipeline before attach: no context and an invalid engine handle.
inline WINBIO_PIPELINE UnattachedPipeline() {
  WINBIO_PIPELINE pipeline{};
  pipeline.SensorHandle = INVALID_HANDLE_VALUE;
  pipeline.EngineHandle = INVALID_HANDLE_VALUE;
  pipeline.StorageHandle = INVALID_HANDLE_VALUE;
  return pipeline;
}

class AttachedPipeline {
 public:
  AttachedPipeline() : pipeline_(UnattachedPipeline()) {
    if (EngineAdapterAttach(&pipeline_) != S_OK) std::abort();
  }
  ~AttachedPipeline() { EngineAdapterDetach(&pipeline_); }
  AttachedPipeline(const AttachedPipeline&) = delete;
  AttachedPipeline& operator=(const AttachedPipeline&) = delete;

  PWINBIO_PIPELINE get() { return &pipeline_; }
  EngineContext* context() { return pipeline_.EngineContext; }

 private:
  WINBIO_PIPELINE pipeline_;
};

}  // namespace ridgeline::testing
