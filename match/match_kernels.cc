// The matcher's row and window loops. With Highway this file is compiled once per instruction set
// (foreach_target.h re-includes it with each target's code generation switched on), so the
// vectoriser uses the widest lanes of each, and the best form the processor supports is called.
// The loops themselves are plain C++: integer values throughout, and the few floating-point steps
// are exact by the argument beside each, so every form gives the same bits. Without Highway (the
// Windows DLL, the fuzz build) the same loops are compiled once for the baseline.
#include "match/match_kernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/constants.h"
#include "match/int_trig.h"
#include "match/score.h"

#if RIDGELINE_HIGHWAY
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "match/match_kernels.cc"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#ifndef RIDGELINE_MATCH_TARGET
#define RIDGELINE_MATCH_TARGET HWY_NAMESPACE
#endif
#define RIDGELINE_MATCH_ONCE HWY_ONCE
#else
#define RIDGELINE_MATCH_TARGET portable
#define RIDGELINE_MATCH_ONCE 1
#endif

#ifndef RIDGELINE_MATCH_KERNELS_SHARED
#define RIDGELINE_MATCH_KERNELS_SHARED
namespace ridgeline {
namespace {

constexpr int kHalfTurn = 180;
constexpr int kAgreeDegrees = 30;  // block directions this close, as undirected lines, agree

// kBearingArctan[q] for a quotient q within 0..1024, computed on lanes instead of looked up (a
// gather is slow on some processors): the table holds atan(q / 1024) in degrees rounded to the
// nearest, and no entry's exact value lies within 5.7e-4 degrees of a half, while this odd
// polynomial in single precision stays within 2e-5 of the exact value, fused or not, so adding
// a half and truncating gives the entry. The tests compare it with the table for every q a pair
// can produce, in every instruction set.
inline int32_t BearingArctanOf(float quotient) {
  const float x = quotient * (1.0f / kTrigScale);
  const float x2 = x * x;
  float p = 0.3920356333255768f;
  p = p * x2 - 1.9323010444641113f;
  p = p * x2 + 4.5727858543396f;
  p = p * x2 - 7.590239524841309f;
  p = p * x2 + 11.352127075195312f;
  p = p * x2 - 19.089981079101562f;
  p = p * x2 + 57.29558563232422f;
  return static_cast<int32_t>(p * x + 0.5f);
}

}  // namespace
}  // namespace ridgeline
#endif  // RIDGELINE_MATCH_KERNELS_SHARED

