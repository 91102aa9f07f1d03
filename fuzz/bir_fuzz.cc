// Feeds arbitrary bytes to the sample record reader: it must refuse or accept every input
// without reading outside it, and an accepted record's pixels must lie inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "adapter/bir_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ridgeline::SampleRecord record{};
  const std::span<const uint8_t> bytes(data, size);
  if (ridgeline::ReadSampleRecord(bytes, &record) != ridgeline::SampleRecordStatus::kOk) return 0;
  const bool inside =
      record.pixels.data() >= data && record.pixels.data() + record.pixels.size() <= data + size &&
      record.pixels.size() == size_t{record.width} * record.height && record.keptLength <= size;
  if (!inside) std::abort();
  return 0;
}
