// The extraction and template parameter block. One per engine context, written once at attach
// by InitEngineParams; stages read named fields, never literals.
#pragma once

#include <cstdint>

namespace ridgeline {

struct EngineParams {
  uint8_t MatchSettingA;
  uint8_t MatchSettingB;
  int32_t AdaptiveBinarization;  // nonzero: adaptive binarisation with a clarity map
  int32_t PrefilterEnabled;
  int32_t PrefilterBlock;
  int32_t AuxSetting1;
  int32_t CropMode;  // 0: no cropping to the finger area
  int32_t BinWindowSmall;
  int32_t BinWindowMedium;
  int32_t BinWindowLarge;
  uint8_t ClarityHigh;
  uint8_t ClarityLow;
  uint8_t AuxSetting2;
  uint8_t PixelContrastThreshold;
  uint8_t ContrastThreshold;
  uint8_t IsotropyLimit;
  uint8_t MaskIsotropyLimit;
  int32_t BinarySmoothPasses;
  uint8_t AnisotropyHigh;
  uint8_t AnisotropyLow;
  int32_t SmoothLevelBase;
  int32_t SmoothLevelScale;
  int32_t AuxSetting3;
  int32_t RemoveOpposedPairs;
  int32_t ContrastCheck;
  int32_t ReservedA;
  int32_t ExportMask;
  uint8_t** MaskImage;  // caller-supplied GrayImage of the image size receiving the mask
  int32_t AuxSetting4;
  void* AuxPointer;
  int32_t SecurityLevel;  // minimum minutia count: 0 -> 10, 1 -> 12, other -> 15
  int32_t SourceResolution;
  int32_t TargetResolution;
  int32_t CropX;  // pixels cut from the left, accumulated by the template crops
  int32_t CropY;  // pixels cut from the top
  int32_t CropWidth;
  int32_t CropHeight;
  int32_t OriginX2;
  int32_t OriginY2;
  uint8_t TemplateTag1;
  uint8_t TemplateTag2;
  uint8_t TemplateTag3;
  uint8_t TemplateTag4;
  uint8_t TemplateSetting;  // bytes per minutia entry of the compact template
  uint8_t TemplateFlag;     // 1: map stored as 4-bit codes; 0: one byte per block
  uint8_t ReservedBytes[14];
  uint8_t TemplateBuilder;  // 0: CropToBudget, 1: CropBottomToBudget with budget <= 384
};

// Writes every default. Fields without a default keep what the caller had there, so callers
// start from a zeroed block.
void InitEngineParams(EngineParams* params);

// A zeroed block with every default written.
inline EngineParams DefaultEngineParams() {
  EngineParams params{};
  InitEngineParams(&params);
  return params;
}

}  // namespace ridgeline
