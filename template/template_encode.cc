// The MinutiaTemplate writer: header, minutia entries in the chosen width, block map in the
// chosen encoding. Fitting the record into the buffer is the layout choice and the budget crop.
#include "template/template_encode.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/constants.h"
#include "template/template_crop.h"
#include "template/template_layout.h"

namespace ridgeline {
namespace {

constexpr int kMaxVariation = 127;  // 7 bits in either entry width
// A short entry's angle code: degrees x 70833 / 100000, rounded; 0..359 maps to 0..254.
constexpr int kAngleCodeScale = 70833;
constexpr int kAngleCodeDivisor = 100000;

// The header's 6-bit grid sides cannot say 64: drop the last column or row (its minutiae and
// map cells) so the grid reads 63. Origin and crop offsets stay.
void CutGridSidesTo63(FeatureSet* fs) {
  bool cut = false;
  if (fs->BlockCols > kMaxTemplateGridSide) {
    fs->BlockCols = kMaxTemplateGridSide;
    for (int r = 0; r < kMapSize; ++r) fs->DirectionMap[r][kMaxTemplateGridSide] = kBackground;
    cut = true;
  }
  if (fs->BlockRows > kMaxTemplateGridSide) {
    fs->BlockRows = kMaxTemplateGridSide;
    std::memset(fs->DirectionMap[kMaxTemplateGridSide], kBackground, kMapSize);
    cut = true;
  }
  if (cut) DropOutsideMinutiae(fs);
}

void WriteFullEntry(const FeatureSet& fs, int i, uint8_t* out) {
  const unsigned x = static_cast<uint16_t>(fs.X[i]) & 0x3FFu;
  const unsigned y = static_cast<uint16_t>(fs.Y[i]) & 0x3FFu;
  const unsigned angle = static_cast<uint16_t>(fs.Angle[i]) & 0x1FFu;
  const unsigned type = fs.Type[i] & 0x0Fu;
  const unsigned variation = std::min<unsigned>(fs.Variation[i], kMaxVariation);
  out[0] = static_cast<uint8_t>(x >> 2);
  out[1] = static_cast<uint8_t>(((x & 0x3u) << 6) | (y >> 4));
  out[2] = static_cast<uint8_t>(((y & 0xFu) << 4) | type);
  out[3] = static_cast<uint8_t>(angle >> 1);
  out[4] = static_cast<uint8_t>(((angle & 0x1u) << 7) | variation);
}

void WriteShortEntry(const FeatureSet& fs, int i, uint8_t* out) {
  const unsigned variation = std::min<unsigned>(fs.Variation[i], kMaxVariation);
  out[0] = static_cast<uint8_t>(fs.X[i] / 2);
  out[1] = static_cast<uint8_t>(fs.Y[i] / 2);
  out[2] = static_cast<uint8_t>((fs.Angle[i] * kAngleCodeScale + kAngleCodeDivisor / 2) /
                                kAngleCodeDivisor);
  out[3] = static_cast<uint8_t>(((fs.Type[i] & 0x1u) << 7) | variation);
}

uint8_t PackedCode(uint8_t cell) {
  if (IsEmptyBlock(cell)) return kPackedEmptyCode;
  const int code = (cell + 4) / 8;
  // Directions 116..119 round up to 15, next to 0 on the circle, and 15 means empty.
  return code == kPackedEmptyCode ? 0 : static_cast<uint8_t>(code & 0x0F);
}

// Cells run on across row ends, high nibble first; an odd total leaves the last low nibble 0.
void WritePackedMap(const FeatureSet& fs, uint8_t* out) {
  int k = 0;
  for (int r = 0; r < fs.BlockRows; ++r) {
    for (int c = 0; c < fs.BlockCols; ++c, ++k) {
      const uint8_t code = PackedCode(fs.DirectionMap[r][c]);
      out[k / 2] |= (k % 2 == 0) ? static_cast<uint8_t>(code << 4) : code;
    }
  }
}

void WriteUnpackedMap(const FeatureSet& fs, uint8_t* out) {
  for (int r = 0; r < fs.BlockRows; ++r) {
    std::memcpy(out + r * fs.BlockCols, fs.DirectionMap[r], fs.BlockCols);
  }
}

}  // namespace

void EncodeTemplate(EngineParams* params, FeatureSet* featureSet, uint8_t boundaryDensity,
                    std::span<uint8_t> buffer) {
  assert(featureSet->BlockCols <= kMapSize && featureSet->BlockRows <= kMapSize);
  std::fill(buffer.begin(), buffer.end(), uint8_t{0});
  if (featureSet->Count <= 0) return;
  if (featureSet->Count > kMaxTemplateMinutiae) featureSet->Count = kMaxTemplateMinutiae;
  CutGridSidesTo63(featureSet);
  if (featureSet->Count == 0) return;  // the cut column or row held every minutia

  const int capacity = static_cast<int>(std::min<size_t>(buffer.size(), 1 << 30));
  if (EstimateTemplateSize(params, featureSet, capacity) > capacity) {
    CropToBudget(params, featureSet, nullptr, capacity);
    DropOutsideMinutiae(featureSet);
  }

  const FeatureSet& fs = *featureSet;
  const int entry_size = params->TemplateSetting;
  const bool packed = params->TemplateFlag != 0;
  const int blocks = fs.BlockCols * fs.BlockRows;
  const int size = kTemplateHeaderSize + fs.Count * entry_size + MapBytes(blocks, packed);
  if (size > capacity) return;

  uint8_t* out = buffer.data();
  out[0] = static_cast<uint8_t>((kTemplateHeaderSize << 3) | entry_size);
  out[1] = static_cast<uint8_t>(fs.Count);
  out[2] = static_cast<uint8_t>((packed ? 0 : kUnpackedMapBit) | (fs.BlockCols & kGridSideMask));
  out[3] = static_cast<uint8_t>(fs.BlockRows & kGridSideMask);
  out[4] = boundaryDensity;
  out[5] = static_cast<uint8_t>(8 * params->TemplateTag1 + params->TemplateTag2);
  out[6] = params->TemplateTag3;
  out[7] = params->TemplateTag4;

  uint8_t* entry = out + kTemplateHeaderSize;
  for (int i = 0; i < fs.Count; ++i, entry += entry_size) {
    if (entry_size == kFullEntrySize) {
      WriteFullEntry(fs, i, entry);
    } else {
      WriteShortEntry(fs, i, entry);
    }
  }
  if (packed) {
    WritePackedMap(fs, entry);
  } else {
    WriteUnpackedMap(fs, entry);
  }
}

}  // namespace ridgeline