#if RIDGELINE_HIGHWAY
HWY_BEFORE_NAMESPACE();
#endif
namespace ridgeline {
namespace RIDGELINE_MATCH_TARGET {

#if RIDGELINE_HIGHWAY
namespace hn = hwy::HWY_NAMESPACE;

// bytes[c] = map[cell[c]] for c < n, a vector of lanes at a time: each lane gathers the 32-bit
// word at its byte offset and keeps the low byte (x86 is little-endian). A byte lookup stored
// lane by lane and then read back as a vector cannot be forwarded from the store buffer and
// waits for the stores to complete. REQUIRES: n a multiple of kRowBlock, every cell within
// 0..kMapSize^2 - 1, and three readable bytes after the map (PairTables has further members
// there).
static_assert(offsetof(PairTables, map) + sizeof(PairTables::map) + 3 <= sizeof(PairTables));
inline void GatherMapBytes(const uint8_t* map, const int32_t* __restrict cell, int n,
                           int32_t* __restrict bytes) {
#if HWY_TARGET == HWY_SCALAR || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
  for (int c = 0; c < n; ++c) bytes[c] = map[cell[c]];
#else
  const hn::ScalableTag<int32_t> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const auto* words = reinterpret_cast<const int32_t*>(map);
  const auto low_byte = hn::Set(d, 0xFF);
  for (int c = 0; c < n; c += lanes) {
    const auto word = hn::GatherOffset(d, words, hn::LoadU(d, cell + c));
    hn::StoreU(hn::And(word, low_byte), d, bytes + c);
  }
#endif
}
#else
inline void GatherMapBytes(const uint8_t* map, const int32_t* __restrict cell, int n,
                           int32_t* __restrict bytes) {
  for (int c = 0; c < n; ++c) bytes[c] = map[cell[c]];
}
#endif

// The pairs (r, c) of row r with c > r, on vector lanes, with the values the pair-by-pair form
// gives (which stays for coordinates outside 0..1023); the entries below the diagonal are
// derived from these on demand (CompletePairRow).
//  - distance: floor(sqrt(dx^2 + dy^2)) in single precision: dx, dy and the sum of squares
//    (below 2^21) are exact in a float; the truncated root is corrected by one either way,
//    the squares of the candidates (below 2^22) again exact, so the result is the integer root.
//  - bearing index: floor(1024 min / max) of |dx|, |dy| as a single precision quotient. The
//    numerator is below 2^20 and the quotient at most 1024, so its rounding error is below
//    2^-14 while a quotient that is not whole lies at least 1/max >= 2^-10 from the next
//    integer: truncation gives the integer quotient.
// Products and sums of these whole numbers are exact, fused or not.
//  - bearing: the arctangent of that quotient computed on the lanes (BearingArctanOf), folded
//    into the quadrant of (dx, dy) as Bearing does.
void FillPairRow(int r, PairTables* t) {
  const int first = r + 1;
  const int width = t->count - first;
  // Whole blocks past the row's end read the zeros after the last minutia: no scalar tail.
  const int whole = (width + kRowBlock - 1) / kRowBlock * kRowBlock;
  const int16_t* __restrict xs = t->x + first;
  const int16_t* __restrict ys = t->y + first;
  const int16_t* __restrict directions = t->direction + first;
  const int x_r = t->x[r];
  const int y_r = t->y[r];
  const int direction_r = t->direction[r];
  const auto xf = static_cast<float>(x_r);
  const auto yf = static_cast<float>(y_r);
  // The row's whole blocks are written straight into the matrices when they end within the row
  // (every row of a set of up to 234 minutiae); a longer row is written here and copied, so no
  // block spills into the next row.
  int16_t distance_tail[kMatchCapacity + kRowBlock];
  int16_t bearing_tail[kMatchCapacity + kRowBlock];
  int16_t relative_tail[kMatchCapacity + kRowBlock];
  const bool direct = first + whole <= kMatchCapacity;
  int16_t* __restrict distance = direct ? t->distance[r] + first : distance_tail;
  int16_t* __restrict bearing = direct ? t->bearing[r] + first : bearing_tail;
  int16_t* __restrict relative = direct ? t->relative[r] + first : relative_tail;

  for (int c = 0; c < whole; ++c) {
    const float dx = static_cast<float>(xs[c]) - xf;
    const float dy = static_cast<float>(ys[c]) - yf;
    const float square = dx * dx + dy * dy;
    const auto root = static_cast<int32_t>(std::sqrt(square));
    const auto rf = static_cast<float>(root);
    // Comparisons turned into integers, not selects between floats: the vectoriser takes those.
    const int32_t below = rf * rf > square;
    const int32_t above = (rf + 1.0f) * (rf + 1.0f) <= square;
    distance[c] = static_cast<int16_t>(root - below + above);
    const int32_t ix = xs[c] - x_r;
    const int32_t iy = ys[c] - y_r;
    const int32_t m = ix < 0 ? -ix : ix;
    const int32_t q = iy < 0 ? -iy : iy;
    const int32_t smaller = m < q ? m : q;
    const int32_t larger = m < q ? q : m;
    const auto quotient = static_cast<int32_t>(static_cast<float>(smaller * kTrigScale) /
                                               static_cast<float>(larger > 0 ? larger : 1));
    const int32_t arctan = BearingArctanOf(static_cast<float>(quotient));
    const int32_t folded = m < q ? 90 - arctan : arctan;
    const int32_t right = iy >= 0 ? folded : kDegreesPerTurn - folded;
    const int32_t left = iy >= 0 ? 180 - folded : 180 + folded;
    const int32_t forward = ix >= 0 ? right : left;
    bearing[c] = static_cast<int16_t>(forward);
    int turn = directions[c] - direction_r;
    turn += turn < 0 ? kDegreesPerTurn : 0;
    relative[c] = static_cast<int16_t>(turn);
  }
  if (direct) return;
  const auto row_bytes = sizeof(int16_t) * static_cast<size_t>(width);
  std::memcpy(t->distance[r] + first, distance_tail, row_bytes);
  std::memcpy(t->bearing[r] + first, bearing_tail, row_bytes);
  std::memcpy(t->relative[r] + first, relative_tail, row_bytes);
}

void FillPairRowsImpl(PairTables* t) {
  for (int r = 0; r < t->count; ++r) {
    t->distance[r][r] = 0;
    t->bearing[r][r] = 0;
    t->relative[r][r] = 0;
    FillPairRow(r, t);
  }
}

// The agreement of a B pair with an A pair on their own values: |relative B - relative A|
// within the angle tolerance (mod 360) and the bearing difference, taken into 0..360, within
// the largest rotation either way. Relative directions are 0..359 and bearings 0..360, so every
// difference fits 16 bits; the limits are clamped to a range that decides every such difference
// as the unclamped ones do, so the tests run on 16-bit lanes.
struct AngularLimits {
  int16_t tolerance, far_tolerance, rotation, far_rotation;

