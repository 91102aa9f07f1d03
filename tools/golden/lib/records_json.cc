#include "tools/golden/lib/records_json.h"

#include <new>
#include <stdexcept>
#include <type_traits>

namespace ridgeline::golden {

namespace {

template <typename T>
Json ArrayToJson(const T* values, int count) {
  Json out = Json::array();
  for (int i = 0; i < count; ++i) out.push_back(static_cast<int>(values[i]));
  return out;
}

template <typename T>
void ArrayFromJson(const Json& j, T* values, int count) {
  if (static_cast<int>(j.size()) < count) throw std::runtime_error("list shorter than Count");
  for (int i = 0; i < count; ++i) values[i] = static_cast<T>(j[static_cast<size_t>(i)].get<int>());
}

Json MapToJson(const uint8_t (&map)[kMapSize][kMapSize]) {
  Json rows = Json::array();
  for (int r = 0; r < kMapSize; ++r) rows.push_back(ArrayToJson(map[r], kMapSize));
  return rows;
}

void MapFromJson(const Json& j, uint8_t (&map)[kMapSize][kMapSize]) {
  for (int r = 0; r < kMapSize; ++r) ArrayFromJson(j.at(static_cast<size_t>(r)), map[r], kMapSize);
}

int CheckedCount(const Json& j, const char* field, int capacity) {
  const int n = j.at(field).get<int>();
  if (n < 0 || n > capacity) throw std::runtime_error(std::string(field) + " out of range");
  return n;
}

}  // namespace

EngineParams EngineParamsFromJson(const Json& fields) {
  EngineParams p = DefaultEngineParams();
  auto take = [&fields](const char* name, auto& field) {
    if (fields.contains(name))
      field = fields.at(name).get<std::remove_reference_t<decltype(field)>>();
  };
  take("MatchSettingA", p.MatchSettingA);
  take("MatchSettingB", p.MatchSettingB);
  take("AdaptiveBinarization", p.AdaptiveBinarization);
  take("PrefilterEnabled", p.PrefilterEnabled);
  take("PrefilterBlock", p.PrefilterBlock);
  take("AuxSetting1", p.AuxSetting1);
  take("CropMode", p.CropMode);
  take("BinWindowSmall", p.BinWindowSmall);
  take("BinWindowMedium", p.BinWindowMedium);
  take("BinWindowLarge", p.BinWindowLarge);
  take("ClarityHigh", p.ClarityHigh);
  take("ClarityLow", p.ClarityLow);
  take("AuxSetting2", p.AuxSetting2);
  take("PixelContrastThreshold", p.PixelContrastThreshold);
  take("ContrastThreshold", p.ContrastThreshold);
  take("IsotropyLimit", p.IsotropyLimit);
  take("MaskIsotropyLimit", p.MaskIsotropyLimit);
  take("BinarySmoothPasses", p.BinarySmoothPasses);
  take("AnisotropyHigh", p.AnisotropyHigh);
  take("AnisotropyLow", p.AnisotropyLow);
  take("SmoothLevelBase", p.SmoothLevelBase);
  take("SmoothLevelScale", p.SmoothLevelScale);
  take("AuxSetting3", p.AuxSetting3);
  take("RemoveOpposedPairs", p.RemoveOpposedPairs);
  take("ContrastCheck", p.ContrastCheck);
  take("ReservedA", p.ReservedA);
  take("ExportMask", p.ExportMask);
  take("AuxSetting4", p.AuxSetting4);
  take("SecurityLevel", p.SecurityLevel);
  take("SourceResolution", p.SourceResolution);
  take("TargetResolution", p.TargetResolution);
  take("CropX", p.CropX);
  take("CropY", p.CropY);
  take("CropWidth", p.CropWidth);
  take("CropHeight", p.CropHeight);
  take("OriginX2", p.OriginX2);
  take("OriginY2", p.OriginY2);
  take("TemplateTag1", p.TemplateTag1);
  take("TemplateTag2", p.TemplateTag2);
  take("TemplateTag3", p.TemplateTag3);
  take("TemplateTag4", p.TemplateTag4);
  take("TemplateSetting", p.TemplateSetting);
  take("TemplateFlag", p.TemplateFlag);
  take("TemplateBuilder", p.TemplateBuilder);
  return p;
}

Json SingularPointsToJson(const SingularPointList& list) {
  return Json{{"Count", list.Count},
              {"X", ArrayToJson(list.X, list.Count)},
              {"Y", ArrayToJson(list.Y, list.Count)},
              {"Direction", ArrayToJson(list.Direction, list.Count)},
              {"Type", ArrayToJson(list.Type, list.Count)}};
}

void SingularPointsFromJson(const Json& j, SingularPointList* list) {
  *list = SingularPointList{};
  list->Count = CheckedCount(j, "Count", kSingularCapacity);
  ArrayFromJson(j.at("X"), list->X, list->Count);
  ArrayFromJson(j.at("Y"), list->Y, list->Count);
  ArrayFromJson(j.at("Direction"), list->Direction, list->Count);
  ArrayFromJson(j.at("Type"), list->Type, list->Count);
}

Json CandidatesToJson(const ExtractionResult& r) {
  const int n = r.CandidateCount;
  return Json{{"CandidateCount", n},
              {"CandX", ArrayToJson(r.CandX, n)},
              {"CandY", ArrayToJson(r.CandY, n)},
              {"CandAngle", ArrayToJson(r.CandAngle, n)},
              {"CandType", ArrayToJson(r.CandType, n)},
              {"CandVariation", ArrayToJson(r.CandVariation, n)}};
}

void CandidatesFromJson(const Json& j, ExtractionResult* r) {
  r->CandidateCount = CheckedCount(j, "CandidateCount", kFeatureCapacity);
  ArrayFromJson(j.at("CandX"), r->CandX, r->CandidateCount);
  ArrayFromJson(j.at("CandY"), r->CandY, r->CandidateCount);
  ArrayFromJson(j.at("CandAngle"), r->CandAngle, r->CandidateCount);
  ArrayFromJson(j.at("CandType"), r->CandType, r->CandidateCount);
  ArrayFromJson(j.at("CandVariation"), r->CandVariation, r->CandidateCount);
}

Json ExtractionResultToJson(const ExtractionResult& r) {
  Json out = CandidatesToJson(r);
  out["SingularPoints"] = SingularPointsToJson(r.SingularPoints);
  out["BoundaryDensity"] = r.BoundaryDensity;
  out["BlockCols"] = r.BlockCols;
  out["BlockRows"] = r.BlockRows;
  out["DirectionMap"] = MapToJson(r.DirectionMap);
  return out;
}

void ExtractionResultFromJson(const Json& j, ExtractionResult* r) {
  CandidatesFromJson(j, r);
  SingularPointsFromJson(j.at("SingularPoints"), &r->SingularPoints);
  r->BoundaryDensity = j.at("BoundaryDensity").get<uint8_t>();
  r->BlockCols = j.at("BlockCols").get<uint8_t>();
  r->BlockRows = j.at("BlockRows").get<uint8_t>();
  MapFromJson(j.at("DirectionMap"), r->DirectionMap);
}

Json FeatureSetToJson(const FeatureSet& fs) {
  return Json{{"Count", fs.Count},
              {"X", ArrayToJson(fs.X, fs.Count)},
              {"Y", ArrayToJson(fs.Y, fs.Count)},
              {"Angle", ArrayToJson(fs.Angle, fs.Count)},
              {"Variation", ArrayToJson(fs.Variation, fs.Count)},
              {"Type", ArrayToJson(fs.Type, fs.Count)},
              {"BlockCols", fs.BlockCols},
              {"BlockRows", fs.BlockRows},
              {"DirectionMap", MapToJson(fs.DirectionMap)}};
}

void FeatureSetFromJson(const Json& j, FeatureSet* fs) {
  fs->Count = CheckedCount(j, "Count", kFeatureCapacity);
  ArrayFromJson(j.at("X"), fs->X, fs->Count);
  ArrayFromJson(j.at("Y"), fs->Y, fs->Count);
  ArrayFromJson(j.at("Angle"), fs->Angle, fs->Count);
  ArrayFromJson(j.at("Variation"), fs->Variation, fs->Count);
  ArrayFromJson(j.at("Type"), fs->Type, fs->Count);
  fs->BlockCols = j.at("BlockCols").get<uint8_t>();
  fs->BlockRows = j.at("BlockRows").get<uint8_t>();
  MapFromJson(j.at("DirectionMap"), fs->DirectionMap);
}

Json FeatureSummaryToJson(const FeatureSummary& s) {
  return Json{{"BoundaryDensity", s.BoundaryDensity},
              {"Quality", s.Quality},
              {"Count", s.Count},
              {"X", ArrayToJson(s.X, s.Count)},
              {"Y", ArrayToJson(s.Y, s.Count)},
              {"Direction", ArrayToJson(s.Direction, s.Count)},
              {"Type", ArrayToJson(s.Type, s.Count)}};
}

void FeatureSummaryFromJson(const Json& j, FeatureSummary* s) {
  s->BoundaryDensity = j.at("BoundaryDensity").get<uint8_t>();
  s->Quality = j.at("Quality").get<uint8_t>();
  s->Count = CheckedCount(j, "Count", kSingularCapacity);
  ArrayFromJson(j.at("X"), s->X, s->Count);
  ArrayFromJson(j.at("Y"), s->Y, s->Count);
  ArrayFromJson(j.at("Direction"), s->Direction, s->Count);
  ArrayFromJson(j.at("Type"), s->Type, s->Count);
}

OwnedFeatures::OwnedFeatures() {
  if (!AllocFeatureRecords(&set_, &summary_)) throw std::bad_alloc();
}

OwnedFeatures::~OwnedFeatures() { FreeFeatureRecords(set_, summary_); }

}  // namespace ridgeline::golden
