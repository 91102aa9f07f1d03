// Layout choice and record size of the compact minutia template.
#include "template/template_layout.h"

#include <cassert>

namespace ridgeline {

int ChooseTemplateLayout(EngineParams* params, int cols, int rows, int count, int budget) {
  const int blocks = cols * rows;
  params->TemplateSetting = kFullEntrySize;
  params->TemplateFlag = 0;
  int size = kTemplateHeaderSize + kFullEntrySize * count + blocks;
  if (size <= budget) return size;
  params->TemplateFlag = 1;
  size = kTemplateHeaderSize + kFullEntrySize * count + MapBytes(blocks, true);
  if (size <= budget) return size;
  if (cols > kMaxShortEntryGridSide || rows > kMaxShortEntryGridSide) return size;
  params->TemplateSetting = kShortEntrySize;
  return size - count;
}

int EstimateTemplateSize(EngineParams* params, const FeatureSet* featureSet, int budget) {
  if (featureSet == nullptr) return 0;
  return ChooseTemplateLayout(params, featureSet->BlockCols, featureSet->BlockRows,
                              featureSet->Count, budget);
}

uint16_t TemplateRecordSize(std::span<const uint8_t> record) {
  assert(record.size() >= 4);
  const int b0 = record[0];
  const int b1 = record[1];
  const int b2 = record[2];
  const int b3 = record[3];
  // A packed record leaves bits 7 and 6 of byte 2 clear, so byte 2 is the width there.
  const int map = (b2 & kUnpackedMapBit) ? (b2 & kGridSideMask) * b3 : (b3 * b2 + 1) / 2;
  return static_cast<uint16_t>(b0 / 8 + b1 * (b0 % 8) + map);
}

}  // namespace ridgeline
