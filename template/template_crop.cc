// Budget crops of a FeatureSet: bounding box of the non-empty blocks, shrinking toward the centre
// or from the bottom, origin move and map move; and the removal of minutiae outside the grid.
#include "template/template_crop.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/constants.h"
#include "template/template_layout.h"

namespace ridgeline {
namespace {

constexpr int16_t kCutMark = -1;  // X of a minutia cut by a shrinking loop

// Inclusive block columns c0..c1 and rows r0..r1.
struct BlockBox {
  int c0, c1, r0, r1;
  int cols() const { return c1 - c0 + 1; }
  int rows() const { return r1 - r0 + 1; }
};

// Pixel bounds, left and top inclusive, right and bottom exclusive; multiples of the block size.
struct PixelBox {
  int left, right, top, bottom;
  bool empty() const { return right <= left || bottom <= top; }
};

bool ColumnHasDirection(const FeatureSet& fs, int c) {
  for (int r = 0; r < fs.BlockRows; ++r) {
    if (!IsEmptyBlock(fs.DirectionMap[r][c])) return true;
  }
  return false;
}

bool RowHasDirection(const FeatureSet& fs, int r) {
  for (int c = 0; c < fs.BlockCols; ++c) {
    if (!IsEmptyBlock(fs.DirectionMap[r][c])) return true;
  }
  return false;
}

// The box of the non-empty blocks. A grid without any keeps its whole extent, so that a caller's
// minutiae are not thrown away with an empty (or, read literally, out-of-grid) box.
BlockBox NonEmptyBlockBox(const FeatureSet& fs) {
  const int cols = fs.BlockCols;
  const int rows = fs.BlockRows;
  int c0 = 0;
  while (c0 < cols && !ColumnHasDirection(fs, c0)) ++c0;
  if (c0 == cols) return {0, cols - 1, 0, rows - 1};
  int c1 = cols - 1;
  while (c1 > c0 && !ColumnHasDirection(fs, c1)) --c1;
  int r0 = 0;
  while (r0 < rows && !RowHasDirection(fs, r0)) ++r0;
  int r1 = rows - 1;
  while (r1 > r0 && !RowHasDirection(fs, r1)) --r1;
  return {c0, c1, r0, r1};
}

PixelBox ToPixels(const BlockBox& box) {
  return {kBlockSize * box.c0, kBlockSize * (box.c1 + 1), kBlockSize * box.r0,
          kBlockSize * (box.r1 + 1)};
}

// Marks every minutia not yet cut that `cut` selects and lowers *remaining for each.
template <typename Predicate>
void CutMinutiae(FeatureSet* fs, int* remaining, Predicate cut) {
  for (int i = 0; i < fs->Count; ++i) {
    if (fs->X[i] != kCutMark && cut(fs->X[i], fs->Y[i])) {
      fs->X[i] = kCutMark;
      --*remaining;
    }
  }
}

// The point the centre crop shrinks toward: the mean of the type-1 singular points when there
// are any and their mean is not the origin, else the mean of the minutiae.
// REQUIRES: fs.Count > 0.
void CropCentre(const FeatureSet& fs, const FeatureSummary* summary, int* cx, int* cy) {
  if (summary != nullptr) {
    const int count = std::clamp(summary->Count, 0, kSingularCapacity);
    int n = 0;
    int sx = 0;
    int sy = 0;
    for (int i = 0; i < count; ++i) {
      if (summary->Type[i] != 1) continue;
      sx += summary->X[i];
      sy += summary->Y[i];
      ++n;
    }
    if (n > 0 && (sx / n != 0 || sy / n != 0)) {
      *cx = sx / n;
      *cy = sy / n;
      return;
    }
  }
  int sx = 0;
  int sy = 0;
  for (int i = 0; i < fs.Count; ++i) {
    sx += fs.X[i];
    sy += fs.Y[i];
  }
  *cx = sx / fs.Count;
  *cy = sy / fs.Count;
}

// Cuts one block side at a time, always the side farthest from the centre (left first on a tie,
// then right; top before bottom when those two are equal), until the layout fits the budget.
// Stops early once the box is empty: no cut after that can make room.
void ShrinkTowardCentre(FeatureSet* fs, const FeatureSummary* summary, const BlockBox& box,
                        int entry_size, bool packed, int budget, PixelBox* px) {
  int cx = 0;
  int cy = 0;
  CropCentre(*fs, summary, &cx, &cy);
  int left_margin = kBlockSize * (cx / kBlockSize - box.c0);
  int right_margin = px->right - kBlockSize * (cx / kBlockSize);
  int top_margin = kBlockSize * (cy / kBlockSize - box.r0);
  int bottom_margin = px->bottom - kBlockSize * (cy / kBlockSize);
  int remaining = fs->Count;
  for (;;) {
    if (left_margin >= right_margin && left_margin >= top_margin && left_margin >= bottom_margin) {
      px->left += kBlockSize;
      left_margin -= kBlockSize;
      const int left = px->left;
      CutMinutiae(fs, &remaining, [left](int x, int) { return x < left; });
    } else if (right_margin >= top_margin && right_margin >= bottom_margin) {
      px->right -= kBlockSize;
      right_margin -= kBlockSize;
      const int right = px->right;
      CutMinutiae(fs, &remaining, [right](int x, int) { return x >= right; });
    } else if (top_margin < bottom_margin) {
      px->bottom -= kBlockSize;
      bottom_margin -= kBlockSize;
      const int bottom = px->bottom;
      CutMinutiae(fs, &remaining, [bottom](int, int y) { return y >= bottom; });
    } else {
      px->top += kBlockSize;
      top_margin -= kBlockSize;
      const int top = px->top;
      CutMinutiae(fs, &remaining, [top](int, int y) { return y < top; });
    }
    const int blocks = (px->bottom - px->top) * ((px->right - px->left) / kBlockSize) / kBlockSize;
    if (MapBytes(blocks, packed) + remaining * entry_size + kTemplateHeaderSize <= budget) return;
    if (px->empty()) return;
  }
}

// Cuts whole block rows from the bottom until the layout fits the budget or the box is empty.
void ShrinkFromBottom(FeatureSet* fs, const BlockBox& box, int entry_size, bool packed, int budget,
                      PixelBox* px) {
  int area = box.rows() * box.cols();
  int b = kBlockSize * box.r1;
  int remaining = fs->Count;
  for (;;) {
    const int cut_from = b;
    CutMinutiae(fs, &remaining, [cut_from](int, int y) { return y >= cut_from; });
    area -= box.cols();
    b -= kBlockSize;
    if (MapBytes(area, packed) + remaining * entry_size + kTemplateHeaderSize <= budget) break;
    if (b + kBlockSize <= px->top) break;
  }
  px->bottom = b + kBlockSize;
}

// Moves the origin to the box corner: accumulates the crop offsets, compacts and shifts the
// minutiae that survived, shifts the singular points, and moves the map so that the box starts
// at block (0, 0) with every cell outside it empty (0xFF).
void ApplyCrop(EngineParams* params, FeatureSet* fs, FeatureSummary* summary, const PixelBox& px) {
  params->CropX += px.left;
  params->CropY += px.top;

  int kept = 0;
  for (int i = 0; i < fs->Count; ++i) {
    if (fs->X[i] == kCutMark) continue;
    fs->X[kept] = static_cast<int16_t>(fs->X[i] - px.left);
    fs->Y[kept] = static_cast<int16_t>(fs->Y[i] - px.top);
    fs->Angle[kept] = fs->Angle[i];
    fs->Variation[kept] = fs->Variation[i];
    fs->Type[kept] = fs->Type[i];
    ++kept;
  }
  fs->Count = kept;

  if (summary != nullptr) {
    const int count = std::clamp(summary->Count, 0, kSingularCapacity);
    for (int i = 0; i < count; ++i) {
      summary->X[i] = static_cast<int16_t>(summary->X[i] - px.left);
      summary->Y[i] = static_cast<int16_t>(summary->Y[i] - px.top);
    }
  }

  // The box never leaves the grid and is at worst empty, so width and height are 0..64 and
  // every source cell lies inside the map.
  const int col0 = px.left / kBlockSize;
  const int row0 = px.top / kBlockSize;
  const int width = std::max(0, px.right / kBlockSize - col0);
  const int height = std::max(0, px.bottom / kBlockSize - row0);
  fs->BlockCols = static_cast<uint8_t>(width);
  fs->BlockRows = static_cast<uint8_t>(height);
  // Row m reads old row row0 + m >= m, which no earlier destination row has overwritten.
  for (int m = 0; m < height; ++m) {
    uint8_t* row = fs->DirectionMap[m];
    std::memmove(row, fs->DirectionMap[row0 + m] + col0, static_cast<size_t>(width));
    std::memset(row + width, kBackground, static_cast<size_t>(kMapSize - width));
  }
  for (int m = height; m < kMapSize; ++m) {
    std::memset(fs->DirectionMap[m], kBackground, kMapSize);
  }
}

void AssertGrid(const FeatureSet& fs) {
  assert(fs.BlockCols <= kMapSize && fs.BlockRows <= kMapSize);
  assert(fs.Count >= 0 && fs.Count <= kFeatureCapacity);
  static_cast<void>(fs);
}

}  // namespace

void CropToBudget(EngineParams* params, FeatureSet* featureSet, FeatureSummary* summary,
                  int budget) {
  AssertGrid(*featureSet);
  if (featureSet->Count <= 0) return;
  const BlockBox box = NonEmptyBlockBox(*featureSet);
  const int size = ChooseTemplateLayout(params, box.cols(), box.rows(), featureSet->Count, budget);
  PixelBox px = ToPixels(box);
  if (size > budget && !px.empty()) {
    ShrinkTowardCentre(featureSet, summary, box, params->TemplateSetting, params->TemplateFlag != 0,
                       budget, &px);
  }
  ApplyCrop(params, featureSet, summary, px);
}

void CropBottomToBudget(EngineParams* params, FeatureSet* featureSet, FeatureSummary* summary,
                        int budget) {
  AssertGrid(*featureSet);
  const BlockBox box = NonEmptyBlockBox(*featureSet);
  const int size =
      ChooseTemplateLayout(params, box.cols(), box.rows(), std::max(featureSet->Count, 0), budget);
  PixelBox px = ToPixels(box);
  if (size > budget && !px.empty()) {
    ShrinkFromBottom(featureSet, box, params->TemplateSetting, params->TemplateFlag != 0, budget,
                     &px);
  }
  ApplyCrop(params, featureSet, summary, px);
}

void DropOutsideMinutiae(FeatureSet* featureSet) {
  FeatureSet* fs = featureSet;
  const int width = fs->BlockCols;
  const int height = fs->BlockRows;
  int kept = 0;
  for (int i = 0; i < fs->Count; ++i) {
    const int x = fs->X[i];
    const int y = fs->Y[i];
    if (x < 0 || (x >> 4) >= width || y < 0 || (y >> 4) >= height) continue;
    fs->X[kept] = fs->X[i];
    fs->Y[kept] = fs->Y[i];
    fs->Angle[kept] = fs->Angle[i];
    fs->Variation[kept] = fs->Variation[i];
    fs->Type[kept] = fs->Type[i];
    ++kept;
  }
  fs->Count = kept;
}

}  // namespace ridgeline
