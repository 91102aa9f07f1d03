// The extraction driver: size check, pipeline, minutia filter, budget crop and quality score.
#include "extract/features_extraction.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/int_math.h"
#include "extract/extraction_pipeline.h"
#include "template/template_crop.h"

namespace ridgeline {

namespace {

constexpr int kNeighbourDistance = 7;  // candidates closer than this are neighbours
constexpr int kCrowdLimit = 2;         // a candidate with this many neighbours is dropped
constexpr int kBottomBudgetCap = 384;
constexpr int kQualityMinimumCount = 8;
constexpr int kSingularNearness = 5;  // squared block distance below which a block is "near"

// Keeps the candidates that lie on a usable block and are not crowded, in candidate order.
// Returns false when the work arrays cannot be allocated.
bool FilterIntoFeatureSet(int32_t width, int32_t height, const ExtractionResult& result,
                          FeatureSet* fs) {
  const int n = result.CandidateCount;
  std::unique_ptr<uint8_t[]> inside(new (std::nothrow) uint8_t[static_cast<size_t>(n) + 1]);
  // Neighbour counts are kept wide: a byte could wrap on a dense cluster and let it through.
  std::unique_ptr<uint16_t[]> neighbours(new (std::nothrow) uint16_t[static_cast<size_t>(n) + 1]);
  if (!inside || !neighbours) return false;
  for (int j = 0; j < n; ++j) {
    const int x = result.CandX[j];
    const int y = result.CandY[j];
    bool in = x >= 0 && x < width && y >= 0 && y < height && x / kBlockSize < result.BlockCols &&
              y / kBlockSize < result.BlockRows;
    if (in) in = (result.DirectionMap[y / kBlockSize][x / kBlockSize] & kCodeMask) != kNoDirection;
    inside[j] = in ? 1 : 0;
    neighbours[j] = 0;
  }
  for (int j = 0; j < n; ++j) {
    if (!inside[j]) continue;
    for (int k = j + 1; k < n; ++k) {
      if (!inside[k]) continue;
      const int dx = result.CandX[k] - result.CandX[j];
      const int dy = result.CandY[k] - result.CandY[j];
      if (IntSqrt(dx * dx + dy * dy) < kNeighbourDistance) {
        ++neighbours[j];
        ++neighbours[k];
      }
    }
  }
  int kept = 0;
  for (int j = 0; j < n; ++j) {
    if (!inside[j] || neighbours[j] >= kCrowdLimit) continue;
    fs->X[kept] = result.CandX[j];
    fs->Y[kept] = result.CandY[j];
    fs->Angle[kept] = result.CandAngle[j];
    fs->Variation[kept] = result.CandVariation[j];
    fs->Type[kept] = result.CandType[j];
    ++kept;
  }
  fs->Count = kept;
  return true;
}

}  // namespace

int Ramp20(int value, int low, int high) {
  if (value >= high) return 20;
  if (value <= low) return 0;
  return (value - low) * 20 / (high - low);
}

int MapQuality(int raw) {
  const int c = raw > 0 ? raw : 0;
  if (c >= 100) return 100;
  if (c == 50) return 80;
  if (c > 50) {
    const int mapped = (20 * c - 1975) / 50 + 100;
    return mapped > 100 ? 100 : mapped;
  }
  return (80 * c + 25) / 50;
}

int MinimumMinutiae(int32_t securityLevel) {
  if (securityLevel == 0) return 10;
  if (securityLevel == 1) return 12;
  return 15;
}

QualityScore ScoreQuality(const FeatureSet& fs, const FeatureSummary& summary,
                          uint8_t meanIsotropy) {
  const int w = fs.BlockCols;
  const int h = fs.BlockRows;
  QualityScore q;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) q.F += fs.DirectionMap[r][c] != kBackground;

