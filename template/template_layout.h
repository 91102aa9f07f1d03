// The byte layout of a MinutiaTemplate: its header fields, entry widths and map encodings, the
// choice of the cheapest layout that fits a byte budget, and the record size read back from a
// header. Shared by the encoder, the decoder, the budget crops and the container checks.
#pragma once

#include <cstdint>
#include <span>

#include "core/engine_params.h"
#include "core/records.h"

namespace ridgeline {

// The version of the compact layout these routines write and read. A MinutiaTemplate carries no
// version byte of its own, so the number changes only with a new, incompatible layout.
constexpr int kTemplateFormatVersion = 1;

constexpr int kTemplateHeaderSize = 8;     // bytes before the first minutia entry
constexpr int kFullEntrySize = 5;          // X, Y 10 bits, Angle 9 bits, Type 4, Variation 7
constexpr int kShortEntrySize = 4;         // X / 2, Y / 2 in a byte each, Angle in 255 steps
constexpr int kMaxTemplateMinutiae = 255;  // the count is one header byte
constexpr int kMaxTemplateGridSide = 63;   // the header holds grid sides in 6 bits
// A short entry stores X / 2 and Y / 2 in one byte each, so it holds coordinates below 512:
// grids (or crop boxes) of at most 32 blocks a side.
constexpr int kMaxShortEntryGridSide = 32;
constexpr uint8_t kUnpackedMapBit = 0x80;  // header byte 2: one byte per block
constexpr uint8_t kGridSideMask = 0x3F;
constexpr int kPackedEmptyCode = 15;  // 4-bit code of an empty block

// A block map cell whose low 7 bits are all set (127 or 255) holds no direction.
inline bool IsEmptyBlock(uint8_t cell) { return (cell & 0x7F) == 0x7F; }

// Size in bytes of a block map of `blocks` cells, packed two cells a byte or one a byte.
inline int MapBytes(int blocks, bool packed) { return packed ? (blocks + 1) / 2 : blocks; }

// Picks the cheapest layout for `count` minutiae over a cols x rows grid: 5-byte entries with an
// unpacked map, else the packed map, else 4-byte entries (only on grids of at most 32 x 32
// blocks; a wider grid keeps 5-byte entries with the packed map). Writes TemplateSetting and
// TemplateFlag and returns the size of the chosen layout, which exceeds the budget when none
// fits.
int ChooseTemplateLayout(EngineParams* params, int cols, int rows, int count, int budget);

// Sets the layout fields for the whole grid of featureSet and returns the record size, or 0
// without a feature set.
int EstimateTemplateSize(EngineParams* params, const FeatureSet* featureSet, int budget);

// The record size a MinutiaTemplate header announces: header length + count x entry size + map
// bytes. REQUIRES: record holds at least the 4 header bytes read.
uint16_t TemplateRecordSize(std::span<const uint8_t> record);

}  // namespace ridgeline
