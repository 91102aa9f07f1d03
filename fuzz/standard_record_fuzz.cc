// Fuzzes the standard minutiae record reader in both modes, the import of every view it accepts
// into a feature set, and the writer on what was read. Whatever the bytes, nothing may be read
// outside them; a record the strict reader accepts must be written back to the same bytes; a
// record the lenient reader accepts must be written, and the writing read back strictly with the
// same minutiae.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "engine/record_export.h"
#include "template/standard_record.h"

namespace {

using namespace ridgeline;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

bool SameMinutiae(const StandardRecord& a, const StandardRecord& b) {
  if (a.views.size() != b.views.size()) return false;
  for (size_t v = 0; v < a.views.size(); ++v) {
    if (a.views[v].minutiae.size() != b.views[v].minutiae.size()) return false;
    for (size_t i = 0; i < a.views[v].minutiae.size(); ++i) {
      const RecordMinutia& m = a.views[v].minutiae[i];
      const RecordMinutia& n = b.views[v].minutiae[i];
      if (m.x != n.x || m.y != n.y || m.kind != n.kind || m.quality != n.quality) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<Engine> engine = Engine::Create();
  // An exact heap copy, so that a read one byte past the record is caught.
  auto* copy = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (copy == nullptr) return 0;
  if (size > 0) std::memcpy(copy, data, size);
  const std::span<const uint8_t> bytes(copy, size);

  StandardRecord record;
  std::string error;
  std::vector<uint8_t> written;
  if (ReadStandardRecord(bytes, RecordReadMode::kStrict, &record, &error)) {
    Require(WriteStandardRecord(record, &written, &error));
    Require(written.size() == size && std::memcmp(written.data(), copy, size) == 0);
  }
  std::vector<std::string> notes;
  if (ReadStandardRecord(bytes, RecordReadMode::kLenient, &record, &error, &notes)) {
    if (WriteStandardRecord(record, &written, &error)) {
      StandardRecord again;
      Require(ReadStandardRecord(written, RecordReadMode::kLenient, &again, &error));
      Require(SameMinutiae(record, again));
    }
    for (const FingerView& view : record.views) {
      FeaturePair features;
      bool from_item = false;
      if (ImportView(*engine, view, &features, &from_item, &error)) {
        const FeatureSet& set = *features.set();
        Require(set.Count >= 0 && set.BlockCols <= kMapSize && set.BlockRows <= kMapSize);
        if (set.Count >= 4) engine->Compare(set, set);
      }
    }
  }
  std::free(copy);
  return 0;
}
