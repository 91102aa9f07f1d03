#include "core/engine_params.h"

namespace ridgeline {

void InitEngineParams(EngineParams* params) {
  EngineParams& p = *params;
  p.MatchSettingA = 8;
  p.MatchSettingB = 150;
  p.AdaptiveBinarization = 1;
  p.PrefilterEnabled = 0;
  p.PrefilterBlock = 16;
  p.AuxSetting1 = 3;
  p.CropMode = 0;
  p.BinWindowSmall = 3;
  p.BinWindowMedium = 5;
  p.BinWindowLarge = 7;
  p.ClarityHigh = 130;
  p.ClarityLow = 115;
  p.AuxSetting2 = 19;
  p.PixelContrastThreshold = 23;
  p.ContrastThreshold = 17;
  p.IsotropyLimit = 196;
  p.MaskIsotropyLimit = 207;
  p.BinarySmoothPasses = 2;
  p.AnisotropyHigh = 30;
  p.AnisotropyLow = 20;
  p.SmoothLevelBase = 0;
  p.SmoothLevelScale = 4;
  p.AuxSetting3 = 12;
  p.RemoveOpposedPairs = 1;
  p.ContrastCheck = 1;
  p.ReservedA = 0;
  p.ExportMask = 0;
  p.MaskImage = nullptr;
  p.AuxSetting4 = 0;
  p.AuxPointer = nullptr;
  p.SecurityLevel = 1;
  p.SourceResolution = 500;
  p.TargetResolution = 500;
  p.CropX = 0;
  p.CropY = 0;
  p.OriginX2 = 0;
  p.OriginY2 = 0;
  p.TemplateTag1 = 0;
  p.TemplateTag2 = 0;
  p.TemplateTag3 = 85;
  p.TemplateTag4 = 70;
  p.TemplateSetting = 4;
  p.TemplateFlag = 1;
  for (int i = 2; i <= 9; ++i) p.ReservedBytes[i] = 0;
  p.TemplateBuilder = 0;
}

}  // namespace ridgeline
