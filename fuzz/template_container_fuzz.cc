// Fuzzes the path a stored TemplateContainer takes: header check, entry walk, structural check
// of each MinutiaTemplate and its decoding, then an append. Whatever the bytes, nothing may be
// read outside the blob, and a template that passes the check must decode into a FeatureSet
// the matcher can take: at most 250 minutiae, positions on the decoded grid, a 1..63 grid.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "adapter/template_container.h"
#include "extract/constants.h"
#include "extract/records.h"
#include "match/template_decode.h"

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
  const std::span<const uint8_t> blob(data, size);
  ContainerHeader header{};
  if (!ReadContainerHeader(blob, &header)) return 0;

  FeatureSet* fs = nullptr;
  FeatureSummary* summary = nullptr;
  if (!AllocFeatureRecords(&fs, &summary)) return 0;
  std::span<const uint8_t> first;
  for (int index = 0; index <= header.TemplateCount; ++index) {
    std::span<const uint8_t> entry;
    int bad = -1;
    if (!FindContainerEntry(blob, index, &entry, &bad)) {
      Require(bad >= 0 && bad <= index);
      break;
    }
    if (index == 0) first = entry;
    if (!CheckMinutiaTemplate(entry)) continue;
    DecodeTemplate(fs, summary, entry);
    CheckDecoded(*fs);
  }
  FreeFeatureRecords(fs, summary);

  // Appending the first entry back onto a copy of the blob.
  if (!first.empty()) {
    auto* copy = static_cast<uint8_t*>(std::malloc(size));
    if (copy == nullptr) return 0;
    std::memcpy(copy, data, size);
    size_t copy_size = size;
    if (AppendTemplateEntry(&copy, &copy_size, first) == AppendResult::kAppended) {
      Require(copy[5] == header.TemplateCount + 1);
    }
    std::free(copy);
  }
  return 0;
}
