// Two-sub-step parallel thinning with hole filling before and gap bridging after.
#include "extract/thinning.h"

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "extract/byte_words.h"
#include "extract/neighbour_codes.h"

namespace ridgeline {
namespace {

constexpr uint8_t kBlack = 0;
constexpr uint8_t kWhite = 255;
constexpr uint8_t kDelete = 255;
// A white pixel with at least this many black neighbours is a hole inside a ridge.
constexpr int kHoleNeighbours = 6;

constexpr std::array<uint8_t, 44> kThinCodesA = {
    3,   5,   6,   7,   12,  13,  14,  15,  20,  22,  24,  28,  30,  48,  52,
    54,  56,  60,  62,  96,  112, 120, 129, 131, 133, 135, 141, 143, 192, 193,
    195, 199, 207, 224, 225, 227, 231, 239, 240, 241, 243, 248, 249, 251};
constexpr std::array<uint8_t, 44> kThinCodesB = {
    3,   6,   7,   12,  14,  15,  24,  28,  30,  31,  48,  56,  60,  62,  63,
    65,  67,  80,  88,  96,  97,  99,  112, 120, 124, 126, 129, 131, 135, 143,
    159, 191, 192, 193, 195, 208, 216, 224, 225, 227, 240, 248, 252, 254};

// The deletion rule of a sub-step as a sum of products over the eight neighbour bits, so that
// 64 pixels are tested at once on packed words. A cube matches the codes c with
// (c & care) == value; the cover's cubes match exactly the codes its table deletes (checked at
// compile time below). Each cube is grown from the first code it covers by dropping the care
// bits, in order, whose removal keeps it inside the table.
struct Cube {
  uint8_t care;
  uint8_t value;
};
constexpr size_t kMaxCubes = 64;
struct Cover {
  std::array<Cube, kMaxCubes> cubes{};
  size_t count = 0;
};

constexpr bool CubeInside(const std::array<uint8_t, 256>& table, uint8_t care, uint8_t value) {
  for (size_t code = 0; code < 256; ++code) {
    if ((code & care) == value && table[code] != kDelete) return false;
  }
  return true;
}

constexpr Cover CoverOf(const std::array<uint8_t, 256>& table) {
  Cover cover;
  std::array<bool, 256> covered{};
  for (size_t code = 0; code < 256; ++code) {
    if (table[code] != kDelete || covered[code]) continue;
    uint8_t care = 0xFF;
    for (int bit = 0; bit < 8; ++bit) {
      const auto wider = static_cast<uint8_t>(care & ~(1 << bit));
      if (CubeInside(table, wider, static_cast<uint8_t>(code & wider))) care = wider;
    }
    const auto value = static_cast<uint8_t>(code & care);
    if (cover.count == kMaxCubes) throw "too many cubes";  // not a constant expression
    cover.cubes[cover.count++] = {care, value};
    for (size_t c = 0; c < 256; ++c) covered[c] = covered[c] || (c & care) == value;
  }
  return cover;
}

constexpr bool CoverMatchesTable(const Cover& cover, const std::array<uint8_t, 256>& table) {
  for (size_t code = 0; code < 256; ++code) {
    bool hit = false;
    for (size_t i = 0; i < cover.count; ++i) {
      hit = hit || (code & cover.cubes[i].care) == cover.cubes[i].value;
    }
    if (hit != (table[code] == kDelete)) return false;
  }
  return true;
}

constexpr std::array<uint8_t, 256> kTableA = CodeTable(kThinCodesA, kDelete);
constexpr std::array<uint8_t, 256> kTableB = CodeTable(kThinCodesB, kDelete);
constexpr Cover kCoverA = CoverOf(kTableA);
constexpr Cover kCoverB = CoverOf(kTableB);
static_assert(CoverMatchesTable(kCoverA, kTableA) && CoverMatchesTable(kCoverB, kTableB));

// n[b]: bit k set where pixel k's neighbour of NeighbourCode bit b is black.
template <uint8_t Care, uint8_t Value>
inline uint64_t CubeMatches(const uint64_t (&n)[8]) {
  uint64_t match = ~uint64_t{0};
  for (int b = 0; b < 8; ++b) {
    if (((Care >> b) & 1) != 0) match &= ((Value >> b) & 1) != 0 ? n[b] : ~n[b];
  }
  return match;
}

template <const Cover& C, size_t... I>
inline uint64_t CoverMatches(const uint64_t (&n)[8], std::index_sequence<I...>) {
  return (CubeMatches<C.cubes[I].care, C.cubes[I].value>(n) | ...);
}

// A binary image packed 64 pixels a word, bit k of word w being pixel 64 w + k, set where
// black. Each row has one white word before and after its pixels, so the neighbours of its
// first and last word need no test.
struct PackedImage {
  size_t words = 0;   // words of pixels per row
  size_t stride = 0;  // words + 2
  std::vector<uint64_t> bits;
  uint64_t* Row(int y) { return bits.data() + static_cast<size_t>(y) * stride + 1; }
};

// Packs the black pixels (value 0) of a row into out, which holds zeros. A whole word is built
// in a register and stored once.
void PackRow(const uint8_t* row, int width, uint64_t* out) {
  constexpr uint64_t kGather = 0x0102040810204080ULL;  // byte k's bit 0 -> bit 56 + k
  auto pack8 = [&](int x) { return ((ZeroBytes(LoadWord(row + x)) >> 7) * kGather) >> 56; };
  int x = 0;
  for (; x + 64 <= width; x += 64) {
    uint64_t word = 0;
    for (int k = 0; k < 64; k += 8) word |= pack8(x + k) << k;
    out[x >> 6] = word;
  }
  for (; x + 8 <= width; x += 8) out[x >> 6] |= pack8(x) << (x & 63);
  for (; x < width; ++x) out[x >> 6] |= uint64_t{row[x] == 0 ? 1u : 0u} << (x & 63);
}

// n[b]: the neighbour planes of word w of a row: bit k set where pixel 64 w + k's neighbour of
// NeighbourCode bit b is black. The rows are packed rows with their padding words.
inline void NeighbourPlanes(const uint64_t* above, const uint64_t* row, const uint64_t* below,
                            std::ptrdiff_t w, uint64_t (&n)[8]) {
  const uint64_t a = above[w], r = row[w], b = below[w];
  n[kNorthBit] = a;
  n[kNorthEastBit] = (a >> 1) | (above[w + 1] << 63);
  n[kEastBit] = (r >> 1) | (row[w + 1] << 63);
  n[kSouthEastBit] = (b >> 1) | (below[w + 1] << 63);
  n[kSouthBit] = b;
  n[kSouthWestBit] = (b << 1) | (below[w - 1] >> 63);
  n[kWestBit] = (r << 1) | (row[w - 1] >> 63);
  n[kNorthWestBit] = (a << 1) | (above[w - 1] >> 63);
}

// The sequential passes (hole filling before the thinning, gap bridging and junction clearing
// after it) change a pixel according to its neighbours as the sweep has left them. A word's
// candidates are found on the packed rows as they stand; within the row only the east
// neighbour of a changed pixel sees that change before it is judged, so after each change the
// word's candidates beyond it are found again. Candidates are then judged one by one on the
// bytes, in sweep order, by the very tests of the plain sweep (the packed image knows black from
// not black only, the bytes tell white (255) from the other values).

// Pixels with at least six black neighbours, the eight planes summed bit-sliced.
inline uint64_t AtLeastSixBlack(const uint64_t (&n)[8]) {
  auto add = [](uint64_t a, uint64_t b, uint64_t c, uint64_t& carry) {
    carry = (a & b) | (c & (a ^ b));
    return a ^ b ^ c;
  };
  uint64_t c1, c2, c3, c4, d1;
  const uint64_t s1 = add(n[0], n[1], n[2], c1);
  const uint64_t s2 = add(n[3], n[4], n[5], c2);
  const uint64_t s3 = add(n[6], n[7], s1, c3);
  c4 = s2 & s3;  // the ones' carry; the ones themselves are not needed for "at least six"
  const uint64_t t1 = add(c1, c2, c3, d1);
  const uint64_t twos = t1 ^ c4;
  const uint64_t d2 = t1 & c4;
  const uint64_t fours = d1 ^ d2;
  const uint64_t eights = d1 & d2;
  return eights | (fours & twos);  // 8 or more, or 4 + 2 (+ 1)
}

// The black-neighbour count bit-sliced: the pixels with at most two black neighbours.
constexpr uint64_t AtMostTwoBlack(const uint64_t (&n)[8]) {
  auto add = [](uint64_t a, uint64_t b, uint64_t c, uint64_t& carry) {
    carry = (a & b) | (c & (a ^ b));
    return a ^ b ^ c;
  };
  uint64_t c1 = 0, c2 = 0, c3 = 0, d1 = 0;
  const uint64_t s1 = add(n[0], n[1], n[2], c1);
  const uint64_t s2 = add(n[3], n[4], n[5], c2);
  const uint64_t s3 = add(n[6], n[7], s1, c3);
  const uint64_t ones = s2 ^ s3;
  const uint64_t c4 = s2 & s3;
  const uint64_t t1 = add(c1, c2, c3, d1);
  const uint64_t twos = t1 ^ c4;
  const uint64_t fours_or_more = d1 | (t1 & c4);
  return ~(fours_or_more | (twos & ones));
}

// The post-pass's candidates, factored rather than one product of eight planes per code. Every
// bridge code has exactly two black neighbours, so it is "at most two" and one of its pairs; a
// junction code is three of the four direct neighbours with no diagonal one.
constexpr uint64_t BridgeCodes(const uint64_t (&n)[8]) {
  const uint64_t pairs = (n[kNorthBit] & (n[kSouthEastBit] | n[kSouthBit] | n[kSouthWestBit])) |
                         (n[kNorthEastBit] & (n[kSouthWestBit] | n[kWestBit])) |
                         (n[kWestBit] & (n[kEastBit] | n[kSouthEastBit])) |
                         (n[kSouthEastBit] & n[kNorthWestBit]);
  return pairs & AtMostTwoBlack(n);
}
constexpr uint64_t JunctionCodes(const uint64_t (&n)[8]) {
  const uint64_t north = n[kNorthBit], east = n[kEastBit], south = n[kSouthBit];
  const uint64_t west = n[kWestBit];
  const uint64_t diagonal =
      n[kNorthEastBit] | n[kSouthEastBit] | n[kSouthWestBit] | n[kNorthWestBit];
  return ~diagonal & ((north & east & (south ^ west)) | (south & west & (north ^ east)));
}

// Each form holds exactly at its table's codes (bit 0 of planes holding one code each).
template <uint64_t (*Form)(const uint64_t (&)[8])>
constexpr bool FormMatchesTable(const std::array<uint8_t, 256>& table) {
  for (size_t code = 0; code < 256; ++code) {
    uint64_t n[8] = {};
    for (int b = 0; b < 8; ++b) n[b] = (code >> b) & 1;
    if ((Form(n) & 1) != (table[code] != 0 ? 1u : 0u)) return false;
  }
  return true;
}
static_assert(FormMatchesTable<BridgeCodes>(kIsBridgeCode));
static_assert(FormMatchesTable<JunctionCodes>(kIsJunctionCode));

enum PixelChange { kUnchanged, kBecameBlack, kBecameNotBlack };

// Runs judge(x, y) for every pixel off the frame whose bit is set in candidates(n, row word),
// row by row and left to right. judge returns a PixelChange when it changed the pixel's black
// state, which goes into the packed image at once. The candidates of a whole row are found
// first into found (one word per word of the row), in a loop free of branches; a change moves
// only its east neighbour's code within the row, so the rest of its word is found again, and
// so is the next word when the change was the word's last pixel.
template <typename Candidates, typename Judge>
void SweepCandidates(int height, PackedImage& image, const uint64_t* inner, uint64_t* found,
                     Candidates candidates, Judge judge) {
  const auto words = static_cast<std::ptrdiff_t>(image.words);
  for (int y = 1; y < height - 1; ++y) {
    const uint64_t* above = image.Row(y - 1);
    uint64_t* row = image.Row(y);
    const uint64_t* below = image.Row(y + 1);
    {
      const uint64_t* __restrict a = above;
      const uint64_t* __restrict r = row;
      const uint64_t* __restrict b = below;
      uint64_t* __restrict f = found;
      for (std::ptrdiff_t w = 0; w < words; ++w) {
        uint64_t n[8];
        NeighbourPlanes(a, r, b, w, n);
        f[w] = candidates(n, r[w]) & inner[w];
      }
    }
    bool west_changed = false;  // the last pixel of the word before changed
    for (std::ptrdiff_t w = 0; w < words; ++w) {
      uint64_t n[8];
      uint64_t c = found[w];
      if (west_changed) {
        NeighbourPlanes(above, row, below, w, n);
        c = candidates(n, row[w]) & inner[w];
        west_changed = false;
      }
      while (c != 0) {
        const int k = std::countr_zero(c);
        const uint64_t bit = uint64_t{1} << k;
        const PixelChange change = judge(static_cast<int>(w) * 64 + k, y);
        if (change == kUnchanged) {
          c &= c - 1;
          continue;
        }
        row[w] = change == kBecameBlack ? row[w] | bit : row[w] & ~bit;
        west_changed = k == 63;
        NeighbourPlanes(above, row, below, w, n);
        c = candidates(n, row[w]) & inner[w] & ~(bit | (bit - 1));  // beyond pixel k only
      }
    }
  }
}

// One parallel sub-step from src into dst: a black pixel off the frame whose neighbours match
// the cover turns white, every pixel judged on src, the image as it was before the sub-step.
// Rows with active[y] == 0 are skipped (they cannot change, and dst already holds them: see
// MarkActiveRows); changed[y] is set for the rows that did change. inner[w] masks the pixels of
// word w off the left and right frame. Reading one buffer and writing the other keeps the word
// loop free of stores that later words read, so it runs on vector lanes without saving rows.
template <const Cover& C>
bool ThinSubStep(int height, PackedImage& src, PackedImage& dst, const uint64_t* inner,
                 const uint8_t* active, uint8_t* changed) {
  // Signed: the word to the left of word 0 is the padding word at index -1, and an unsigned
  // w - 1 there would wrap the pointer arithmetic (undefined even though the address is valid).
  const auto words = static_cast<std::ptrdiff_t>(src.words);
  bool any = false;
  for (int y = 1; y < height - 1; ++y) {
    changed[y] = 0;
    if (active[y] == 0) continue;
    const uint64_t* __restrict above = src.Row(y - 1);
    const uint64_t* __restrict row = src.Row(y);
    const uint64_t* __restrict below = src.Row(y + 1);
    uint64_t* __restrict out = dst.Row(y);
    uint64_t row_deleted = 0;
    for (std::ptrdiff_t w = 0; w < words; ++w) {
      const uint64_t r = row[w];
      uint64_t n[8];
      NeighbourPlanes(above, row, below, w, n);
      const uint64_t del = r & inner[w] & CoverMatches<C>(n, std::make_index_sequence<C.count>());
      out[w] = r & ~del;
      row_deleted |= del;
    }
    changed[y] = row_deleted != 0 ? 1 : 0;
    any = any || row_deleted != 0;
  }
  return any;
}
// The eight bytes of a word set to 0xFF where the bits of `bits` are set, byte k for bit k.
constexpr std::array<uint64_t, 256> kByteMasks = [] {
  std::array<uint64_t, 256> masks{};
  for (size_t bits = 0; bits < 256; ++bits) {
    for (int k = 0; k < 8; ++k) {
      if (((bits >> k) & 1) != 0) masks[bits] |= uint64_t{0xFF} << (8 * k);
    }
  }
  return masks;
}();

// Writes white (255) over the pixels of a row whose bits are set in before and clear in after,
// eight bytes at a time (most of a thick ridge goes at once, so single stores would be many).
// The bits of pixels at or beyond width are clear in both. A word with no deletion skips its 64
// pixels with one test; within a word every 8-byte group is or-ed without a branch (an or with
// zero leaves the bytes as they were), as a test per group mispredicts along the ridges.
void WhitenDeleted(const uint64_t* before, const uint64_t* after, int width, uint8_t* row) {
  int x = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; x + 64 <= width; x += 64) {
      uint64_t gone = before[x >> 6] & ~after[x >> 6];
      if (gone == 0) continue;
      for (int k = 0; k < 64; k += 8, gone >>= 8) {
        uint64_t bytes;
        std::memcpy(&bytes, row + x + k, sizeof bytes);
        bytes |= kByteMasks[gone & 0xFF];
        std::memcpy(row + x + k, &bytes, sizeof bytes);
      }
    }
    for (; x + 8 <= width; x += 8) {
      const auto gone = static_cast<size_t>(((before[x >> 6] & ~after[x >> 6]) >> (x & 63)) & 0xFF);
      uint64_t bytes;
      std::memcpy(&bytes, row + x, sizeof bytes);
      bytes |= kByteMasks[gone];
      std::memcpy(row + x, &bytes, sizeof bytes);
    }
  }
  for (; x < width; ++x) {
    if ((((before[x >> 6] & ~after[x >> 6]) >> (x & 63)) & 1) != 0) row[x] = kWhite;
  }
}