  auto interior = [&](int c, int r) {
    if (c < 1 || c > w - 2 || r < 1 || r > h - 2) return false;
    return fs.DirectionMap[r][c] != kBackground && fs.DirectionMap[r][c - 1] != kBackground &&
           fs.DirectionMap[r][c + 1] != kBackground && fs.DirectionMap[r - 1][c] != kBackground &&
           fs.DirectionMap[r + 1][c] != kBackground;
  };
  auto near_singular = [&](int c, int r) {
    for (int i = 0; i < summary.Count; ++i) {
      const int dc = (summary.X[i] >> 4) - c;
      const int dr = (summary.Y[i] >> 4) - r;
      if (dc * dc + dr * dr < kSingularNearness) return true;
    }
    return false;
  };
  if (h >= 3) {
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) q.N += interior(c, r) && !near_singular(c, r);
  }
  for (int i = 0; i < fs.Count; ++i) {
    if (fs.X[i] < kBlockSize || fs.Y[i] < kBlockSize) continue;
    const int c = fs.X[i] >> 4;
    const int r = fs.Y[i] >> 4;
    q.M += interior(c, r) && !near_singular(c, r);
  }
  const int k1 = Ramp20(meanIsotropy, 40, 80);
  const int k2 = Ramp20(q.M, 8, 18);
  const int k3 = Ramp20(q.N, 70, 140);
  const int k4 = Ramp20(q.F, 100, 300);
  q.raw = ((k3 + 2 * k2 - 4 * k1 + 80) * 100 / 140) * k4 * 5 / 100;
  q.Quality = fs.Count < kQualityMinimumCount ? 0 : MapQuality(q.raw);
  return q;
}

int FinishFeatureExtraction(EngineParams* params, int32_t width, int32_t height,
                            const ExtractionResult& result, uint8_t meanIsotropy, FeatureSet* fs,
                            FeatureSummary* summary, int32_t templateBudget) {
  if (!FilterIntoFeatureSet(width, height, result, fs)) return 0;
  fs->BlockCols = result.BlockCols;
  fs->BlockRows = result.BlockRows;
  std::memcpy(fs->DirectionMap, result.DirectionMap, sizeof(fs->DirectionMap));

  const SingularPointList& sp = result.SingularPoints;
  summary->Count = sp.Count;
  for (int i = 0; i < sp.Count; ++i) {
    summary->X[i] = sp.X[i];
    summary->Y[i] = sp.Y[i];
    summary->Direction[i] = sp.Direction[i];
    summary->Type[i] = sp.Type[i];
  }
  summary->BoundaryDensity = result.BoundaryDensity;

  if (templateBudget != 0) {
    if (params->TemplateBuilder == 0) {
      CropToBudget(params, fs, summary, templateBudget);
    } else if (params->TemplateBuilder == 1) {
      CropBottomToBudget(params, fs, summary,
                         templateBudget < kBottomBudgetCap ? templateBudget : kBottomBudgetCap);
    }
    DropOutsideMinutiae(fs);
  }

  summary->Quality = static_cast<uint8_t>(ScoreQuality(*fs, *summary, meanIsotropy).Quality);
  return fs->Count >= MinimumMinutiae(params->SecurityLevel) ? 1 : 0;
}

int FeaturesExtractionEx(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                         int32_t resolutionPercent, FeatureSet* featureSet,
                         FeatureSummary* featureSummary, int32_t templateBudget, int32_t type) {
  return FeaturesExtractionInBands(params, width, height, image, resolutionPercent, featureSet,
                                   featureSummary, templateBudget, type, 1);
}

int FeaturesExtractionInBands(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                              int32_t resolutionPercent, FeatureSet* featureSet,
                              FeatureSummary* featureSummary, int32_t templateBudget,
                              int32_t /*type: only the type-3 score exists*/, int bands) {
  // With no cropping to the finger area the crop origin only restarts at 0.
  params->CropX = 0;
  params->CropY = 0;
  if (resolutionPercent <= 0) return 0;
  if (width * 100 / resolutionPercent > kMaxImageSide ||
      height * 100 / resolutionPercent > kMaxImageSide || width < kMinImageSide ||
      height < kMinImageSide) {
    return 0;
  }
  ExtractionResult result{};
  const int mean_isotropy = RunExtractionPipeline(params, width, height, image, &result, bands);
  if (mean_isotropy < 0) return 0;  // the pipeline could not allocate its working images
  return FinishFeatureExtraction(params, width, height, result, static_cast<uint8_t>(mean_isotropy),
                                 featureSet, featureSummary, templateBudget);
}

}  // namespace ridgeline
