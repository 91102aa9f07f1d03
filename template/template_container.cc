// Reading, checking and extending a TemplateContainer. The blob is untrusted: each length is
// checked against its end before the bytes it covers are touched.
#include "template/template_container.h"

#include <cstdlib>
#include <cstring>

#include "core/byte_reader.h"
#include "core/constants.h"
#include "core/secure_wipe.h"
#include "core/trace_log.h"
#include "template/template_decode.h"
#include "template/template_layout.h"

namespace ridgeline {
namespace {

constexpr size_t kTemplateCountOffset = 5;
constexpr size_t kTemplateTypeOffset = 6;

// Reads one minutia position from an entry of the given width.
void ReadPosition(std::span<const uint8_t> e, int entry_size, int* x, int* y) {
  if (entry_size == kFullEntrySize) {
    *x = (e[0] << 2) | (e[1] >> 6);
    *y = ((e[1] & 63) << 4) | (e[2] >> 4);
  } else {
    *x = 2 * e[0];
    *y = 2 * e[1];
  }
}

}  // namespace

bool ReadContainerHeader(std::span<const uint8_t> container, ContainerHeader* header) {
  ByteReader reader(container);
  if (!reader.Skip(4) || !reader.ReadU8(&header->Version) ||
      !reader.ReadU8(&header->TemplateCount) || !reader.ReadU16Le(&header->TemplateType)) {
    return false;
  }
  return true;
}

bool FindContainerEntry(std::span<const uint8_t> container, int index,
                        std::span<const uint8_t>* entry, int* badEntry) {
  ByteReader reader(container);
  if (!reader.Skip(kContainerHeaderSize)) {
    *badEntry = 0;
    return false;
  }
  for (int i = 0; i <= index; ++i) {
    uint16_t length = 0;
    std::span<const uint8_t> bytes;
    if (!reader.ReadU16Le(&length) || !reader.ReadBytes(length, &bytes)) {
      *badEntry = i;
      return false;
    }
    if (i == index) *entry = bytes;
  }
  return true;
}

bool CheckMinutiaTemplate(std::span<const uint8_t> entry) {
  ByteReader header(entry);
  uint8_t b0 = 0;
  uint8_t count = 0;
  uint8_t b2 = 0;
  uint8_t b3 = 0;
  if (!header.ReadU8(&b0) || !header.ReadU8(&count) || !header.ReadU8(&b2) || !header.ReadU8(&b3)) {
    return false;
  }
  if (count < 1 || count > kMatchCapacity) return false;
  const int cols = b2 & kGridSideMask;
  const int rows = b3 & kGridSideMask;
  if (cols == 0 || rows == 0) return false;
  const int map_bytes = MapBytes(cols * rows, (b2 & kUnpackedMapBit) == 0);
  const int entry_size = b0 & 0x7;
  if (entry_size != kFullEntrySize && entry_size != kShortEntrySize) return false;
  // The entries start at the header length the record states, so that length (not the
  // writer's 8) decides where the record ends; below 8 it would overlap the header fields.
  const int header_size = b0 >> 3;
  if (header_size < kTemplateHeaderSize) return false;
  const size_t needed = static_cast<size_t>(header_size + entry_size * count + map_bytes);
  if (entry.size() < needed) return false;

  const int max_x = cols * kBlockSize + 15;
  const int max_y = rows * kBlockSize + 15;
  ByteReader entries(entry.subspan(static_cast<size_t>(header_size)));
  for (int i = 0; i < count; ++i) {
    std::span<const uint8_t> e;
    if (!entries.ReadBytes(static_cast<size_t>(entry_size), &e)) return false;
    int x = 0;
    int y = 0;
    ReadPosition(e, entry_size, &x, &y);
    if (x > max_x || y > max_y) return false;
  }
  return true;
}

AppendResult AppendTemplateEntry(uint8_t** container, size_t* containerSize,
                                 std::span<const uint8_t> minutiaTemplate) {
  if (minutiaTemplate.size() < 4) return AppendResult::kBadTemplate;
  const size_t length = TemplateRecordSize(minutiaTemplate);
  if (length == 0 || length > minutiaTemplate.size()) return AppendResult::kBadTemplate;

  const bool carry = *container != nullptr && *containerSize > kContainerHeaderSize;
  const size_t base = carry ? *containerSize : kContainerHeaderSize;
  uint8_t count = 0;
  if (carry) {
    count = (*container)[kTemplateCountOffset];
    if (count >= kMaxContainerEntries) return AppendResult::kContainerFull;
  }

  auto* blob = static_cast<uint8_t*>(std::calloc(base + 2 + length, 1));
  if (blob == nullptr) return AppendResult::kOutOfMemory;
  if (carry) std::memcpy(blob, *container, base);
  blob[kTemplateCountOffset] = static_cast<uint8_t>(count + 1);
  blob[kTemplateTypeOffset] = static_cast<uint8_t>(kMinutiaTemplateType & 0xFF);
  blob[kTemplateTypeOffset + 1] = static_cast<uint8_t>(kMinutiaTemplateType >> 8);
  blob[base] = static_cast<uint8_t>(length & 0xFF);
  blob[base + 1] = static_cast<uint8_t>(length >> 8);
  std::memcpy(blob + base + 2, minutiaTemplate.data(), length);

  std::free(*container);
  *container = blob;
  *containerSize = base + 2 + length;
  return AppendResult::kAppended;
}

bool _CheckTemplate(std::span<const uint8_t> container) {
  ContainerHeader header{};
  if (container.data() == nullptr || !ReadContainerHeader(container, &header)) return false;
  if (header.Version != 0 || header.TemplateCount == 0) {
    TraceLog("_CheckTemplate TemplateData->Version = %d, TemplateData->TemplateCount = %d\n",
             header.Version, header.TemplateCount);
    return false;
  }
  if (header.TemplateType != kMinutiaTemplateType) {
    TraceLog("_CheckTemplate TemplateData->TemplateType = %d\n", header.TemplateType);
    return false;
  }
  return true;
}

bool _ParseTemplate(std::span<const uint8_t> container, int index, FeatureSet** featureSet,
                    FeatureSummary** summary) {
  TraceLog("_ParseTemplate(idx=%d)\n", index);
  // A blob too short to hold TemplateCount is as unusable as none.
  if (container.data() == nullptr || container.size() <= kTemplateCountOffset) {
    TraceLog("_ParseTemplate abnormal parameters (null)\n");
    return false;
  }
  const int count = container[kTemplateCountOffset];
  if (index < 0 || index >= count) {
    TraceLog("_ParseTemplate abnormal parameters (template count=%d)\n", count);
    return false;
  }
  std::span<const uint8_t> entry;
  int bad_entry = 0;
  if (!FindContainerEntry(container, index, &entry, &bad_entry)) {
    TraceLog("_ParseTemplate abnormal data @ %d\n", bad_entry);
    TraceLog("_ParseTemplate done %d\n", 0);
    return false;
  }
  if (entry.empty()) {
    TraceLog("_ParseTemplate done %d\n", 0);
    return false;
  }
  TraceLog("_ParseTemplate size@%d = %lu\n", index, static_cast<unsigned long>(entry.size()));
  bool decoded = false;
  if (CheckMinutiaTemplate(entry)) {
    if (*featureSet == nullptr || *summary == nullptr) {
      // Pairs live and die together: a lone half is released before a new pair replaces it.
      _SecureClearFeaturePair(featureSet, summary);
      AllocFeatureRecords(featureSet, summary);
    }
    if (*featureSet != nullptr) {
      DecodeTemplate(*featureSet, *summary, entry);
      decoded = true;
    }
  }
  TraceLog("_ParseTemplate done %d\n", decoded ? 1 : 0);
  return decoded;
}

}  // namespace ridgeline