  explicit AngularLimits(const MatchParams& p)
      : tolerance(static_cast<int16_t>(std::clamp(p.AngleTolerance, -1, kDegreesPerTurn))),
        far_tolerance(static_cast<int16_t>(kDegreesPerTurn - tolerance)),
        rotation(static_cast<int16_t>(std::clamp(p.MaxRotation, -1, kDegreesPerTurn + 1))),
        far_rotation(static_cast<int16_t>(kDegreesPerTurn - rotation)) {}
};

// The last tests of the vote of A pair (j1, j2) with B pair pb, for a pair whose relative
// direction and bearing already agree: both correspondences gain one when each is a candidate
// whose own rotation agrees with the pairs'. A correspondence that is no candidate carries
// kNoVoteRotation, whose difference to theta (0..360) lies beyond a whole turn; every real
// difference lies within one, where the clamped tolerance decides as the tolerance does. So
// each correspondence is one test, |v - theta| <= tolerance or 360 - tolerance <= |v - theta|
// <= 360. With m = |v - theta| that is min(m, 360 - m) <= tolerance for m up to 360, while
// beyond a whole turn 360 - m is negative; as an unsigned number below tolerance + 1 (0 for a
// negative tolerance, which accepts nothing), the negative ones fail too. One compare per
// correspondence and one branch per pair: the compiler turns the form with three compares into
// two branches per correspondence, each taken at random.
inline void VoteForAgreeingPair(MatchWork* work, int j1, int j2, int bearing_a, int pb,
                                const AngularLimits& limits) {
  const PairTables& b = work->b;
  const CrossTables& x = work->cross;
  int theta = b.pair_bearing[pb] - bearing_a;
  theta += theta < 0 ? kDegreesPerTurn : 0;
  const int k1 = b.pairs[pb].Low();
  const int k2 = b.pairs[pb].High();
  const uint32_t below = limits.tolerance < 0 ? 0u : static_cast<uint32_t>(limits.tolerance) + 1u;
  const auto agrees = [&](int rotation) {
    int magnitude = rotation - theta;
    magnitude = magnitude < 0 ? -magnitude : magnitude;
    const int reverse = kDegreesPerTurn - magnitude;
    const int nearer = reverse < magnitude ? reverse : magnitude;
    return static_cast<uint32_t>(static_cast<uint32_t>(nearer) < below);
  };
  if ((agrees(x.vote_rotation[j1][k1]) & agrees(x.vote_rotation[j2][k2])) == 0) return;
  ++work->votes[j1][k1];
  ++work->votes[j2][k2];
}

#if RIDGELINE_HIGHWAY
// The mask's bits, lane i's at bit i, read back at exactly the width StoreMaskBits writes (one
// byte per eight lanes, up to 64 lanes): a wider read would span the store and a zeroing store
// before it, which the store buffer cannot forward, and wait some twenty cycles for both.
template <class D>
HWY_INLINE uint64_t MaskBits(D d, hn::Mask<D> mask) {
  constexpr size_t kBytes = (hn::MaxLanes(D()) + 7) / 8;
  static_assert(kBytes == 1 || kBytes == 2 || kBytes == 4 || kBytes == 8);
  uint8_t bytes[8];
  hn::StoreMaskBits(d, mask, bytes);
  if constexpr (kBytes == 1) {
    return bytes[0];
  } else if constexpr (kBytes == 2) {
    uint16_t bits;
    std::memcpy(&bits, bytes, sizeof bits);
    return bits;
  } else if constexpr (kBytes == 4) {
    uint32_t bits;
    std::memcpy(&bits, bytes, sizeof bits);
    return bits;
  } else {
    uint64_t bits;
    std::memcpy(&bits, bytes, sizeof bits);
    return bits;
  }
}

// The B pairs of a window are tested on the pairs' own values a vector at a time; the lanes that
// pass (about one in twenty) go on to the cross-table tests, found from the mask's bits. Lanes
// past the window are masked off; their loads stay within the lists' padding.
// The bearing difference theta lies in -360..360; taking it into 0..360 and testing it against
// the rotation either way decides as the same test on |theta| does (for theta < 0, theta + 360
// <= rotation is -theta >= 360 - rotation, and theta + 360 >= 360 - rotation is -theta <=
// rotation), so both tests have one form: |v| <= limit or |v| >= 360 - limit.
HWY_INLINE void VoteWindow(MatchWork* work, int j1, int j2, int relative_a, int bearing_a,
                           int start, int n, const AngularLimits& limits) {
  const hn::ScalableTag<int16_t> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const PairTables& b = work->b;
  const auto rel_a = hn::Set(d, static_cast<int16_t>(relative_a));
  const auto bear_a = hn::Set(d, static_cast<int16_t>(bearing_a));
  // x <= limit as limit + 1 > x and x >= limit as x > limit - 1 (the clamped limits leave room).
  const auto above_tolerance = hn::Set(d, static_cast<int16_t>(limits.tolerance + 1));
  const auto below_far_tolerance = hn::Set(d, static_cast<int16_t>(limits.far_tolerance - 1));
  const auto above_rotation = hn::Set(d, static_cast<int16_t>(limits.rotation + 1));
  const auto below_far_rotation = hn::Set(d, static_cast<int16_t>(limits.far_rotation - 1));
  const auto agreeing = [&](int q) {
    const auto magnitude = hn::Abs(hn::Sub(hn::LoadU(d, b.pair_relative + start + q), rel_a));
    const auto theta = hn::Abs(hn::Sub(hn::LoadU(d, b.pair_bearing + start + q), bear_a));
    const auto angle_ok =
        hn::Or(hn::Lt(magnitude, above_tolerance), hn::Gt(magnitude, below_far_tolerance));
    const auto rotation_ok =
        hn::Or(hn::Lt(theta, above_rotation), hn::Gt(theta, below_far_rotation));
    return hn::And(angle_ok, rotation_ok);
  };
  const auto vote = [&](int q, decltype(agreeing(0)) agree) {
    uint64_t bits = MaskBits(d, agree);
    while (bits != 0) {
      const int pb = start + q + std::countr_zero(bits);
      bits &= bits - 1;
      VoteForAgreeingPair(work, j1, j2, bearing_a, pb, limits);
    }
  };
  int q = 0;
  for (; q + lanes <= n; q += lanes) {
    const auto agree = agreeing(q);
    if (!hn::AllFalse(d, agree)) vote(q, agree);
  }
  if (q < n) {
    const auto agree = hn::And(agreeing(q), hn::FirstN(d, static_cast<size_t>(n - q)));
    if (!hn::AllFalse(d, agree)) vote(q, agree);
  }
}
#else
// Windows shorter than this are tested pair by pair: marking them first costs more than it saves.
constexpr int kShortWindow = 16;

// The window's marks on lanes first, in whole blocks of kMarkBlock pairs (no scalar tail; marks
// past n are cleared before use), then the marked pairs found eight at a time from a word.
inline void VoteWindow(MatchWork* work, int j1, int j2, int relative_a, int bearing_a, int start,
                       int n, const AngularLimits& limits) {
  if (n < kShortWindow) {
    const PairTables& b = work->b;
    for (int pb = start; pb < start + n; ++pb) {
      int magnitude = b.pair_relative[pb] - relative_a;
      magnitude = magnitude < 0 ? -magnitude : magnitude;
      int theta = b.pair_bearing[pb] - bearing_a;
      theta += theta < 0 ? kDegreesPerTurn : 0;
      if ((magnitude <= limits.tolerance || magnitude >= limits.far_tolerance) &&
          (theta <= limits.rotation || theta >= limits.far_rotation)) {
        VoteForAgreeingPair(work, j1, j2, bearing_a, pb, limits);
      }
    }
    return;
  }
  const int whole = (n + kMarkBlock - 1) / kMarkBlock * kMarkBlock;
  const int16_t* __restrict relative = work->b.pair_relative + start;
  const int16_t* __restrict bearing = work->b.pair_bearing + start;
  uint8_t* __restrict keep = work->pair_keep;
  const int16_t tolerance = limits.tolerance;
  const int16_t far_tolerance = limits.far_tolerance;
  const int16_t rotation = limits.rotation;
  const int16_t far_rotation = limits.far_rotation;
  const auto rel_a = static_cast<int16_t>(relative_a);
  const auto bear_a = static_cast<int16_t>(bearing_a);
  for (int q = 0; q < whole; ++q) {
    const auto difference = static_cast<int16_t>(relative[q] - rel_a);
    const auto magnitude = static_cast<int16_t>(difference < 0 ? -difference : difference);
    auto theta = static_cast<int16_t>(bearing[q] - bear_a);
    theta = static_cast<int16_t>(theta < 0 ? theta + kDegreesPerTurn : theta);
    const bool angle_ok = (magnitude <= tolerance) | (magnitude >= far_tolerance);
    const bool rotation_ok = (theta <= rotation) | (theta >= far_rotation);
    keep[q] = static_cast<uint8_t>(angle_ok & rotation_ok);
  }
  std::memset(keep + n, 0, kKeepPadding);
  for (int q = 0; q < n; q += kKeepPadding) {
    uint64_t marks;
    std::memcpy(&marks, keep + q, sizeof marks);
    while (marks != 0) {
      const int pb = start + q + std::countr_zero(marks) / 8;
      marks &= marks - 1;
      VoteForAgreeingPair(work, j1, j2, bearing_a, pb, limits);
    }
  }
}
#endif

// [start, end) is the B window of the A pair: the first B pair at least length - tolerance
// long up to the first one longer than length + tolerance. The window may run past last_b into
// trimmed pairs; only the length or the list's end ends it. Both bounds are read off B's length
// ends (length_end[d] is the first pair longer than d) rather than walked to: a walk ends on a
// branch the predictor misses about once per A pair. Bounds below every length give 0, above
// every listed length (all below 1024) the list's end.
void CountPairVotesImpl(MatchWork* work, int last_a, int last_b) {
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const int tolerance = work->params.DistanceTolerance;
  const AngularLimits limits(work->params);
  const int32_t* length_end = b.length_end;
  const int32_t listed = b.pair_count;
  // The first B pair longer than d.
  const auto first_longer = [&](int64_t d) -> int {
    if (d < 0) return 0;
    if (d >= kMaxPairDistance) return listed;
    return length_end[d];
  };
  int previous_length = -1;
  int start = 0;
  int end = 0;
  for (int pa = 0; pa <= last_a; ++pa) {
    const int length = a.pairs[pa].distance;
    if (length != previous_length) {
      previous_length = length;
      start = first_longer(static_cast<int64_t>(length) - tolerance - 1);
      end = first_longer(static_cast<int64_t>(length) + tolerance);
    }
    if (start > last_b) break;
    const int n = end - start;
    if (n <= 0) continue;
    VoteWindow(work, a.pairs[pa].Low(), a.pairs[pa].High(), a.pair_relative[pa], a.pair_bearing[pa],
               start, n, limits);
  }
}

// A row's entries in whole vectors, the last one masked to the row's end: a call to memset per
// row costs more than the row's few stores.
void ClearVotesImpl(MatchWork* work) {
  const int na = work->a.count;
  const int nb = work->b.count;
#if RIDGELINE_HIGHWAY
  const hn::ScalableTag<int32_t> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const auto zero = hn::Zero(d);
  for (int i = 0; i < na; ++i) {
    int32_t* row = work->votes[i];
    int k = 0;
    for (; k + lanes <= nb; k += lanes) hn::StoreU(zero, d, row + k);
    if (k < nb) hn::BlendedStore(zero, hn::FirstN(d, static_cast<size_t>(nb - k)), d, row + k);
  }
#else
  for (int i = 0; i < na; ++i) std::fill_n(work->votes[i], nb, 0);
#endif
}

#if RIDGELINE_HIGHWAY && HWY_TARGET != HWY_SCALAR
// The block counts of BlockAgreement on lanes, one row of A's grid a vector of blocks at a time:
// the centres carried into B, B's blocks gathered (GatherMapBytes' words), and the tests and
// counts, with the values of the plain form below. (turn + degrees_a) % 180 is taken by two
// conditional subtractions, as turn is 0..179 and a byte at most 255. A cell outside B's grid
// or the 64 x 64 map reads B's cell 0 and is not counted; columns past the grid are masked out.
void CountBlockAgreementImpl(const PairTables& a, const PairTables& b, const MatchResult& alignment,
                             BlockCounts* counts) {
  const int turn =
      alignment.Rotation >= kHalfTurn ? alignment.Rotation - kHalfTurn : alignment.Rotation;
  const Rotation trig = RotationOf(alignment.Rotation);
  const int rows = std::min(a.block_rows, kMapSize);
  const int cols = std::min(a.block_cols, kMapSize);
  const hn::ScalableTag<int32_t> d;
  const hn::Rebind<uint8_t, decltype(d)> d8;
  const int lanes = static_cast<int>(hn::Lanes(d));
  static_assert(kMapSize % (HWY_MAX_BYTES / sizeof(int32_t)) == 0);  // whole vectors per row
  const auto* words = reinterpret_cast<const int32_t*>(&b.map[0][0]);
  const auto cos = hn::Set(d, trig.cos);
  const auto sin = hn::Set(d, trig.sin);
  const auto round = hn::Set(d, kTrigRound);
  const auto tx = hn::Set(d, alignment.TX);
  const auto ty = hn::Set(d, alignment.TY);
  const auto zero = hn::Zero(d);
  const auto cols_b = hn::Set(d, std::min(b.block_cols, kMapSize));
  const auto rows_b = hn::Set(d, std::min(b.block_rows, kMapSize));
  const auto empty = hn::Set(d, kEmptyBlock);
  const auto low_byte = hn::Set(d, 0xFF);
  const auto half_turn = hn::Set(d, kHalfTurn);
  const auto quarter_turn = hn::Set(d, kHalfTurn / 2);
  const auto agree_limit = hn::Set(d, kAgreeDegrees);
  const auto rotation = hn::Set(d, turn);
  // x of a block's centre, kBlockSize q + kBlockSize / 2, for the lanes' columns q.
  const auto centre =
      hn::Add(hn::Mul(hn::Iota(d, 0), hn::Set(d, kBlockSize)), hn::Set(d, kBlockSize / 2));
  auto valid_a = zero;
  auto overlap = zero;
  auto agree = zero;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* row_a = a.map[r];
    const auto y = hn::Set(d, kBlockSize * r + kBlockSize / 2);
    const auto sin_y = hn::Mul(sin, y);
    const auto cos_y = hn::Mul(cos, y);
    for (int q = 0; q < cols; q += lanes) {
      const auto x = hn::Add(centre, hn::Set(d, kBlockSize * q));
      const auto column = hn::ShiftRight<4>(
          hn::Add(hn::ShiftRight<kTrigShift>(hn::Add(hn::Sub(hn::Mul(cos, x), sin_y), round)), tx));
      const auto row = hn::ShiftRight<4>(
          hn::Add(hn::ShiftRight<kTrigShift>(hn::Add(hn::Add(hn::Mul(sin, x), cos_y), round)), ty));
      const auto inside = hn::And(hn::And(hn::Gt(column, zero), hn::Gt(row, zero)),
                                  hn::And(hn::Lt(column, cols_b), hn::Lt(row, rows_b)));
      const auto cell = hn::IfThenElseZero(inside, hn::Add(hn::ShiftLeft<6>(row), column));
      const auto degrees_b = hn::And(hn::GatherOffset(d, words, cell), low_byte);
      const auto degrees_a = hn::PromoteTo(d, hn::LoadU(d8, row_a + q));
      const auto ridge_a =
          hn::AndNot(hn::Eq(degrees_a, empty), hn::FirstN(d, static_cast<size_t>(cols - q)));
      const auto counted = hn::AndNot(hn::Eq(degrees_b, empty), hn::And(ridge_a, inside));
      auto turned = hn::Add(rotation, degrees_a);
      turned = hn::IfThenElse(hn::Lt(turned, half_turn), turned, hn::Sub(turned, half_turn));
      turned = hn::IfThenElse(hn::Lt(turned, half_turn), turned, hn::Sub(turned, half_turn));
      auto difference = hn::Abs(hn::Sub(turned, degrees_b));
      difference = hn::IfThenElse(hn::Gt(difference, quarter_turn), hn::Sub(half_turn, difference),
                                  difference);
      const auto agreeing = hn::AndNot(hn::Gt(difference, agree_limit), counted);
      valid_a = hn::Sub(valid_a, hn::VecFromMask(d, ridge_a));
      overlap = hn::Sub(overlap, hn::VecFromMask(d, counted));
      agree = hn::Sub(agree, hn::VecFromMask(d, agreeing));
    }
  }
  counts->valid_a = hn::GetLane(hn::SumOfLanes(d, valid_a));
  counts->overlap = hn::GetLane(hn::SumOfLanes(d, overlap));
  counts->agree = hn::GetLane(hn::SumOfLanes(d, agree));
}
#else
// The block counts of BlockAgreement, one row of A's grid at a time: the centres carried into B
// and the agreement tests on lanes, the look-up of B's blocks (a gather) scalar. A cell outside
// B's grid or the 64 x 64 map reads B's cell 0 and is not counted.
void CountBlockAgreementImpl(const PairTables& a, const PairTables& b, const MatchResult& alignment,
                             BlockCounts* counts) {
  const int turn =
      alignment.Rotation >= kHalfTurn ? alignment.Rotation - kHalfTurn : alignment.Rotation;
  const Rotation trig = RotationOf(alignment.Rotation);
  const int rows = std::min(a.block_rows, kMapSize);
  const int cols = std::min(a.block_cols, kMapSize);
  const int cols_b = std::min(b.block_cols, kMapSize);
  const int rows_b = std::min(b.block_rows, kMapSize);
  const int tx = alignment.TX;
  const int ty = alignment.TY;
  const uint8_t* map_b = &b.map[0][0];
  int32_t cell[kMapSize];
  int32_t inside[kMapSize];
  int32_t degrees_b[kMapSize];
  // Counted per lane of a block and summed at the end, so no block ends in a reduction.
  int32_t valid_lanes[kRowBlock] = {};
  int32_t overlap_lanes[kRowBlock] = {};
  int32_t agree_lanes[kRowBlock] = {};
  // Whole blocks of kRowBlock columns (the map's rows are 64 wide, a multiple), so no loop has a
  // scalar remainder; columns past the grid are masked out of every count.
  const int whole = (cols + kRowBlock - 1) / kRowBlock * kRowBlock;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* __restrict row_a = a.map[r];
    const int y = kBlockSize * r + kBlockSize / 2;
    for (int block = 0; block < whole; block += kRowBlock) {
      for (int q = block; q < block + kRowBlock; ++q) {
        const int x = kBlockSize * q + kBlockSize / 2;
        const int column = (((trig.cos * x - trig.sin * y + kTrigRound) >> kTrigShift) + tx) >> 4;
        const int row = (((trig.sin * x + trig.cos * y + kTrigRound) >> kTrigShift) + ty) >> 4;
        const int32_t in = (column >= 1) & (row >= 1) & (column < cols_b) & (row < rows_b);
        inside[q] = in;
        cell[q] = in ? row * kMapSize + column : 0;
      }
    }
    GatherMapBytes(map_b, cell, whole, degrees_b);
    for (int block = 0; block < whole; block += kRowBlock) {
      for (int lane = 0; lane < kRowBlock; ++lane) {
        const int q = block + lane;
        const int32_t degrees_a = row_a[q];
        const int32_t ridge_a = (degrees_a != kEmptyBlock) & (q < cols);
        const int32_t counted = ridge_a & inside[q] & (degrees_b[q] != kEmptyBlock);
        int32_t difference = (turn + degrees_a) % kHalfTurn - degrees_b[q];
        difference = difference < 0 ? -difference : difference;
        difference = difference > kHalfTurn / 2 ? kHalfTurn - difference : difference;
        valid_lanes[lane] += ridge_a;
        overlap_lanes[lane] += counted;
        agree_lanes[lane] += counted & (difference <= kAgreeDegrees);
      }
    }
  }
  int valid_a = 0;
  int overlap = 0;
  int agree = 0;
  for (int lane = 0; lane < kRowBlock; ++lane) {
    valid_a += valid_lanes[lane];
    overlap += overlap_lanes[lane];
    agree += agree_lanes[lane];
  }
  counts->valid_a = valid_a;
  counts->overlap = overlap;
  counts->agree = agree;
}
#endif

