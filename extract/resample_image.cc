// Resampling of the captured image from the sensor's resolution to the engine's.
#include "extract/resample_image.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "extract/resample_rows.h"

namespace ridgeline {
namespace {

constexpr int kFractionBits = 10;
constexpr int kFractionMask = kResampleOne - 1;
constexpr int kRounding = kResampleOne / 2;

// w x lower + (1024 - w) x upper, rounded to the nearest byte value, with one product:
// w x lower + (1024 - w) x upper = 1024 upper + w (lower - upper), and 1024 upper passes the
// shift unchanged (>> floors). The vertical pass takes the same value from ScaledBlendStep.
inline uint8_t BlendFrom(int weight, int lower, int upper) {
  return static_cast<uint8_t>(upper + ((weight * (lower - upper) + kRounding) >> kFractionBits));
}

}  // namespace

int MaxResampleSide(int sourceResolution, int destinationResolution) {
  if (sourceResolution <= 0 || destinationResolution <= 0) return 0;
  // The largest i for which i x s x 1024 fits, plus one (i runs below the side).
  const int64_t limit = std::numeric_limits<int32_t>::max();
  const int64_t largest_i = limit / (int64_t{sourceResolution} * kResampleOne);
  return static_cast<int>(std::min<int64_t>(largest_i + 1, std::numeric_limits<int>::max()));
}

void BuildResampleTables(int count, int sourceResolution, int destinationResolution, int16_t* index,
                         int16_t* weight) {
  assert(count <= MaxResampleSide(sourceResolution, destinationResolution));
  for (int32_t i = 0; i < count; ++i) {
    index[i] = static_cast<int16_t>(i * sourceResolution / destinationResolution);
    weight[i] = static_cast<int16_t>(
        kResampleOne -
        ((i * sourceResolution * kResampleOne / destinationResolution) & kFractionMask));
  }
}

#if !RIDGELINE_HIGHWAY
int ResampleChunks(const uint8_t*, int, const int32_t*, const uint8_t*, const int16_t*, uint8_t*) {
  return 0;  // no vector form in this build: the scalar loop does every sample
}
#endif

bool ResampleImage(const uint8_t* source, int sourceWidth, int sourceHeight, int sourceResolution,
                   GrayImage destination, int destinationWidth, int destinationHeight,
                   int destinationResolution) {
  if (sourceWidth <= 0 || sourceHeight <= 0 || destinationWidth <= 0 || destinationHeight <= 0) {
    return false;
  }
  const int n = std::max(destinationWidth, destinationHeight);
  if (n > MaxResampleSide(sourceResolution, destinationResolution)) return false;

  std::vector<int16_t> index, weight, scaled_weight;
  std::vector<int32_t> chunk_base;
  std::vector<uint8_t> chunk_offset;
  // Every intermediate byte is written by the horizontal pass before the vertical one reads it.
  std::unique_ptr<uint8_t[]> intermediate;
  try {
    index.resize(n);
    weight.resize(n);
    scaled_weight.resize(static_cast<size_t>(destinationWidth));
    chunk_base.resize(static_cast<size_t>(destinationWidth / kResampleChunk));
    chunk_offset.resize(chunk_base.size() * kResampleChunk);
    intermediate.reset(new uint8_t[static_cast<size_t>(destinationWidth) * sourceHeight]);
  } catch (const std::bad_alloc&) {
    return false;
  }
  BuildResampleTables(n, sourceResolution, destinationResolution, index.data(), weight.data());
  // Every sample read must lie in the source: a destination larger than the source scaled by
  // the resolutions would place its last samples beyond the source's edge.
  if (index[static_cast<size_t>(destinationWidth - 1)] >= sourceWidth ||
      index[static_cast<size_t>(destinationHeight - 1)] >= sourceHeight) {
    return false;
  }
  // The positions grow with the column: columns from blend_end on take the last source column.
  const int16_t* const columns = index.data();
  const int16_t* const weights = weight.data();
  int blend_end = 0;
  while (blend_end < destinationWidth && columns[blend_end] < sourceWidth - 1) ++blend_end;
  for (int x = 0; x < destinationWidth; ++x) scaled_weight[x] = ScaledWeight(weights[x]);

  // The leading chunks of 16 blended columns whose samples all lie in the 16 source bytes from
  // the chunk's first position (every chunk when upsampling, as the engine does).
  int chunks = 0;
  for (; (chunks + 1) * kResampleChunk <= blend_end; ++chunks) {
    const int x0 = chunks * kResampleChunk;
    const int base = columns[x0];
    if (columns[x0 + kResampleChunk - 1] - base > kResampleChunk - 2 ||
        base + kResampleChunk > sourceWidth) {
      break;
    }
    chunk_base[static_cast<size_t>(chunks)] = base;
    for (int i = 0; i < kResampleChunk; ++i) {
      chunk_offset[static_cast<size_t>(x0 + i)] = static_cast<uint8_t>(columns[x0 + i] - base);
    }
  }

  // Horizontal pass: every source row to destinationWidth samples, the chunks with the vector
  // form where the build has one; the rest two rows at a time so that each position and weight
  // is read once for both, an odd last row alone.
  uint8_t* const middle = intermediate.get();
  const auto vector_chunks = [&](const uint8_t* p, uint8_t* m) {
    return ResampleChunks(p, chunks, chunk_base.data(), chunk_offset.data(), scaled_weight.data(),
                          m);
  };
  int row = 0;
  for (; row + 2 <= sourceHeight; row += 2) {
    const uint8_t* __restrict p0 = source + static_cast<size_t>(row) * sourceWidth;
    const uint8_t* __restrict p1 = p0 + sourceWidth;
    uint8_t* __restrict m0 = middle + static_cast<size_t>(row) * destinationWidth;
    uint8_t* __restrict m1 = m0 + destinationWidth;
    const int vector_end = vector_chunks(p0, m0);
    (void)vector_chunks(p1, m1);  // the same count: one build, one dispatch
    for (int x = vector_end; x < blend_end; ++x) {
      const int k = columns[x];
      const int w = weights[x];
      m0[x] = BlendFrom(w, p0[k], p0[k + 1]);
      m1[x] = BlendFrom(w, p1[k], p1[k + 1]);
    }
    for (int x = blend_end; x < destinationWidth; ++x) {
      m0[x] = p0[columns[x]];
      m1[x] = p1[columns[x]];
    }
  }
  if (row < sourceHeight) {
    const uint8_t* __restrict p = source + static_cast<size_t>(row) * sourceWidth;
    uint8_t* __restrict m = middle + static_cast<size_t>(row) * destinationWidth;
    for (int x = vector_chunks(p, m); x < blend_end; ++x)
      m[x] = BlendFrom(weights[x], p[columns[x]], p[columns[x] + 1]);
    for (int x = blend_end; x < destinationWidth; ++x) m[x] = p[columns[x]];
  }
  // Vertical pass: blend two intermediate rows (Blend in the 16-bit form, which the compiler
  // vectorises), or copy the last one.
  for (int y = 0; y < destinationHeight; ++y) {
    const int k = index[y];
    const uint8_t* __restrict upper = middle + static_cast<size_t>(k) * destinationWidth;
    uint8_t* __restrict out = destination[y];
    if (k < sourceHeight - 1) {
      const uint8_t* __restrict lower = upper + destinationWidth;
      const int16_t w = ScaledWeight(weight[y]);
      for (int x = 0; x < destinationWidth; ++x) {
        out[x] = static_cast<uint8_t>(lower[x] + ScaledBlendStep(upper[x], lower[x], w));
      }
    } else {
      std::copy(upper, upper + destinationWidth, out);
    }
  }
  return true;
}

}  // namespace ridgeline