// Which rows sub-step s has to visit. It reads what sub-step s - 1 wrote and writes over what
// sub-step s - 2 wrote, with the table sub-step s - 2 used. A row whose three-row neighbourhood
// changed in neither s - 1 nor s - 2 sees the very pixels s - 2 saw and deleted nothing then, so
// it deletes nothing now and already holds its result. The sub-steps alternate between two
// buffers, so s writes into the buffer s - 2 wrote: a skipped row there holds the state after
// s - 2, which is also the state after s - 1 and s. The first two sub-steps have no such history
// and visit every row, filling both buffers.
void MarkActiveRows(int height, const uint8_t* last, const uint8_t* before_last, uint8_t* active) {
  for (int y = 1; y < height - 1; ++y) {
    active[y] = (last[y - 1] | last[y] | last[y + 1] | before_last[y - 1] | before_last[y] |
                 before_last[y + 1]) != 0
                    ? 1
                    : 0;
  }
}

}  // namespace

const std::array<uint8_t, 256> kThinTableA = kTableA;
const std::array<uint8_t, 256> kThinTableB = kTableB;

int ThinRidges(int width, int height, GrayImage image) {
  assert(width > 0 && height > 0);
  // changed[0 or 1][y]: the last sub-step A or B deleted a pixel of row y (frame rows never
  // change). Before the first sub-step both read as "changed", so the first two visit every row.
  std::vector<uint8_t> history;
  // packed holds the image after every sub-step B, between holds it after every sub-step A.
  PackedImage packed;
  PackedImage between;
  std::vector<uint64_t> scratch;
  packed.words = between.words = (static_cast<size_t>(width) + 63) / 64;
  packed.stride = between.stride = packed.words + 2;
  try {
    history.assign(3 * static_cast<size_t>(height), 1);
    packed.bits.assign(packed.stride * static_cast<size_t>(height), 0);
    between.bits.resize(packed.bits.size());
    // The mask of the pixels off the frame, a row of a sweep's candidates, and the black pixels
    // before thinning.
    scratch.assign(2 * packed.stride + packed.stride * static_cast<size_t>(height), 0);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  uint8_t* changed[2] = {history.data(), history.data() + height};
  uint8_t* active = history.data() + 2 * static_cast<size_t>(height);
  changed[0][0] = changed[0][height - 1] = changed[1][0] = changed[1][height - 1] = 0;
  uint64_t* inner = scratch.data();
  uint64_t* found = scratch.data() + packed.stride;
  uint64_t* initial = scratch.data() + 2 * packed.stride;
  for (int y = 0; y < height; ++y) PackRow(image[y], width, packed.Row(y));
  for (int x = 1; x < width - 1; ++x) inner[x >> 6] |= uint64_t{1} << (x & 63);

  // Hole filling, sequential: a pixel filled earlier in the sweep counts for later ones. Only a
  // pixel that is not black can be a hole.
  SweepCandidates(
      height, packed, inner, found,
      [](const uint64_t(&n)[8], uint64_t row) { return ~row & AtLeastSixBlack(n); },
      [&](int x, int y) {
        if (image[y][x] != kWhite ||
            std::popcount(static_cast<unsigned>(NeighbourCode(image, x, y))) < kHoleNeighbours) {
          return kUnchanged;
        }
        image[y][x] = kBlack;
        return kBecameBlack;
      });
  std::memcpy(initial, packed.bits.data(), packed.bits.size() * sizeof(uint64_t));
  // The frame rows and padding words, never written by a sub-step, must be there too.
  std::memcpy(between.bits.data(), packed.bits.data(), packed.bits.size() * sizeof(uint64_t));

  int iterations = 0;
  bool deleted = false;
  do {
    // Sub-step A writes over changed[0] (the previous A), reading what B changed last.
    MarkActiveRows(height, changed[1], changed[0], active);
    deleted = ThinSubStep<kCoverA>(height, packed, between, inner, active, changed[0]);
    MarkActiveRows(height, changed[0], changed[1], active);
    deleted = ThinSubStep<kCoverB>(height, between, packed, inner, active, changed[1]) || deleted;
    ++iterations;
  } while (deleted);

  // Only black pixels were deleted: they become white, every other pixel keeps its value.
  for (int y = 1; y < height - 1; ++y) {
    const uint64_t* before = initial + static_cast<size_t>(y) * packed.stride + 1;
    const uint64_t* after = packed.Row(y);
    WhitenDeleted(before, after, width, image[y]);
  }

  // Post-pass, sequential: each pixel sees the changes made before it in the sweep. A gap is
  // bridged only at a pixel that is not black; a junction centre is anything but white.
  SweepCandidates(
      height, packed, inner, found,
      [](const uint64_t(&n)[8], uint64_t row) {
        return (~row & BridgeCodes(n)) | JunctionCodes(n);
      },
      [&](int x, int y) {
        const auto code = static_cast<size_t>(NeighbourCode(image, x, y));
        if (image[y][x] == kWhite) {
          if (kIsBridgeCode[code] == 0) return kUnchanged;
          image[y][x] = kBlack;
          return kBecameBlack;
        }
        if (kIsJunctionCode[code] == 0) return kUnchanged;
        image[y][x] = kWhite;
        return kBecameNotBlack;
      });
  return iterations;
}

}  // namespace ridgeline