// The block map in whole degrees: a code whose low 7 bits are all set is a block without ridges,
// any other a DirectionCode of 1.5-degree steps, code x 3 / 2 kept to its low 8 bits.
void FillBlockDegreesImpl(const uint8_t (*codes)[kMapSize], uint8_t (*degrees)[kMapSize],
                          int rows) {
  for (int r = 0; r < rows; ++r) {
    const uint8_t* __restrict in = codes[r];
    uint8_t* __restrict out = degrees[r];
    for (int c = 0; c < kMapSize; ++c) {
      const uint16_t code = in[c];
      const auto value = static_cast<uint8_t>((code * 3u) >> 1);
      out[c] = (code & kCodeMask) == kCodeMask ? kEmptyBlock : value;
    }
  }
}

// The cross tables a row (one A minutia) at a time, on vector lanes over whole blocks of B
// minutiae (the blocks' tails read the zeros after B's last minutia), then the candidates.
// The Variation weight, 100 - floor(100 d / span) for a difference d below the span and 0 from
// it on (the table BuildMatchWork fills), is computed rather than looked up: 100 d (at most
// 25,500) is exact in single precision, and so is a span up to 25,500, whose quotient below 100
// is then within 100 x 2^-24 of the true one while a quotient that is not whole lies at least
// 1 / span >= 1 / 25,500 from the next integer, so truncation gives the floor; a larger span
// makes every quotient below 1, and its truncation 0, as floor says. A span of 0 or below
// weighs every difference 0 (and divides by 1 instead).
// No candidate list is kept: its readers (the alignment search's compatible marks, pair voting)
// take the weights or the vote rotations of the whole row on lanes instead.
void FillCrossTablesImpl(MatchWork* work) {
  const MatchParams& p = work->params;
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  CrossTables& x = work->cross;
  const int nb = b.count;
  const int whole = (nb + kRowBlock - 1) / kRowBlock * kRowBlock;
  const int limit = p.MaxRotation + p.AngleTolerance;
  const int16_t* __restrict directions_b = b.direction;
  const uint8_t* __restrict variations_b = b.variation;
  const uint8_t* __restrict types_b = b.type;
  const auto mismatch = static_cast<uint16_t>(p.TypeMismatchWeight);
  const int32_t span = p.VariationSpan;
  const float divisor = span > 0 ? static_cast<float>(span) : 1.0f;
  // On 16-bit lanes: the weight is stored in 16 bits, and the low 16 bits of a product depend
  // only on the low 16 bits of its factors. Rotations are 0..359, so the clamped band decides
  // every one as the band does.
  const auto band = static_cast<int16_t>(std::clamp(limit, -1, kDegreesPerTurn));
  const auto far_band = static_cast<int16_t>(kDegreesPerTurn - band);
  int32_t difference[kCrossStride];
  int32_t alike[kCrossStride];
  for (int i = 0; i < a.count; ++i) {
    const int32_t direction_a = a.direction[i];
    const int32_t variation_a = a.variation[i];
    const int32_t type_a = a.type[i];
    // Whole rows (the alignment search reads them in whole blocks), written in place: a row of
    // the cross tables holds whole blocks.
    int16_t* __restrict rotations = x.rotation[i];
    int16_t* __restrict weights = x.weight[i];
    int16_t* __restrict vote_rotations = x.vote_rotation[i];
    for (int k = 0; k < whole; ++k) {
      int32_t rotation = directions_b[k] - direction_a;
      rotation += rotation < 0 ? kDegreesPerTurn : 0;
      rotations[k] = static_cast<int16_t>(rotation);
      const int32_t d = variation_a - variations_b[k];
      difference[k] = d < 0 ? -d : d;
    }
    for (int k = 0; k < whole; ++k) {
      const int32_t d = difference[k];
      const auto quotient = static_cast<int32_t>(static_cast<float>(d * 100) / divisor);
      // A mask, not a select: a select lets the compiler move the division under a branch.
      alike[k] = (100 - quotient) & -static_cast<int32_t>(d < span);
    }
    for (int k = 0; k < whole; ++k) {
      const int16_t rotation = rotations[k];
      const bool in_band = (rotation <= band) | (rotation >= far_band);
      const uint16_t factor = type_a == types_b[k] ? 10 : mismatch;
      const auto weight = static_cast<uint16_t>(static_cast<uint32_t>(alike[k]) * factor);
      weights[k] = static_cast<int16_t>(in_band ? weight : 0);
      vote_rotations[k] = weights[k] != 0 ? rotation : kNoVoteRotation;
    }
  }
}

