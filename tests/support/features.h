// Feature-set fixtures for matcher tests and benchmarks: a FeatureSet built from a list of
// minutiae, a synthetic print (scattered minutiae over a smooth loop-shaped direction field) and
// a moved copy of a print (turned with the matcher's rounding, shifted, some minutiae dropped or
// jittered). Everything is deterministic integer arithmetic, so a seed always gives the same set.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "core/constants.h"
#include "core/records.h"
#include "match/int_trig.h"

namespace ridgeline::testing {

struct TestMinutia {
  int x;
  int y;
  int angle;
  int variation = 0;
  int type = 0;
};

// Owns a FeatureSet of capacity 1000 with a cols x rows grid. Grid cells hold `code`, cells
// outside the grid 0xFF.
class TestFeatureSet {
 public:
  explicit TestFeatureSet(int cols = 20, int rows = 20, uint8_t code = 0) {
    if (!InitFeatureSet(&set_, kFeatureCapacity)) throw std::bad_alloc();
    set_.Count = 0;
    set_.BlockCols = static_cast<uint8_t>(cols);
    set_.BlockRows = static_cast<uint8_t>(rows);
    std::memset(set_.DirectionMap, 0xFF, sizeof(set_.DirectionMap));
    for (int r = 0; r < rows && r < kMapSize; ++r) {
      for (int c = 0; c < cols && c < kMapSize; ++c) set_.DirectionMap[r][c] = code;
    }
  }
  ~TestFeatureSet() { ReleaseFeatureSetArrays(&set_); }
  TestFeatureSet(const TestFeatureSet&) = delete;
  TestFeatureSet& operator=(const TestFeatureSet&) = delete;

  void Add(const TestMinutia& m) {
    const int j = set_.Count++;
    set_.X[j] = static_cast<int16_t>(m.x);
    set_.Y[j] = static_cast<int16_t>(m.y);
    set_.Angle[j] = static_cast<int16_t>(m.angle);
    set_.Variation[j] = static_cast<uint8_t>(m.variation);
    set_.Type[j] = static_cast<uint8_t>(m.type);
  }
  void Truncate(int count) { set_.Count = count; }

  FeatureSet* get() { return &set_; }
  const FeatureSet& operator*() const { return set_; }
  int count() const { return set_.Count; }

 private:
  FeatureSet set_{};
};

// A small linear congruential generator: the same numbers on every platform.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed * 2654435761u + 12345u) {}
  uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }
  // Uniform in lo..hi inclusive.
  int Uniform(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1));
  }

 private:
  uint32_t state_;
};

// Ridge direction in degrees (0..179) of a loop round (cx, cy): across the radius.
inline int LoopDirection(int x, int y, int cx, int cy) {
  return (Bearing(x - cx, y - cy) + 90) % 180;
}

// `count` minutiae at least `spacing` pixels apart (as far as 200 tries allow) on a cols x rows
// grid whose blocks follow LoopDirection round the grid centre; random angles, variations
// 0..40 and types.
inline void MakeSyntheticPrint(uint32_t seed, int count, int cols, int rows, int spacing,
                               TestFeatureSet* out) {
  FeatureSet* set = out->get();
  set->BlockCols = static_cast<uint8_t>(cols);
  set->BlockRows = static_cast<uint8_t>(rows);
  const int cx = kBlockSize * cols / 2;
  const int cy = kBlockSize * rows / 2;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const int degrees = LoopDirection(kBlockSize * c + 8, kBlockSize * r + 8, cx, cy);
      set->DirectionMap[r][c] = static_cast<uint8_t>(degrees * 2 / 3);
    }
  }
  Lcg random(seed);
  while (out->count() < count) {
    TestMinutia m{};
    for (int attempt = 0; attempt < 200; ++attempt) {
      m.x = random.Uniform(kBlockSize, kBlockSize * (cols - 1));
      m.y = random.Uniform(kBlockSize, kBlockSize * (rows - 1));
      bool clear = true;
      for (int j = 0; j < set->Count && clear; ++j) {
        const int dx = set->X[j] - m.x;
        const int dy = set->Y[j] - m.y;
        clear = dx * dx + dy * dy >= spacing * spacing;
      }
      if (clear) break;
    }
    m.angle = random.Uniform(0, 359);
    m.variation = random.Uniform(0, 40);
    m.type = random.Uniform(0, 1);
    out->Add(m);
  }
}

struct Motion {
  int degrees = 0;  // rotation about the grid centre, the matcher's sense
  int dx = 0;       // shift in pixels after the rotation
  int dy = 0;
  int drop_every = 0;  // drop minutiae j with j % drop_every == drop_every - 1 (0: none)
  int jitter = 0;      // up to this many pixels of noise on each coordinate
  uint32_t seed = 1;   // of the jitter
};

// The print `source` seen again: minutiae turned about the grid centre with the matcher's
// rotation formula, shifted, with directions turned alike; dropped, jittered, and removed when
// they leave the grid. The map follows the turn; blocks that come from outside the source's
// grid or from its empty blocks are empty.
inline void MakeMovedCopy(const FeatureSet& source, const Motion& motion, TestFeatureSet* out) {
  FeatureSet* set = out->get();
  const int cols = source.BlockCols;
  const int rows = source.BlockRows;
  set->BlockCols = source.BlockCols;
  set->BlockRows = source.BlockRows;
  const int cx = kBlockSize * cols / 2;
  const int cy = kBlockSize * rows / 2;
  const int turn = ((motion.degrees % 360) + 360) % 360;
  const Rotation forward = RotationOf(turn);
  const Rotation back = RotationOf((360 - turn) % 360);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const int px = kBlockSize * c + 8 - cx - motion.dx;
      const int py = kBlockSize * r + 8 - cy - motion.dy;
      const int sx = back.X(px, py) + cx;
      const int sy = back.Y(px, py) + cy;
      uint8_t code = 0xFF;
      if (sx >= 0 && sy >= 0 && sx < kBlockSize * cols && sy < kBlockSize * rows) {
        const uint8_t from = source.DirectionMap[sy / kBlockSize][sx / kBlockSize];
        if ((from & kCodeMask) != kCodeMask) {
          code = static_cast<uint8_t>(((from * 3 / 2 + turn) % 180) * 2 / 3);
        }
      }
      set->DirectionMap[r][c] = code;
    }
  }
  Lcg random(motion.seed);
  for (int j = 0; j < source.Count; ++j) {
    const int nx = motion.jitter == 0 ? 0 : random.Uniform(-motion.jitter, motion.jitter);
    const int ny = motion.jitter == 0 ? 0 : random.Uniform(-motion.jitter, motion.jitter);
    if (motion.drop_every > 0 && j % motion.drop_every == motion.drop_every - 1) continue;
    const int x = forward.X(source.X[j] - cx, source.Y[j] - cy) + cx + motion.dx + nx;
    const int y = forward.Y(source.X[j] - cx, source.Y[j] - cy) + cy + motion.dy + ny;
    if (x <= 0 || y <= 0 || x >= kBlockSize * cols || y >= kBlockSize * rows) continue;
    out->Add({x, y, (source.Angle[j] - turn + 360) % 360, source.Variation[j], source.Type[j]});
  }
}

}  // namespace ridgeline::testing
