// Feeds arbitrary bytes as a sample record to the acceptance entry point of an attached unit,
// then exports what it kept: no input may make either read or write outside its buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "adapter/engine_context.h"
#include "adapter/entry_points.h"
#include "platform/winbio_types.h"

namespace {

WINBIO_PIPELINE* AttachedPipeline() {
  static WINBIO_PIPELINE pipeline = [] {
    WINBIO_PIPELINE p{};
    p.SensorHandle = INVALID_HANDLE_VALUE;
    p.EngineHandle = INVALID_HANDLE_VALUE;
    p.StorageHandle = INVALID_HANDLE_VALUE;
    if (ridgeline::EngineAdapterAttach(&p) != S_OK) std::abort();
    return p;
  }();
  return &pipeline;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WINBIO_PIPELINE* pipeline = AttachedPipeline();
  WINBIO_REJECT_DETAIL reject = 0;
  // The record is only read; the entry point's signature is not const.
  auto* record = reinterpret_cast<PWINBIO_BIR>(const_cast<uint8_t*>(data));
  ridgeline::EngineAdapterAcceptSampleData(pipeline, record, size, 1, &reject);

  SIZE_T capacity = size;
  std::vector<uint8_t> out(size);
  const HRESULT hr = ridgeline::EngineAdapterExportEngineData(
      pipeline, 0x80, reinterpret_cast<PWINBIO_BIR*>(out.data()), &capacity);
  if (hr == S_OK && capacity != size) std::abort();
  return 0;
}