// The compatible B minutiae of every A minutia for the primary anchor (a1, b1): every test of a
// candidate k of row i taken on lanes across B's whole row, as 0 or 1 (no branch), over the
// anchors' complete rows; a row's marks are then listed eight at a time from a word. A row whose
// pair with a1 is too short has no compatible minutia.
void MarkCompatibleImpl(MatchWork* work, int a1, int b1) {
  const MatchParams& p = work->params;
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const CrossTables& x = work->cross;
  const int nb = b.count;
  const int tolerance = p.DistanceTolerance;
  const int min_pair = p.MinPairDistance;
  // On 16-bit lanes: relative directions are 0..359, bearings 0..360 and rotations 0..359, so
  // every angular difference lies within -360..360, where the limits clamped as below decide
  // as the unclamped ones do; the length bounds are clamped to 16 bits per row once a row is
  // known to be able to pass at all.
  const auto angle_tolerance =
      static_cast<int16_t>(std::clamp(p.AngleTolerance, -1, kDegreesPerTurn));
  const auto far_tolerance = static_cast<int16_t>(kDegreesPerTurn - angle_tolerance);
  const auto rotation_limit =
      static_cast<int16_t>(std::clamp(p.MaxRotation, -1, kDegreesPerTurn + 1));
  const auto far_rotation = static_cast<int16_t>(kDegreesPerTurn - rotation_limit);
  const auto anchor_rotation = x.rotation[a1][b1];
  const auto agrees = [&](int16_t difference) {
    const auto magnitude = static_cast<int16_t>(difference < 0 ? -difference : difference);
    return static_cast<int16_t>((magnitude <= angle_tolerance) | (magnitude >= far_tolerance));
  };
  // The anchor's B row copied with zeros up to whole blocks (the cross tables' rows are whole),
  // so the row loop has no scalar tail; marks past nb are cleared before use.
  const int whole = (nb + kRowBlock - 1) / kRowBlock * kRowBlock;
  int16_t length_b[kCrossStride];
  int16_t relative_b[kCrossStride];
  int16_t bearing_b[kCrossStride];
  const auto row_bytes = sizeof(int16_t) * static_cast<size_t>(nb);
  const auto padding_bytes = sizeof(int16_t) * static_cast<size_t>(whole - nb);
  std::memcpy(length_b, b.distance[b1], row_bytes);
  std::memcpy(relative_b, b.relative[b1], row_bytes);
  std::memcpy(bearing_b, b.bearing[b1], row_bytes);
  std::memset(length_b + nb, 0, padding_bytes);
  std::memset(relative_b + nb, 0, padding_bytes);
  std::memset(bearing_b + nb, 0, padding_bytes);
  uint8_t marks[kCrossStride + kKeepPadding];
  for (int i = 0; i < a.count; ++i) {
    uint8_t* compatible = work->compatible[i];
    const int length_a = a.distance[a1][i];
    const int low = std::max(length_a - tolerance, min_pair);
    const int high = length_a + tolerance;
    // No 16-bit length lies outside -32768..32767, so such bounds let none through.
    if (length_a < min_pair || low > high || low > INT16_MAX || high < INT16_MIN) {
      std::memset(compatible, 0, static_cast<size_t>(nb));
      work->compatible_count[i] = 0;
      continue;
    }
    const auto low16 = static_cast<int16_t>(std::max(low, int{INT16_MIN}));
    const auto high16 = static_cast<int16_t>(std::min(high, int{INT16_MAX}));
    const auto relative_a = a.relative[a1][i];
    const auto bearing_a = a.bearing[a1][i];
    const int16_t* __restrict weight = x.weight[i];
    const int16_t* __restrict rotation = x.rotation[i];
    // Blocks of a fixed width, so the vectoriser leaves no scalar remainder inside a row.
    for (int q = 0; q < whole; q += kRowBlock) {
      for (int c = 0; c < kRowBlock; ++c) {
        const int k = q + c;
        const int16_t length = length_b[k];
        auto theta = static_cast<int16_t>(bearing_b[k] - bearing_a);
        theta = static_cast<int16_t>(theta < 0 ? theta + kDegreesPerTurn : theta);
        const auto ok =
            static_cast<int16_t>((weight[k] != 0) & (length >= low16) & (length <= high16) &
                                 agrees(static_cast<int16_t>(relative_b[k] - relative_a)) &
                                 ((theta <= rotation_limit) | (theta >= far_rotation)) &
                                 agrees(static_cast<int16_t>(anchor_rotation - theta)) &
                                 agrees(static_cast<int16_t>(rotation[k] - theta)));
        marks[k] = static_cast<uint8_t>(ok);
      }
    }
    std::memcpy(compatible, marks, static_cast<size_t>(nb));
    std::memset(marks + nb, 0, kKeepPadding);
    uint8_t* list = work->compatible_list[i];
    int count = 0;
    for (int q = 0; q < nb; q += kKeepPadding) {
      uint64_t word;
      std::memcpy(&word, marks + q, sizeof word);
      while (word != 0) {
        list[count++] = static_cast<uint8_t>(q + std::countr_zero(word) / 8);
        word &= word - 1;
      }
    }
    work->compatible_count[i] = static_cast<uint8_t>(count);
  }
}

