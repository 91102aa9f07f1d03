// The scan of a skeleton row for ridge endings and bifurcations: the crossing numbers of a run
// of pixels taken at once in byte lanes (a loop the compiler vectorises) instead of one table
// look-up behind a branch per ridge pixel. Shared by skeleton repair and minutiae detection.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/constants.h"
#include "extract/byte_words.h"
#include "extract/ridge_trace.h"

namespace ridgeline {

// Marks of a crossing number, as NextCrossing takes them.
constexpr uint8_t kEndingMark = 1;       // crossing number 1
constexpr uint8_t kBifurcationMark = 2;  // crossing number 3

// kEndingMark or kBifurcationMark for a NeighbourCode with crossing number 1 or 3, else 0. The
// white-to-black changes going round the bits N .. NW and back to N are the bits of
// code & ~rotl(code, 1) (bit i set where neighbour i is black and neighbour i - 1 white, bit 7
// standing before bit 0); each t & (t - 1) clears the lowest of them.
constexpr uint8_t CrossingMark(uint8_t code) {
  const auto rotated = static_cast<uint8_t>((code << 1) | (code >> 7));
  const auto t = static_cast<uint8_t>(code & ~rotated);
  const auto t1 = static_cast<uint8_t>(t & (t - 1));
  const auto t2 = static_cast<uint8_t>(t1 & (t1 - 1));
  const auto t3 = static_cast<uint8_t>(t2 & (t2 - 1));
  const auto one =
      static_cast<uint8_t>(static_cast<uint8_t>(t != 0) & static_cast<uint8_t>(t1 == 0));
  const auto three =
      static_cast<uint8_t>(static_cast<uint8_t>(t2 != 0) & static_cast<uint8_t>(t3 == 0));
  return static_cast<uint8_t>(one * kEndingMark | three * kBifurcationMark);
}

static_assert([] {
  for (int code = 0; code < 256; ++code) {
    const int crossing = kCrossingNumbers[static_cast<size_t>(code)];
    const int mark = crossing == 1 ? kEndingMark : crossing == 3 ? kBifurcationMark : 0;
    if (CrossingMark(static_cast<uint8_t>(code)) != mark) return false;
  }
  return true;
}());

// Marks of the n pixels x .. x + n - 1 of row y into marks: the crossing mark of each that is a
// ridge pixel of the foreground, and that `wanted` names; 0 for every other. Branch-free, in
// bytes, so that the loop vectorises (fully when n is a constant).
inline void MarkCrossings(const ImageView& skeleton, const uint8_t* direction, int y, int x, int n,
                          uint8_t wanted, uint8_t* marks) {
  const uint8_t* __restrict above = skeleton[y - 1] + x;
  const uint8_t* __restrict row = skeleton[y] + x;
  const uint8_t* __restrict below = skeleton[y + 1] + x;
  const uint8_t* __restrict own = direction + x;
  const auto black = [](uint8_t v, int bit) {
    return static_cast<uint8_t>(static_cast<uint8_t>(v == 0) << bit);
  };
  for (int i = 0; i < n; ++i) {
    const auto code =
        static_cast<uint8_t>(black(above[i], kNorthBit) | black(above[i + 1], kNorthEastBit) |
                             black(row[i + 1], kEastBit) | black(below[i + 1], kSouthEastBit) |
                             black(below[i], kSouthBit) | black(below[i - 1], kSouthWestBit) |
                             black(row[i - 1], kWestBit) | black(above[i - 1], kNorthWestBit));
    const auto ridge = static_cast<uint8_t>(static_cast<uint8_t>(row[i] == 0) &
                                            static_cast<uint8_t>((own[i] & kBackgroundBit) == 0));
    marks[i] = static_cast<uint8_t>(CrossingMark(code) & wanted & -ridge);
  }
}

// The first x in [from, end) of skeleton row y whose pixel is a ridge pixel (0) of the
// foreground (direction bit 7 clear) with a crossing number that `wanted` (a set of marks)
// names, read from the skeleton as it is now; end when there is none. The same x as stepping
// NextForegroundZero from `from` and testing CrossingNumber at each pixel it stops on: white
// runs are skipped a word at a time, and from each ridge pixel met the next 16 pixels are
// marked at once.
// REQUIRES: 1 <= from, end <= width - 1 and 1 <= y <= height - 2.
inline int NextCrossing(const ImageView& skeleton, const uint8_t* direction, int y, int from,
                        int end, uint8_t wanted) {
  constexpr int kRun = 16;
  uint8_t marks[kRun + 8] = {};  // the 8 beyond the run stay 0 for the word test
  for (int x = NextForegroundZero(skeleton[y], direction, from, end); x < end;
       x = NextForegroundZero(skeleton[y], direction, x + kRun, end)) {
    const int n = end - x;
    if (n >= kRun) {
      MarkCrossings(skeleton, direction, y, x, kRun, wanted, marks);
    } else {
      std::memset(marks, 0, kRun);
      MarkCrossings(skeleton, direction, y, x, n, wanted, marks);
    }
    for (int i = 0; i < kRun; i += 8) {
      const uint64_t marked = ~ZeroBytes(LoadWord(marks + i)) & kByteHighBits;
      if (marked != 0) return x + i + FirstMarkedByte(marked);
    }
    if (n <= kRun) break;
  }
  return end;
}

}  // namespace ridgeline
