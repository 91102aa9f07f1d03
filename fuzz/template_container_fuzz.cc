// Fuzzes the path a stored TemplateContainer takes: _CheckTemplate, _ParseTemplate of every
// entry (walk, structural check, decode into scratch slots), then an append. Whatever the
// bytes, nothing may be read outside the blob, and a template that _ParseTemplate accepts must
// have decoded into a FeatureSet the matcher can take: 1..250 minutiae, positions on the
// decoded grid, a grid of 1..63 blocks a side.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "core/constants.h"
#include "core/records.h"
#include "template/template_container.h"
#include "template/template_layout.h"

namespace {

using namespace ridgeline;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckDecoded(const FeatureSet& fs) {
  Require(fs.Count >= 1 && fs.Count <= kMatchCapacity);
  Require(fs.BlockCols >= 1 && fs.BlockCols <= 63 && fs.BlockRows >= 1 && fs.BlockRows <= 63);
  for (int i = 0; i < fs.Count; ++i) {
    Require(fs.X[i] >= 0 && fs.X[i] < kBlockSize * fs.BlockCols);
    Require(fs.Y[i] >= 0 && fs.Y[i] < kBlockSize * fs.BlockRows);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact heap copy, so that a read one byte past the blob is caught.
  auto* blob = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (blob == nullptr) return 0;
  if (size > 0) std::memcpy(blob, data, size);
  const std::span<const uint8_t> container(blob, size);

  _CheckTemplate(container);
  FeatureSet* fs = nullptr;
  FeatureSummary* summary = nullptr;
  const int count = size > 5 ? blob[5] : 0;
  for (int index = 0; index <= count; ++index) {
    if (_ParseTemplate(container, index, &fs, &summary)) CheckDecoded(*fs);
  }
  FreeFeatureRecords(fs, summary);

  // Append the first entry (when there is one) back onto the blob.
  std::span<const uint8_t> first;
  int bad = 0;
  if (FindContainerEntry(container, 0, &first, &bad)) {
    // The record's own header gives its length; the entry may hold more bytes.
    const size_t length = first.size() >= 4 ? TemplateRecordSize(first) : 0;
    size_t new_size = size;
    if (AppendTemplateEntry(&blob, &new_size, first) == AppendResult::kAppended) {
      Require(new_size == size + 2 + length && blob[5] == count + 1);
    }
  }
  std::free(blob);
  return 0;
}