// The running sum is a chain of dependent adds; on lanes, four counts at a time are summed in
// two shifted adds and carried on by broadcasting the last lane, so the chain has one add per
// four lengths. Integer adds in any order give the same sums.
int32_t RunningLengthSumsImpl(const int32_t* __restrict counts, int first, int last,
                              int32_t* __restrict starts, int32_t* __restrict ends) {
  int32_t end = 0;
  int d = first;
#if RIDGELINE_HIGHWAY && HWY_TARGET != HWY_SCALAR
  const hn::Full128<int32_t> quad;
  auto carry = hn::Zero(quad);
  for (; d + 3 <= last; d += 4) {
    const auto count = hn::LoadU(quad, counts + d);
    auto sum = hn::Add(count, hn::ShiftLeftLanes<1>(quad, count));
    sum = hn::Add(sum, hn::ShiftLeftLanes<2>(quad, sum));
    sum = hn::Add(sum, carry);
    hn::StoreU(hn::Sub(sum, count), quad, starts + d);
    hn::StoreU(sum, quad, ends + d);
    carry = hn::Broadcast<3>(sum);
  }
  end = hn::GetLane(carry);
#endif
  for (; d <= last; ++d) {
    starts[d] = end;
    end += counts[d];
    ends[d] = end;
  }
  return end;
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace RIDGELINE_MATCH_TARGET
}  // namespace ridgeline
#if RIDGELINE_HIGHWAY
HWY_AFTER_NAMESPACE();
#endif

