// The kernels of all codes over one shared list of tap offsets (LaneKernels).
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

}  // namespace

const LaneKernels& SharedLaneKernels() {
  // Static storage (zero-filled), filled once under the thread-safe initialisation of filled.
  static LaneKernels tables;
  static const bool filled = (Fill(tables), true);
  (void)filled;
  return tables;
}

}  // namespace ridgeline
