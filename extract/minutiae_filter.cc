// Minutiae filtering and compaction of the candidate arrays.
#include "extract/minutiae_filter.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

#include "core/constants.h"
#include "core/int_math.h"

namespace ridgeline {

const int8_t kSinTable100[360] = {
    0,    2,    3,    5,    7,   9,   10,  12,  14,  16,  17,   19,   21,   22,   24,   26,   28,
    29,   31,   33,   34,   36,  37,  39,  41,  42,  44,  45,   47,   48,   50,   52,   53,   54,
    56,   57,   59,   60,   62,  63,  64,  66,  67,  68,  69,   71,   72,   73,   74,   75,   77,
    78,   79,   80,   81,   82,  83,  84,  85,  86,  87,  87,   88,   89,   90,   91,   91,   92,
    93,   93,   94,   95,   95,  96,  96,  97,  97,  97,  98,   98,   98,   99,   99,   99,   99,
    100,  100,  100,  100,  100, 100, 100, 100, 100, 100, 100,  99,   99,   99,   99,   98,   98,
    98,   97,   97,   97,   96,  96,  95,  95,  94,  93,  93,   92,   91,   91,   90,   89,   88,
    87,   87,   86,   85,   84,  83,  82,  81,  80,  79,  78,   77,   75,   74,   73,   72,   71,
    69,   68,   67,   66,   64,  63,  62,  60,  59,  57,  56,   54,   53,   52,   50,   48,   47,
    45,   44,   42,   41,   39,  37,  36,  34,  33,  31,  29,   28,   26,   24,   22,   21,   19,
    17,   16,   14,   12,   10,  9,   7,   5,   3,   2,   0,    -2,   -3,   -5,   -7,   -9,   -10,
    -12,  -14,  -16,  -17,  -19, -21, -22, -24, -26, -28, -29,  -31,  -33,  -34,  -36,  -37,  -39,
    -41,  -42,  -44,  -45,  -47, -48, -50, -52, -53, -54, -56,  -57,  -59,  -60,  -62,  -63,  -64,
    -66,  -67,  -68,  -69,  -71, -72, -73, -74, -75, -77, -78,  -79,  -80,  -81,  -82,  -83,  -84,
    -85,  -86,  -87,  -87,  -88, -89, -90, -91, -91, -92, -93,  -93,  -94,  -95,  -95,  -96,  -96,
    -97,  -97,  -97,  -98,  -98, -98, -99, -99, -99, -99, -100, -100, -100, -100, -100, -100, -100,
    -100, -100, -100, -100, -99, -99, -99, -99, -98, -98, -98,  -97,  -97,  -97,  -96,  -96,  -95,
    -95,  -94,  -93,  -93,  -92, -91, -91, -90, -89, -88, -87,  -87,  -86,  -85,  -84,  -83,  -82,
    -81,  -80,  -79,  -78,  -77, -75, -74, -73, -72, -71, -69,  -68,  -67,  -66,  -64,  -63,  -62,
    -60,  -59,  -57,  -56,  -54, -53, -52, -50, -48, -47, -45,  -44,  -42,  -41,  -39,  -37,  -36,
    -34,  -33,  -31,  -29,  -28, -26, -24, -22, -21, -19, -17,  -16,  -14,  -12,  -10,  -9,   -7,
    -5,   -3,   -2,
};

const int8_t kCosTable100[360] = {
    100, 100, 100, 100, 100, 100,  99,   99,   99,   99,   98,   98,   98,   97,   97,   97,   96,
    96,  95,  95,  94,  93,  93,   92,   91,   91,   90,   89,   88,   87,   87,   86,   85,   84,
    83,  82,  81,  80,  79,  78,   77,   75,   74,   73,   72,   71,   69,   68,   67,   66,   64,
    63,  62,  60,  59,  57,  56,   54,   53,   52,   50,   48,   47,   45,   44,   42,   41,   39,
    37,  36,  34,  33,  31,  29,   28,   26,   24,   22,   21,   19,   17,   16,   14,   12,   10,
    9,   7,   5,   3,   2,   0,    -2,   -3,   -5,   -7,   -9,   -10,  -12,  -14,  -16,  -17,  -19,
    -21, -22, -24, -26, -28, -29,  -31,  -33,  -34,  -36,  -37,  -39,  -41,  -42,  -44,  -45,  -47,
    -48, -50, -52, -53, -54, -56,  -57,  -59,  -60,  -62,  -63,  -64,  -66,  -67,  -68,  -69,  -71,
    -72, -73, -74, -75, -77, -78,  -79,  -80,  -81,  -82,  -83,  -84,  -85,  -86,  -87,  -87,  -88,
    -89, -90, -91, -91, -92, -93,  -93,  -94,  -95,  -95,  -96,  -96,  -97,  -97,  -97,  -98,  -98,
    -98, -99, -99, -99, -99, -100, -100, -100, -100, -100, -100, -100, -100, -100, -100, -100, -99,
    -99, -99, -99, -98, -98, -98,  -97,  -97,  -97,  -96,  -96,  -95,  -95,  -94,  -93,  -93,  -92,
    -91, -91, -90, -89, -88, -87,  -87,  -86,  -85,  -84,  -83,  -82,  -81,  -80,  -79,  -78,  -77,
    -75, -74, -73, -72, -71, -69,  -68,  -67,  -66,  -64,  -63,  -62,  -60,  -59,  -57,  -56,  -54,
    -53, -52, -50, -48, -47, -45,  -44,  -42,  -41,  -39,  -37,  -36,  -34,  -33,  -31,  -29,  -28,
    -26, -24, -22, -21, -19, -17,  -16,  -14,  -12,  -10,  -9,   -7,   -5,   -3,   -2,   0,    2,
    3,   5,   7,   9,   10,  12,   14,   16,   17,   19,   21,   22,   24,   26,   28,   29,   31,
    33,  34,  36,  37,  39,  41,   42,   44,   45,   47,   48,   50,   52,   53,   54,   56,   57,
    59,  60,  62,  63,  64,  66,   67,   68,   69,   71,   72,   73,   74,   75,   77,   78,   79,
    80,  81,  82,  83,  84,  85,   86,   87,   87,   88,   89,   90,   91,   91,   92,   93,   93,
    94,  95,  95,  96,  96,  97,   97,   97,   98,   98,   98,   99,   99,   99,   99,   100,  100,
    100, 100, 100,
};

namespace {

constexpr int kCrowdRadiusSquared = 225;  // distance below 15 pixels
constexpr int kCrowdRows = 15;            // rows within which a close candidate can lie
constexpr int kCrowdLimit = 5;            // more close neighbours than this is a crowd
constexpr int kFacingRows = 10;
constexpr int kFacingDistance = 6;        // pairs closer than this may face each other
constexpr int kEndingFacingDistance = 3;  // endings only when closer than this
constexpr int kFacingTolerance = 28;      // degrees off exactly opposite
constexpr int kEdgeMargin = 5;
constexpr int kBifurcationClearance = 3;  // background-free radius around a bifurcation
constexpr int kEndingClearance = 5;       // and around an ending
constexpr int kPatchHalf = 15;
constexpr int kPatchDiffRows = kPatchSize - 1;  // row-to-row differences per column
constexpr int kHalfPatch = kPatchSize / 2;
constexpr int kHalfContrast = 130;   // least mean difference x 100 of each half
constexpr int kTotalContrast = 760;  // least sum of the four

int SquaredDistance(const ExtractionResult& r, int i, int j) {
  const int dx = r.CandX[i] - r.CandX[j];
  const int dy = r.CandY[i] - r.CandY[j];
  return dx * dx + dy * dy;
}

// First index whose row is at least row; candidates are in row order.
int FirstAtRow(const ExtractionResult& r, int from, int row) {
  while (from < r.CandidateCount && r.CandY[from] < row) ++from;
  return from;
}

void MarkCrowded(ExtractionResult* r) {
  int start = 0;
  for (int i = 0; i < r->CandidateCount; ++i) {
    start = FirstAtRow(*r, start, r->CandY[i] - kCrowdRows);
    int close = 0;
    for (int j = start; j < r->CandidateCount && r->CandY[j] <= r->CandY[i] + kCrowdRows; ++j) {
      if (j != i && SquaredDistance(*r, i, j) < kCrowdRadiusSquared) ++close;
    }
    if (close > kCrowdLimit) r->CandAngle[i] = kCrowdedMark;
  }
}

void MarkFacingPairs(ExtractionResult* r) {
  int start = 0;
  for (int i = 0; i < r->CandidateCount; ++i) {
    start = FirstAtRow(*r, start, r->CandY[i] - kFacingRows);
    for (int j = start; j < r->CandidateCount && r->CandY[j] <= r->CandY[i] + kFacingRows; ++j) {
      if (j == i || r->CandAngle[i] < 0 || r->CandAngle[j] < 0) continue;
      const int d = IntSqrt(SquaredDistance(*r, i, j));
      if (d >= kFacingDistance) continue;
      if (!(r->CandType[i] != 0 && r->CandType[j] != 0) && d >= kEndingFacingDistance) continue;
      const int v = ((r->CandAngle[i] - r->CandAngle[j]) % 360 + 360) % 360;
      if (std::abs(v - 180) < kFacingTolerance) {
        r->CandAngle[i] = kFacingPairMark;
        r->CandAngle[j] = kFacingPairMark;
      }
    }
  }
}

// Any background pixel within the given radius, over the rows and columns the test reads.
// REQUIRES: x >= radius, so the column range starts inside the image.
bool NearBackground(int width, int height, const uint8_t* const* directionImage, int x, int y,
                    int radius) {
  const int row_end = std::min(height - 1, y + radius + 1);
  const int col_end = std::min(width - 1, x + radius + 1);
  for (int j = std::max(0, y - radius); j < row_end; ++j) {
    for (int k = std::max(0, x - radius); k < col_end; ++k) {
      if ((j - y) * (j - y) + (k - x) * (k - x) > radius * radius) continue;
      if ((directionImage[j][k] & kBackgroundBit) != 0) return true;
    }
  }
  return false;
}

void MarkEdges(int width, int height, const uint8_t* const* directionImage, ExtractionResult* r) {
  for (int i = 0; i < r->CandidateCount; ++i) {
    if (r->CandAngle[i] < 0) continue;
    const int x = r->CandX[i];
    const int y = r->CandY[i];
    if (x < kEdgeMargin || x + kEdgeMargin > width - 2 || y < kEdgeMargin ||
        y + kEdgeMargin > height - 2) {
      r->CandAngle[i] = kEdgeMark;
      continue;
    }
    const int radius = r->CandType[i] != 0 ? kBifurcationClearance : kEndingClearance;
    if (NearBackground(width, height, directionImage, x, y, radius)) r->CandAngle[i] = kEdgeMark;
  }
}

void MarkLowContrast(int width, int height, const uint8_t* const* inputCopy, ExtractionResult* r) {
  Patch patch;
  Patch work;
  for (int i = 0; i < r->CandidateCount; ++i) {
    if (r->CandAngle[i] < 0) continue;
    SamplePatch(width, height, inputCopy, r->CandX[i], r->CandY[i], r->CandAngle[i], &patch);
    SmoothPatch(&patch, &work);
    if (PatchLacksContrast(patch)) r->CandAngle[i] = kLowContrastMark;
  }
}

}  // namespace

// Sample (j, k) lies at x + t(L / 100), y + t(M / 100) with t truncation towards zero and L, M
// linear in j and k; truncation keeps order, so the patch's corners bound every sample and a
// patch whose corners lie inside is read without a test per sample. |L|, |M| <= 3000 (offsets
// of at most 15 times two factors of at most 100), so the offsets are taken in 16 bits, where
// the division by the constant 100 vectorises.
void SamplePatch(int width, int height, const uint8_t* const* image, int x, int y, int angle,
                 Patch* patch) {
  assert(angle >= 0);
  const int sn = kSinTable100[angle % 360];  // directions are 0..359; keep any other in the table
  const int cs = kCosTable100[angle % 360];
  auto column_offset = [&](int j, int k) {
    return (-kPatchHalf * cs - kPatchHalf * sn + j * sn + k * cs) / 100;
  };
  auto row_offset = [&](int j, int k) {
    return (kPatchHalf * sn - kPatchHalf * cs + j * cs - k * sn) / 100;
  };
  bool inside = true;
  for (int j : {0, kPatchSize - 1}) {
    for (int k : {0, kPatchSize - 1}) {
      const int px = x + column_offset(j, k);
      const int py = y + row_offset(j, k);
      inside = inside && px >= 0 && px < width && py >= 0 && py < height;
    }
  }
  if (!inside) {
    for (int j = 0; j < kPatchSize; ++j) {
      for (int k = 0; k < kPatchSize; ++k) {
        const int px = x + column_offset(j, k);
        const int py = y + row_offset(j, k);
        const bool in = px >= 0 && px < width && py >= 0 && py < height;
        (*patch)[j][k] = in ? image[py][px] : 255;
      }
    }
    return;
  }
  for (int j = 0; j < kPatchSize; ++j) {
    const auto column_base = static_cast<int16_t>(-kPatchHalf * cs - kPatchHalf * sn + j * sn);
    const auto row_base = static_cast<int16_t>(kPatchHalf * sn - kPatchHalf * cs + j * cs);
    int16_t dx[kPatchSize];
    int16_t dy[kPatchSize];
    for (int k = 0; k < kPatchSize; ++k) {
      dx[k] = static_cast<int16_t>(static_cast<int16_t>(column_base + k * cs) / 100);
      dy[k] = static_cast<int16_t>(static_cast<int16_t>(row_base - k * sn) / 100);
    }
    for (int k = 0; k < kPatchSize; ++k) (*patch)[j][k] = image[y + dy[k]][x + dx[k]];
  }
}

void SmoothPatch(Patch* patch, Patch* work) {
  *work = *patch;
  Patch& p = *patch;
  const Patch& w = *work;
  for (int j = 1; j < kPatchSize - 1; ++j) {
    for (int k = 1; k < kPatchSize - 1; ++k) {
      int sum = 0;
      for (int dj = -1; dj <= 1; ++dj) {
        for (int dk = -1; dk <= 1; ++dk) sum += w[j + dj][k + dk];
      }
      p[j][k] = static_cast<uint8_t>(sum / 9);
    }
  }
  for (int k = 1; k < kPatchSize; ++k) {
    p[0][k] = p[1][k];
    p[kPatchSize - 1][k] = p[kPatchSize - 2][k];
  }
  for (int j = 0; j < kPatchSize; ++j) {
    p[j][0] = p[j][1];
    p[j][kPatchSize - 1] = p[j][kPatchSize - 2];
  }
}

bool PatchLacksContrast(const Patch& patch) {
  // q(j, k): the difference to the next row; the last row has none and counts as 0.
  int q[kPatchSize][kPatchSize] = {};
  int total = 0;
  for (int j = 0; j < kPatchDiffRows; ++j) {
    for (int k = 0; k < kPatchSize; ++k) {
      q[j][k] = std::abs(patch[j][k] - patch[j + 1][k]);
      total += q[j][k];
    }
  }
  const int cap = 2 * (total / (kPatchDiffRows * kPatchSize));
  int top = 0;
  int bottom = 0;
  int left = 0;
  int right = 0;
  for (int j = 0; j < kPatchSize; ++j) {
    for (int k = 0; k < kPatchSize; ++k) {
      const int v = std::min(q[j][k], cap);
      (j < kHalfPatch ? top : bottom) += v;
      (k < kHalfPatch ? left : right) += v;
    }
  }
  constexpr int kHalfCount = kHalfPatch * kPatchSize;  // 450 values in each half
  top = top * 100 / kHalfCount;
  bottom = bottom * 100 / kHalfCount;
  left = left * 100 / kHalfCount;
  right = right * 100 / kHalfCount;
  return top < kHalfContrast || bottom < kHalfContrast || left < kHalfContrast ||
         right < kHalfContrast || top + bottom + left + right < kTotalContrast;
}

void FilterMinutiae(const EngineParams& params, int width, int height,
                    const uint8_t* const* inputCopy, const uint8_t* const* directionImage,
                    ExtractionResult* result, uint8_t meanIsotropy) {
  assert(result->CandidateCount >= 0 && result->CandidateCount <= kFeatureCapacity);
  assert(std::is_sorted(result->CandY, result->CandY + result->CandidateCount));
  MarkCrowded(result);
  if (params.RemoveOpposedPairs != 0) MarkFacingPairs(result);
  MarkEdges(width, height, directionImage, result);
  if (params.ContrastCheck != 0 && inputCopy != nullptr && meanIsotropy < kContrastIsotropyLimit) {
    MarkLowContrast(width, height, inputCopy, result);
  }
}

void CompactCandidates(ExtractionResult* result) {
  int kept = 0;
  for (int i = 0; i < result->CandidateCount; ++i) {
    if (result->CandAngle[i] < 0) continue;
    result->CandX[kept] = result->CandX[i];
    result->CandY[kept] = result->CandY[i];
    result->CandAngle[kept] = result->CandAngle[i];
    result->CandType[kept] = result->CandType[i];
    result->CandVariation[kept] = result->CandVariation[i];
    ++kept;
  }
  result->CandidateCount = kept;
}

}  // namespace ridgeline