#if RIDGELINE_MATCH_ONCE
namespace ridgeline {

#if RIDGELINE_HIGHWAY
HWY_EXPORT(FillPairRowsImpl);
HWY_EXPORT(CountPairVotesImpl);
HWY_EXPORT(ClearVotesImpl);
HWY_EXPORT(FillCrossTablesImpl);
HWY_EXPORT(FillBlockDegreesImpl);
HWY_EXPORT(CountBlockAgreementImpl);
HWY_EXPORT(MarkCompatibleImpl);
HWY_EXPORT(RunningLengthSumsImpl);
#define RIDGELINE_MATCH_CALL(name) HWY_DYNAMIC_DISPATCH(name)
#else
#define RIDGELINE_MATCH_CALL(name) portable::name
#endif

void FillPairRows(PairTables* t) { RIDGELINE_MATCH_CALL(FillPairRowsImpl)(t); }

void CountPairVotes(MatchWork* work, int last_a, int last_b) {
  RIDGELINE_MATCH_CALL(CountPairVotesImpl)(work, last_a, last_b);
}

void ClearVotes(MatchWork* work) { RIDGELINE_MATCH_CALL(ClearVotesImpl)(work); }

void FillCrossTables(MatchWork* work) { RIDGELINE_MATCH_CALL(FillCrossTablesImpl)(work); }

void CountBlockAgreement(const PairTables& a, const PairTables& b, const MatchResult& alignment,
                         BlockCounts* counts) {
  RIDGELINE_MATCH_CALL(CountBlockAgreementImpl)(a, b, alignment, counts);
}

void FillBlockDegrees(const uint8_t (*codes)[kMapSize], uint8_t (*degrees)[kMapSize], int rows) {
  RIDGELINE_MATCH_CALL(FillBlockDegreesImpl)(codes, degrees, rows);
}

void MarkCompatibleRows(MatchWork* work, int a1, int b1) {
  RIDGELINE_MATCH_CALL(MarkCompatibleImpl)(work, a1, b1);
}

int32_t RunningLengthSums(const int32_t* counts, int first, int last, int32_t* starts,
                          int32_t* ends) {
  return RIDGELINE_MATCH_CALL(RunningLengthSumsImpl)(counts, first, last, starts, ends);
}

}  // namespace ridgeline
#endif  // RIDGELINE_MATCH_ONCE
