// The TemplateContainer: the stored blob of an enrolled finger, an 8-byte little-endian header
// (reserved 0, Version 0, TemplateCount 1..255, TemplateType 2001) followed by TemplateCount
// entries, each a 16-bit little-endian length L and L bytes of one MinutiaTemplate.
//
// Containers come back from storage, so they are outside bytes: every routine here reads them
// through a ByteReader and checks each length against the end of the blob before using it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/records.h"

namespace ridgeline {

constexpr size_t kContainerHeaderSize = 8;
constexpr uint16_t kMinutiaTemplateType = 2001;
constexpr int kMaxContainerEntries = 255;  // TemplateCount is one byte

struct ContainerHeader {
  uint8_t Version;
  uint8_t TemplateCount;
  uint16_t TemplateType;
};

// Reads the header fields; false when the blob is shorter than the 8 header bytes.
bool ReadContainerHeader(std::span<const uint8_t> container, ContainerHeader* header);

// Walks the entries from the header on up to entry `index`, checking that each length field
// and its L bytes end inside the blob. On success *entry views entry index's L bytes (L may be
// 0). Otherwise *badEntry names the first entry that does not fit. The TemplateCount is not
// consulted. REQUIRES: index >= 0.
bool FindContainerEntry(std::span<const uint8_t> container, int index,
                        std::span<const uint8_t>* entry, int* badEntry);

// The structural check of one MinutiaTemplate of entry.size() bytes: 1..250 minutiae, a
// non-empty grid, entry size 5 or 4, a header length of at least 8, every byte the header
// announces inside the entry, and every minutia position inside the grid's limits. A template
// that passes can be given to DecodeTemplate and yields a FeatureSet the matcher can take.
bool CheckMinutiaTemplate(std::span<const uint8_t> entry);

enum class AppendResult {
  kAppended,
  kContainerFull,  // already 255 entries: TemplateCount would wrap to 0
  kBadTemplate,    // the record announces no bytes, or more than it holds
  kOutOfMemory,
};

// Appends the MinutiaTemplate at the start of minutiaTemplate (its length from its own header)
// to *container of *containerSize bytes, which may be null. A container of 8 bytes or fewer is
// not carried over: the result holds the new entry alone. On success the new blob (allocated
// with std::calloc) replaces the old one, which is released with std::free; on any other
// result nothing changes.
AppendResult AppendTemplateEntry(uint8_t** container, size_t* containerSize,
                                 std::span<const uint8_t> minutiaTemplate);

// The header check of a stored container: Version 0, TemplateCount at least 1, TemplateType
// 2001, each refusal traced. A null blob, or one shorter than its 8 header bytes, is refused
// without trace.
bool _CheckTemplate(std::span<const uint8_t> container);

// Finds entry `index` of the container by walking the entries from the header, runs the
// structural check on it and decodes it into the pair (*featureSet, *summary), creating the
// pair when either half is missing. True when the entry was valid and decoded. Every step is
// traced. The blob's TemplateType is not consulted; callers check the header first.
bool _ParseTemplate(std::span<const uint8_t> container, int index, FeatureSet** featureSet,
                    FeatureSummary** summary);

}  // namespace ridgeline
