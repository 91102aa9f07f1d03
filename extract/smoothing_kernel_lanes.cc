// The kernels of all codes over one shared list of tap offsets (LaneKernels).
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "extract/smoothing_kernel_block.h"

namespace ridgeline {
namespace {

void Fill(LaneKernels& t) {
  // Slots in order of first use, code by code; every kernel's taps are distinct and none is the
  // centre, so each tap has a slot of its own in its kernel.
  int slots = 0;
  auto slot_of = [&](int dy, int dx) {
    for (int s = 0; s < slots; ++s) {
      if (t.dy[s] == dy && t.dx[s] == dx) return s;
    }
    assert(slots < kLaneNullOffset && "more distinct taps than slots");
    t.dy[slots] = static_cast<int8_t>(dy);
    t.dx[slots] = static_cast<int8_t>(dx);
    return slots++;
  };
  bool used[kDirectionSteps][kLaneOffsetSlots] = {};
  for (int code = 0; code < kDirectionSteps; ++code) {
    const OrientedKernel& k = kOrientedKernelTable[static_cast<size_t>(code)];
    for (int c = code; c < kLaneCodes; c += kDirectionSteps) t.centre[c] = k.centre;
    for (int i = 0; i < k.tap_count; ++i) {
      const int s = slot_of(k.taps[i].dy, k.taps[i].dx);
      assert(!used[code][s] && "a kernel repeats a tap");
      used[code][s] = true;
      for (int c = code; c < kLaneCodes; c += kDirectionSteps) t.weights[s][c] = k.taps[i].weight;
    }
  }
  for (int base = 0; base < kDirectionSteps; ++base) {
    for (int span = 0; span < kLaneSpan; ++span) {
      uint8_t* list = t.unions[base][span];
      int n = 0;
      for (int s = 0; s < slots; ++s) {
        bool any = false;
        for (int c = base; c <= base + span; ++c) any = any || used[c % kDirectionSteps][s];
        if (any) list[1 + n++] = static_cast<uint8_t>(s);
      }
      // The centre takes the first slot's partner, the others go two by two.
      if (n % 2 == 0) list[1 + n++] = kLaneNullOffset;
      assert(n < kLaneUnionSlots && "a window of codes uses more taps than a list holds");
      list[0] = static_cast<uint8_t>(n);
    }
  }
}

// The weight of code's taps (or the count of the 3 x 3 pixels, for kNoDirection) inside the
// image around a pixel whose distances to the top, bottom, left and right edges are the
// arguments (kKernelReach or more: unclipped). Taps pair as the pixel rule takes them: (dy, dx)
// reads the pixel at (x + dx, y + dy), and (-dy, -dx) its mirror.
int32_t InsideWeight(int code, int top, int bottom, int left, int right) {
  auto inside = [&](int dy, int dx) {
    return -dy <= top && dy <= bottom && -dx <= left && dx <= right;
  };
  if (code == kNoDirection) {
    int32_t count = 0;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) count += inside(dy, dx) ? 1 : 0;
    }
    return count;
  }
  const OrientedKernel& k = kOrientedKernelTable[static_cast<size_t>(
      code >= kDirectionSteps ? code - kDirectionSteps : code)];
  int32_t total = k.centre;
  for (int t = 0; t < k.tap_count; ++t) {
    total += k.taps[t].weight * ((inside(k.taps[t].dy, k.taps[t].dx) ? 1 : 0) +
                                 (inside(-k.taps[t].dy, -k.taps[t].dx) ? 1 : 0));
  }
  return total;
}

void Fill(BorderDivisors& t) {
  constexpr int kFar = kKernelReach;
  for (int code = 0; code < kBorderCodes; ++code) {
    for (int s = 0; s < kBorderRowStates; ++s) {
      const int top = std::min(s, kFar);
      const int bottom = std::min(2 * kKernelReach - s, kFar);
      t.rows[s][code] = InsideWeight(code, top, bottom, kFar, kFar);
    }
    for (int i = 0; i < 2 * kBorderEndColumns; ++i) {
      const int left = std::min(i, kFar);
      const int right = std::min(2 * kBorderEndColumns - 1 - i, kFar);
      t.ends[code][i] = InsideWeight(code, kFar, kFar, left, right);
    }
  }
}

}  // namespace

const BorderDivisors& SharedBorderDivisors() {
  static BorderDivisors tables;
  static const bool filled = (Fill(tables), true);
  (void)filled;
  return tables;
}

const LaneKernels& SharedLaneKernels() {
  // Static storage (zero-filled), filled once under the thread-safe initialisation of filled.
  static LaneKernels tables;
  static const bool filled = (Fill(tables), true);
  (void)filled;
  return tables;
}

}  // namespace ridgeline
