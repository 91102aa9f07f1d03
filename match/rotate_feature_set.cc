// RotateFeatureSet180: the feature set as it would be read with the sensor turned round, within
// its own block grid. Entries are exchanged pairwise so the turn can be done in place.
#include <algorithm>
#include <cassert>
#include <cstdint>

#include "match/match_coord.h"

namespace ridgeline {

namespace {

struct Minutia {
  int16_t x, y, angle;
  uint8_t variation, type;
};

Minutia Turned(const FeatureSet& set, int j, int width, int height) {
  const int angle = set.Angle[j];
  return {static_cast<int16_t>(kBlockSize * width - set.X[j]),
          static_cast<int16_t>(kBlockSize * height - set.Y[j]),
          static_cast<int16_t>(angle <= 180 ? angle + 180 : angle - 180), set.Variation[j],
          set.Type[j]};
}

void Store(FeatureSet* set, int j, const Minutia& m) {
  set->X[j] = m.x;
  set->Y[j] = m.y;
  set->Angle[j] = m.angle;
  set->Variation[j] = m.variation;
  set->Type[j] = m.type;
}

}  // namespace

void RotateFeatureSet180(FeatureSet* destination, const FeatureSet& source) {
  assert(destination != nullptr);
  const int count = source.Count;
  const int width = source.BlockCols;
  const int height = source.BlockRows;
  for (int j = 0, i = count - 1; j <= i; ++j, --i) {
    const Minutia from_i = Turned(source, i, width, height);
    const Minutia from_j = Turned(source, j, width, height);
    Store(destination, j, from_i);
    Store(destination, i, from_j);
  }
  // Cell (r, c) and cell (H - 1 - r, W - 1 - c) change places. A grid larger than the map (which
  // no extraction or template produces) is mirrored only within the map, never past it.
  const int map_width = std::min(width, kMapSize);
  const int map_height = std::min(height, kMapSize);
  const int cells = map_width * map_height;
  for (int n = 0, m = cells - 1; n <= m; ++n, --m) {
    const uint8_t first = source.DirectionMap[n / map_width][n % map_width];
    const uint8_t last = source.DirectionMap[m / map_width][m % map_width];
    destination->DirectionMap[n / map_width][n % map_width] = last;
    destination->DirectionMap[m / map_width][m % map_width] = first;
  }
  destination->Count = count;
  destination->BlockCols = source.BlockCols;
  destination->BlockRows = source.BlockRows;
}

}  // namespace ridgeline
