// The extraction pipeline: one call per stage, in the fixed order, over a handful of working
// images that pass between the stages. Everything here lives for one call.
#include "extract/extraction_pipeline.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "core/int_math.h"
#include "extract/binarise.h"
#include "extract/binary_resmoothing.h"
#include "extract/block_direction.h"
#include "extract/block_mask.h"
#include "extract/contrast_stretch.h"
#include "extract/foreground.h"
#include "extract/local_mean.h"
#include "extract/minutiae_detect.h"
#include "extract/minutiae_filter.h"
#include "extract/oriented_kernels.h"
#include "extract/oriented_smoothing.h"
#include "extract/pixel_direction.h"
#include "extract/singular_points.h"
#include "extract/skeleton_repair.h"
#include "extract/thinning.h"
#include "extract/work_image.h"

namespace ridgeline {

namespace {

constexpr int kLocalMeanRadius = 16;
constexpr int kPixelDirectionHalfWindow = 12;
constexpr int kReSmoothRadius = 12;
constexpr int kForegroundHalfWindow = 16;
constexpr int kBoundaryDensityRadius = 16;
constexpr int kLocalMeanBinarizeRadius = 5;

// Binarises image as the first binarisation does: adaptively with the clarity map in scratch,
// or with a plain local mean when adaptive binarisation is off.
bool Binarize(const EngineParams* params, int32_t width, int32_t height, GrayImage image,
              const uint8_t* const* clarity_map) {
  if (params->AdaptiveBinarization != 0) {
    return AdaptiveBinarize(params, width, height, image, clarity_map);
  }
  return LocalMeanBinarize(width, height, image, kLocalMeanBinarizeRadius);
}

// The reach of each stage run in bands, in rows: output row y reads input rows y - R .. y + R
// only, and treats only rows within that reach as edge rows when they are.
//
// OrientedSmooth: no kernel tap lies more than kKernelReach rows away, the 3 x 3 mean of a pixel
// without direction one row.
constexpr int kOrientedSmoothReach = kKernelReach;
static_assert(kOrientedSmoothReach >= 1);
// EstimatePixelDirections: the window's rows y - half .. y + half, each variation reading the
// rows above and below it, and a row's variations counted only when it is not an edge row,
// which the window's outermost row is not when the sub-image holds one more row beyond it.
constexpr int kPixelDirectionReach = kPixelDirectionHalfWindow + 1;
// The gradient windows of the re-smoothing and the refresh: the window's gradient rows
// y - radius .. y + radius, each from the rows above and below it (and zero on an edge row).
constexpr int kGradientWindowReach = kReSmoothRadius + 1;
// LevelSmooth: a pass smooths along the kernels; the rounds of a pixel are the level bits 0-2,
// so no pixel is smoothed after the seventh pass and a pass reads the result of the last.
constexpr int kMaxSmoothRounds = 7;
constexpr int kLevelSmoothReach = kMaxSmoothRounds * kKernelReach;

// Binarisation against window means: the largest window's radius. The adaptive mode picks each
// pixel's window from the clarity map's value at that pixel alone.
int BinarizeReach(const EngineParams& params) {
  if (params.AdaptiveBinarization == 0) return kLocalMeanBinarizeRadius;
  return std::max({params.BinWindowSmall, params.BinWindowMedium, params.BinWindowLarge, 0});
}
// The clarity map of the adaptive mode: the preliminary binary image (both window means), its
// boundary density (a window of indicator rows, each from the 3 x 3 blocks of the binary rows
// around it and not counted on an edge row: one row more), then its local mean.
int ClarityMapReach(const EngineParams& params) {
  const int pre = std::max({params.BinWindowSmall, params.BinWindowLarge, 0});
  return pre + (kBoundaryDensityRadius + 1) + kLocalMeanRadius;
}
// MajorityFilter: the 3 x 3 block; the edge rows become white.
constexpr int kMajorityReach = 1;

// ReSmoothBinary: each pass smooths along codes from the gradient windows of the image as the
// previous pass left it, so passes add their reach (the kernels' is the smaller).
// Beyond kMaxImageSide rows the halo holds every row anyway.
int ReSmoothReach(const EngineParams& params) {
  static_assert(kGradientWindowReach >= kKernelReach);
  const int passes = std::clamp(params.BinarySmoothPasses, 0, kMaxImageSide);
  return passes * kGradientWindowReach;
}

// The singular points of a sub-image whose row 0 is image row top.
SingularPointList ShiftedRows(const SingularPointList& points, int top) {
  SingularPointList shifted = points;
  const int count = std::clamp(points.Count, 0, kSingularCapacity);
  for (int i = 0; i < count; ++i) {
    // Far points stay far: a clamped row is still beyond every pixel's clearance.
    shifted.Y[i] = static_cast<int16_t>(std::clamp(points.Y[i] - top, INT16_MIN, INT16_MAX));
  }
  return shifted;
}

}  // namespace

bool SmoothAndEstimateDirectionsInBands(RowBands& bands, int width, int height, GrayImage image,
                                        GrayImage directionImage, int pixelContrastThreshold) {
  // The directions read the smoothed rows within their reach, themselves right within the
  // smoothing's reach of the own rows: the reaches add.
  constexpr int kHalo = kOrientedSmoothReach + kPixelDirectionReach;
  return bands.Run(width, height, kHalo, {{image, true}, {directionImage, true}},
                   [&](const BandRows& rows, GrayImage* view) {
                     return OrientedSmooth(width, rows.height(), view[0], view[1]) &&
                            EstimatePixelDirections(width, rows.height(), view[0], view[1],
                                                    kPixelDirectionHalfWindow,
                                                    pixelContrastThreshold);
                   });
}

bool BinarizeFirstInBands(RowBands& bands, const EngineParams* params, int width, int height,
                          GrayImage image, GrayImage clarityMap, GrayImage directionImage) {
  // A binarised row reads the smoothed rows within the binarisation's reach and the clarity map
  // of its own row, made from the smoothed rows within the map's reach.
  const bool adaptive = params->AdaptiveBinarization != 0;
  const int after_smoothing = adaptive ? std::max(ClarityMapReach(*params), BinarizeReach(*params))
                                       : BinarizeReach(*params);
  const int halo = kOrientedSmoothReach + after_smoothing;
  return bands.Run(
      width, height, halo, {{image, true}, {clarityMap, true}, {directionImage, false}},
      [&](const BandRows& rows, GrayImage* view) {
        const int h = rows.height();
        if (!OrientedSmooth(width, h, view[0], view[2])) return false;
        if (adaptive &&
            (!PreBinarize(params, width, h, view[0], view[1]) ||
             !MakeBoundaryDensityMap(width, h, view[1], view[2], kBoundaryDensityRadius) ||
             !LocalMean(width, h, view[1], kLocalMeanRadius))) {
          return false;
        }
        return Binarize(params, width, h, view[0], view[1]);
      });
}

bool BinarizeAndFilterInBands(RowBands& bands, const EngineParams* params, int width, int height,
                              GrayImage image, GrayImage clarityMap, bool binarize) {
  const int halo = (binarize ? BinarizeReach(*params) : 0) + kMajorityReach;
  return bands.Run(width, height, halo, {{image, true}, {clarityMap, false}},
                   [&](const BandRows& rows, GrayImage* view) {
                     const int h = rows.height();
                     if (binarize && !Binarize(params, width, h, view[0], view[1])) return false;
                     return MajorityFilter(width, h, view[0]);
                   });
}

bool ReSmoothBinaryInBands(RowBands& bands, const EngineParams* params, int width, int height,
                           GrayImage image) {
  return bands.Run(width, height, ReSmoothReach(*params), {{image, true}},
                   [&](const BandRows& rows, GrayImage* view) {
                     return ReSmoothBinary(params, width, rows.height(), view[0], kReSmoothRadius);
                   });
}

bool RefreshDirectionsInBands(RowBands& bands, const EngineParams* params, int width, int height,
                              GrayImage image, GrayImage directionImage, GrayImage levelMap,
                              const SingularPointList& singularPoints) {
  return bands.Run(width, height, kGradientWindowReach,
                   {{image, false}, {directionImage, true}, {levelMap, true}},
                   [&](const BandRows& rows, GrayImage* view) {
                     const SingularPointList points = ShiftedRows(singularPoints, rows.sub_begin);
                     return RefreshDirections(params, width, rows.height(), view[0], view[1],
                                              view[2], &points, kReSmoothRadius);
                   });
}

bool LevelSmoothInBands(RowBands& bands, int width, int height, GrayImage image,
                        GrayImage directionImage, GrayImage levelMap) {
  return bands.Run(width, height, kLevelSmoothReach,
                   {{image, true}, {directionImage, false}, {levelMap, true}},
                   [&](const BandRows& rows, GrayImage* view) {
                     return LevelSmooth(width, rows.height(), view[0], view[1], view[2]);
                   });
}

void CalmAroundCandidates(int blockCols, int blockRows, const SingularPointList& candidates,
                          GrayImage corrected, const uint8_t* const* unmasked) {
  for (int r = 0; r < blockRows; ++r) {
    for (int c = 0; c < blockCols; ++c) {
      bool on_candidate = false;
      bool near_candidate = false;
      for (int i = 0; i < candidates.Count; ++i) {
        const int dy = candidates.Y[i] - r;
        const int dx = candidates.X[i] - c;
        const int d2 = dy * dy + dx * dx;
        if (d2 < 2) on_candidate = true;
        if (d2 < 6) near_candidate = true;
      }
      if (on_candidate) {
        corrected[r][c] = kNoDirection;
      } else if (near_candidate) {
        corrected[r][c] = unmasked[r][c];
      }
    }
  }
}

void SpreadBlockDirections(int width, int height, const uint8_t* const* blockMap,
                           GrayImage directionImage) {
  // The pixel rows of one block row are equal: the first is written block by block, the others
  // copied from it.
  const size_t row_bytes = static_cast<size_t>(width);
  for (int top = 0; top < height; top += kBlockSize) {
    const uint8_t* blocks = blockMap[top / kBlockSize];
    uint8_t* first = directionImage[top];
    for (int x = 0; x < width; x += kBlockSize) {
      std::memset(first + x, blocks[x / kBlockSize],
                  static_cast<size_t>(std::min(kBlockSize, width - x)));
    }
    const int bottom = std::min(top + kBlockSize, height);
    for (int y = top + 1; y < bottom; ++y) std::memcpy(directionImage[y], first, row_bytes);
  }
}

void FillResultMap(int wholeCols, int wholeRows, const uint8_t* const* blockDirectionMap,
                   ExtractionResult* result) {
  std::memset(result->DirectionMap, kBackground, sizeof(result->DirectionMap));
  const int cols = wholeCols < kMapSize ? wholeCols : kMapSize;
  const int rows = wholeRows < kMapSize ? wholeRows : kMapSize;
  result->BlockCols = static_cast<uint8_t>(cols);
  result->BlockRows = static_cast<uint8_t>(rows);
  for (int r = 0; r < rows; ++r) {
    std::memcpy(result->DirectionMap[r], blockDirectionMap[r], static_cast<size_t>(cols));
  }
}

int RunExtractionPipeline(EngineParams* params, int32_t width, int32_t height, GrayImage image,
                          ExtractionResult* result, int bands) {
  GrayImage input = image;
  RowBands row_bands(bands);

  // 1. Working images; an untouched copy of the input for the final contrast test. Each of the
  // three is first written whole by a copy (input_copy here, scratch and direction in 2-5)
  // before any of its pixels is read, so none needs a fill.
  WorkImage scratch = WorkImage::Unfilled(width, height);
  WorkImage direction = WorkImage::Unfilled(width, height);
  WorkImage input_copy;
  if (!scratch || !direction) return -1;
  if (params->ContrastCheck != 0) {
    input_copy = WorkImage::Unfilled(width, height);
    if (!input_copy) return -1;
    CopyGrayImage(width, height, input, input_copy.get());
  }

  // 2-5. Pre-processing: 3 x 3 mean, local mean, contrast stretch, the direction input.
  if (!LocalMean3(width, height, input)) return -1;
  CopyGrayImage(width, height, input, scratch.get());
  if (!LocalMean(width, height, scratch.get(), kLocalMeanRadius)) return -1;
  if (!ContrastStretch(width, height, input, scratch.get(), kLocalMeanRadius)) return -1;
  CopyGrayImage(width, height, scratch.get(), direction.get());
  if (!LocalMean3(width, height, direction.get()) || !LocalMean3(width, height, direction.get())) {
    return -1;
  }

  // 6. The block grid: partial blocks count for the block maps, only whole ones later.
  const int block_cols = (width + kBlockSize - 1) / kBlockSize;
  const int block_rows = (height + kBlockSize - 1) / kBlockSize;
  const int whole_cols = width / kBlockSize;
  const int whole_rows = height / kBlockSize;
  WorkImage block_directions(block_cols, block_rows, kNoDirection);
  WorkImage block_isotropy(block_cols, block_rows, 255);
  WorkImage corrected(block_cols, block_rows, kNoDirection);
  WorkImage unmasked(block_cols, block_rows, kNoDirection);
  if (!block_directions || !block_isotropy || !corrected || !unmasked) return -1;

  // 7-9. Block directions, their unmasked copy, and the eroded block mask.
  if (!EstimateBlockDirections(*params, width, height, direction.get(), block_cols, block_rows,
                               kBlockSize, block_directions.get(), corrected.get(),
                               block_isotropy.get())) {
    return -1;
  }
  CopyGrayImage(block_cols, block_rows, block_directions.get(), unmasked.get());
  ErodeBlockMask(*params, block_cols, block_rows, block_directions.get(), block_isotropy.get());

  // 10-12. Singular candidates, a calm field around them, spread over the pixels.
  SingularPointList candidates{};
  FindSingularCandidates(whole_cols, whole_rows, block_directions.get(), &candidates);
  CalmAroundCandidates(block_cols, block_rows, candidates, corrected.get(), unmasked.get());
  SpreadBlockDirections(width, height, corrected.get(), direction.get());

  // 13-14. Oriented smoothing of the stretched image, then per-pixel directions; the scratch
  // image becomes the isotropy image.
  if (!SmoothAndEstimateDirectionsInBands(row_bands, width, height, scratch.get(), direction.get(),
                                          params->PixelContrastThreshold)) {
    return -1;
  }

  // 15-16. The result's block map, then the block maps are no longer needed.
  FillResultMap(whole_cols, whole_rows, block_directions.get(), result);
  block_directions.Release();
  block_isotropy.Release();
  corrected.Release();
  unmasked.Release();

  // 17-19. Singular points, the foreground mask, and oriented smoothing of the input.
  RefineSingularPoints(width, height, kBlockSize, direction.get(), &candidates,
                       &result->SingularPoints);
  const std::optional<uint8_t> foreground =
      MarkForeground(*params, width, height, direction.get(), scratch.get(), result->SingularPoints,
                     kForegroundHalfWindow);
  if (!foreground) return -1;
  const uint8_t mean_isotropy = *foreground;

  // 20. Oriented smoothing of the input, its binarisation (adaptively with the clarity map made
  // in scratch), binary re-smoothing and clean-up; scratch ends as the thinning input.
  if (!BinarizeFirstInBands(row_bands, params, width, height, input, scratch.get(),
                            direction.get())) {
    return -1;
  }
  const bool resmooth =
      params->BinarySmoothPasses + params->SmoothLevelBase + params->SmoothLevelScale != 0;
  if (resmooth) {
    if (params->BinarySmoothPasses != 0 &&
        !ReSmoothBinaryInBands(row_bands, params, width, height, input)) {
      return -1;
    }
    if (params->SmoothLevelBase + params->SmoothLevelScale != 0) {
      if (!RefreshDirectionsInBands(row_bands, params, width, height, input, direction.get(),
                                    scratch.get(), result->SingularPoints) ||
          !LevelSmoothInBands(row_bands, width, height, input, direction.get(), scratch.get())) {
        return -1;
      }
    }
  }
  if (!BinarizeAndFilterInBands(row_bands, params, width, height, input, scratch.get(), resmooth)) {
    return -1;
  }
  // The binary image twice: whole in scratch (the thinning input) and with its background
  // whitened in input, row by row while the row is in cache.
  for (int y = 0; y < height; ++y) {
    std::memcpy(scratch.get()[y], input[y], static_cast<size_t>(width));
    WhitenBackground(width, 1, input + y, direction.get() + y);
  }

  // 21. Mask export.
  if (params->ExportMask != 0 && params->MaskImage != nullptr) {
    for (int y = 0; y < height; ++y) {
      const uint8_t* dir = direction.get()[y];
      uint8_t* mask = params->MaskImage[y];
      for (int x = 0; x < width; ++x) mask[x] = (dir[x] & kBackgroundBit) ? 255 : 0;
    }
  }

  // 22. Boundary density, thinning, skeleton repair, minutiae.
  result->BoundaryDensity = MeasureBoundaryDensity(width, height, scratch.get(), direction.get());
  GrayImage skeleton = scratch.get();
  if (ThinRidges(width, height, skeleton) < 0) return -1;
  WhitenBackground(width, height, skeleton, direction.get());
  BridgeRidgeGaps(width, height, skeleton, direction.get(), kBridgeSearchRadius);
  CleanBifurcations(width, height, skeleton, direction.get(), kShortBranchLength,
                    kJunctionBridgeLength);
  DetectMinutiae(width, height, skeleton, direction.get(), result, kMinutiaTraceLength,
                 kMinEndingTrace, kMinBranchTrace, kVariationRadius);
  FilterMinutiae(*params, width, height, input_copy.get(), direction.get(), result, mean_isotropy);
  CompactCandidates(result);

  // 23. The working images are released on return.
  return mean_isotropy;
}

}  // namespace ridgeline
