// The MinutiaTemplate reader: header, minutia entries of either width, block map of either
// encoding, with coordinates held inside the decoded grid.
#include "template/template_decode.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/constants.h"
#include "template/template_layout.h"

namespace ridgeline {
namespace {

// Inverse of the short entry's angle code, rounded: code 255 gives 360.
constexpr int kAngleCodeScale = 70833;
constexpr int kAngleDegreeScale = 100000;
constexpr int kAngleRounding = 35416;
constexpr int kPackedCodeStep = 8;  // a packed code c stands for direction 8 x c

// The bytes DecodeTemplate reads: the header length, the entries when their width is one it
// knows, and the map of the 6-bit grid.
[[maybe_unused]] size_t BytesRead(std::span<const uint8_t> record) {
  const int entry_size = record[0] % 8;
  const int blocks = (record[2] & kGridSideMask) * (record[3] & kGridSideMask);
  const bool entries = entry_size == kFullEntrySize || entry_size == kShortEntrySize;
  return static_cast<size_t>(record[0] / 8 + (entries ? record[1] * entry_size : 0) +
                             MapBytes(blocks, (record[2] & kUnpackedMapBit) == 0));
}

}  // namespace

void DecodeTemplate(FeatureSet* featureSet, FeatureSummary* summary,
                    std::span<const uint8_t> record) {
  assert(record.size() >= static_cast<size_t>(kTemplateHeaderSize));
  assert(record.size() >= BytesRead(record));
  FeatureSet* fs = featureSet;
  const uint8_t* in = record.data();
  const int count = in[1];
  const int cols = in[2] & kGridSideMask;
  const int rows = in[3] & kGridSideMask;
  fs->Count = count;
  fs->BlockCols = static_cast<uint8_t>(cols);
  fs->BlockRows = static_cast<uint8_t>(rows);
  if (summary != nullptr) summary->BoundaryDensity = in[4];

  const int entry_size = in[0] % 8;
  const uint8_t* p = in + in[0] / 8;
  const int max_x = kBlockSize * cols - 1;
  const int max_y = kBlockSize * rows - 1;
  if (entry_size == kFullEntrySize || entry_size == kShortEntrySize) {
    for (int i = 0; i < count; ++i, p += entry_size) {
      int x;
      int y;
      if (entry_size == kFullEntrySize) {
        x = p[0] * 4 + p[1] / 64;
        y = (p[1] & 0x3F) * 16 + p[2] / 16;
        fs->Type[i] = p[2] & 0x0F;
        fs->Angle[i] = static_cast<int16_t>(p[3] * 2 + p[4] / 128);
        fs->Variation[i] = p[4] & 0x7F;
      } else {
        x = 2 * p[0];
        y = 2 * p[1];
        fs->Angle[i] =
            static_cast<int16_t>((p[2] * kAngleDegreeScale + kAngleRounding) / kAngleCodeScale);
        fs->Type[i] = p[3] / 128;
        fs->Variation[i] = p[3] & 0x7F;
      }
      fs->X[i] = static_cast<int16_t>(std::min(x, max_x));
      fs->Y[i] = static_cast<int16_t>(std::min(y, max_y));
    }
  }

  if (in[2] & kUnpackedMapBit) {
    for (int r = 0; r < rows; ++r) std::memcpy(fs->DirectionMap[r], p + r * cols, cols);
    return;
  }
  int k = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c, ++k) {
      const int code = (k % 2 == 0) ? p[k / 2] >> 4 : p[k / 2] & 0x0F;
      fs->DirectionMap[r][c] =
          code == kPackedEmptyCode ? kBackground : static_cast<uint8_t>(kPackedCodeStep * code);
    }
  }
}

}  // namespace ridgeline
