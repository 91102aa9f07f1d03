// The matcher's row and window loops. With Highway this file is compiled once per instruction set
// (foreach_target.h re-includes it with each target's code generation switched on), so the
// vectoriser uses the widest lanes of each, and the best form the processor supports is called.
// The loops themselves are plain C++: integer values throughout, and the few floating-point steps
// are exact by the argument beside each, so every form gives the same bits. Without Highway (the
// Windows DLL, the fuzz build) the same loops are compiled once for the baseline.
#include "match/match_kernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
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

// The arctangent table widened to 32-bit entries, for the vector gathers; built on first use.
[[maybe_unused]] const int32_t* BearingArctanWide() {
  static const auto* const table = [] {
    static int32_t wide[kBearingArctanSize];
    for (int i = 0; i < kBearingArctanSize; ++i) wide[i] = kBearingArctan[i];
    return wide;
  }();
  return table;
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

// arctan[c] = kBearingArctan[quotient[c]] for c < n, a vector of lanes at a time with the
// processor's gather from a 32-bit copy of the table. REQUIRES: n a multiple of kRowBlock (so of
// every target's lane count), every quotient within 0..1024.
inline void GatherArctan(const int32_t* __restrict quotient, int n, int32_t* __restrict arctan) {
  const int32_t* table = BearingArctanWide();
  const hn::ScalableTag<int32_t> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  for (int c = 0; c < n; c += lanes) {
    hn::StoreU(hn::GatherIndex(d, table, hn::LoadU(d, quotient + c)), d, arctan + c);
  }
}
#else
inline void GatherArctan(const int32_t* __restrict quotient, int n, int32_t* __restrict arctan) {
  for (int c = 0; c < n; ++c) arctan[c] = kBearingArctan[quotient[c]];
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
// The arctangent lookup between the two vector passes is a gather.
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
  int32_t quotient[kMatchCapacity + kRowBlock];
  int32_t arctan[kMatchCapacity + kRowBlock];
  int16_t distance[kMatchCapacity + kRowBlock];
  int16_t bearing[kMatchCapacity + kRowBlock];
  int16_t relative[kMatchCapacity + kRowBlock];

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
    quotient[c] = static_cast<int32_t>(static_cast<float>(smaller * kTrigScale) /
                                       static_cast<float>(larger > 0 ? larger : 1));
  }
  GatherArctan(quotient, whole, arctan);
  for (int c = 0; c < whole; ++c) {
    const int dx = xs[c] - x_r;
    const int dy = ys[c] - y_r;
    const int m = dx < 0 ? -dx : dx;
    const int q = dy < 0 ? -dy : dy;
    const int folded = m < q ? 90 - arctan[c] : arctan[c];
    const int right = dy >= 0 ? folded : kDegreesPerTurn - folded;
    const int left = dy >= 0 ? 180 - folded : 180 + folded;
    const int forward = dx >= 0 ? right : left;
    bearing[c] = static_cast<int16_t>(forward);
    int turn = directions[c] - direction_r;
    turn += turn < 0 ? kDegreesPerTurn : 0;
    relative[c] = static_cast<int16_t>(turn);
  }
  const auto row_bytes = sizeof(int16_t) * static_cast<size_t>(width);
  std::memcpy(t->distance[r] + first, distance, row_bytes);
  std::memcpy(t->bearing[r] + first, bearing, row_bytes);
  std::memcpy(t->relative[r] + first, relative, row_bytes);
}

void FillPairRowsImpl(PairTables* t) {
  for (int r = 0; r < t->count; ++r) {
    t->distance[r][r] = 0;
    t->bearing[r][r] = 0;
    t->relative[r][r] = 0;
    FillPairRow(r, t);
  }
}

// |difference| within the tolerance, or within it of a whole turn, as WithinAngle decides; the
// two tests combined without a branch.
inline int32_t AngleAgrees(int difference, int tolerance) {
  const int magnitude = difference < 0 ? -difference : difference;
  return static_cast<int32_t>(magnitude <= tolerance) |
         static_cast<int32_t>(magnitude >= kDegreesPerTurn - tolerance);
}

// The last tests of the vote of A pair (j1, j2) with B pair pb, for a pair whose relative
// direction and bearing already agree: both correspondences gain one when each is a candidate
// whose own rotation agrees with the pairs'. About half the pairs that reach here fail one of
// the tests, with no pattern a predictor could learn, so every test is taken and the outcome
// (0 or 1) added to both counts without a branch.
inline void VoteForAgreeingPair(MatchWork* work, int j1, int j2, int bearing_a, int pb) {
  const int tolerance = work->params.AngleTolerance;
  const PairTables& b = work->b;
  const CrossTables& x = work->cross;
  int theta = b.pair_bearing[pb] - bearing_a;
  theta += theta < 0 ? kDegreesPerTurn : 0;
  const int k1 = b.pairs[pb].Low();
  const int k2 = b.pairs[pb].High();
  const int32_t agree = static_cast<int32_t>(x.weight[j1][k1] != 0) &
                        static_cast<int32_t>(x.weight[j2][k2] != 0) &
                        AngleAgrees(x.rotation[j1][k1] - theta, tolerance) &
                        AngleAgrees(x.rotation[j2][k2] - theta, tolerance);
  work->votes[j1][k1] += agree;
  work->votes[j2][k2] += agree;
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

#if RIDGELINE_HIGHWAY
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
    uint8_t bytes[8] = {};
    hn::StoreMaskBits(d, agree, bytes);
    uint64_t bits;
    std::memcpy(&bits, bytes, sizeof bits);
    while (bits != 0) {
      const int pb = start + q + std::countr_zero(bits);
      bits &= bits - 1;
      VoteForAgreeingPair(work, j1, j2, bearing_a, pb);
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
        VoteForAgreeingPair(work, j1, j2, bearing_a, pb);
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
      VoteForAgreeingPair(work, j1, j2, bearing_a, pb);
    }
  }
}
#endif

// [start, end) is the B window of the A pair: the first B pair at least length - tolerance
// long up to the first one longer than length + tolerance. Both bounds only move forward as
// A lengths grow. The window may run past last_b into trimmed pairs; only the sentinel or
// length ends it.
void CountPairVotesImpl(MatchWork* work, int last_a, int last_b) {
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const int tolerance = work->params.DistanceTolerance;
  const AngularLimits limits(work->params);
  int start = 0;
  int end = 0;
  for (int pa = 0; pa <= last_a; ++pa) {
    const int length = a.pairs[pa].distance;
    while (b.pairs[start].distance < length - tolerance) ++start;
    if (start > last_b) break;
    while (b.pairs[end].distance <= length + tolerance) ++end;
    const int n = end - start;
    if (n <= 0) continue;
    VoteWindow(work, a.pairs[pa].Low(), a.pairs[pa].High(), a.pair_relative[pa], a.pair_bearing[pa],
               start, n, limits);
  }
}

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
  int valid_a = 0;
  int overlap = 0;
  int agree = 0;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* __restrict row_a = a.map[r];
    const int y = kBlockSize * r + kBlockSize / 2;
    for (int q = 0; q < cols; ++q) {
      const int x = kBlockSize * q + kBlockSize / 2;
      const int column = (((trig.cos * x - trig.sin * y + kTrigRound) >> kTrigShift) + tx) >> 4;
      const int row = (((trig.sin * x + trig.cos * y + kTrigRound) >> kTrigShift) + ty) >> 4;
      const int32_t in = (column >= 1) & (row >= 1) & (column < cols_b) & (row < rows_b);
      inside[q] = in;
      cell[q] = in ? row * kMapSize + column : 0;
    }
    for (int q = 0; q < cols; ++q) degrees_b[q] = map_b[cell[q]];
    for (int q = 0; q < cols; ++q) {
      const int32_t degrees_a = row_a[q];
      const int32_t ridge_a = degrees_a != kEmptyBlock;
      const int32_t counted = ridge_a & inside[q] & (degrees_b[q] != kEmptyBlock);
      int32_t difference = (turn + degrees_a) % kHalfTurn - degrees_b[q];
      difference = difference < 0 ? -difference : difference;
      difference = difference > kHalfTurn / 2 ? kHalfTurn - difference : difference;
      valid_a += ridge_a;
      overlap += counted;
      agree += counted & (difference <= kAgreeDegrees);
    }
  }
  counts->valid_a = valid_a;
  counts->overlap = overlap;
  counts->agree = agree;
}

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

#if RIDGELINE_HIGHWAY
// alike[k] = table[difference[k]] for k < n, with the processor's gather. REQUIRES: n a multiple
// of kRowBlock, every difference within 0..255.
inline void GatherVariationWeights(const int32_t* table, const int32_t* __restrict difference,
                                   int n, int32_t* __restrict alike) {
  const hn::ScalableTag<int32_t> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  for (int k = 0; k < n; k += lanes) {
    hn::StoreU(hn::GatherIndex(d, table, hn::LoadU(d, difference + k)), d, alike + k);
  }
}
#else
inline void GatherVariationWeights(const int32_t* table, const int32_t* __restrict difference,
                                   int n, int32_t* __restrict alike) {
  for (int k = 0; k < n; ++k) alike[k] = table[difference[k]];
}
#endif

// The ascending k < n with weights[k] != 0 into out; returns their count. Every k is written to
// the next slot; the count only moves past it for a nonzero weight.
inline int ListCandidates(const int16_t* weights, int n, uint8_t* out) {
  int count = 0;
  for (int k = 0; k < n; ++k) {
    out[count] = static_cast<uint8_t>(k);
    count += weights[k] != 0;
  }
  return count;
}

// The cross tables a row (one A minutia) at a time: rotations and Variation differences on
// vector lanes over whole blocks of B minutiae (the blocks' tails read the zeros after B's last
// minutia), the weight table read by a gather, the weights again on lanes, then the candidates.
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
  // On 16-bit lanes: the weight is stored in 16 bits, and the low 16 bits of a product depend
  // only on the low 16 bits of its factors. Rotations are 0..359, so the clamped band decides
  // every one as the band does.
  const auto band = static_cast<int16_t>(std::clamp(limit, -1, kDegreesPerTurn));
  const auto far_band = static_cast<int16_t>(kDegreesPerTurn - band);
  int16_t rotations[kMatchCapacity + kRowBlock];
  int32_t difference[kMatchCapacity + kRowBlock];
  int32_t alike[kMatchCapacity + kRowBlock];
  int16_t weights[kMatchCapacity + kRowBlock];
  for (int i = 0; i < a.count; ++i) {
    const int32_t direction_a = a.direction[i];
    const int32_t variation_a = a.variation[i];
    const int32_t type_a = a.type[i];
    for (int k = 0; k < whole; ++k) {
      int32_t rotation = directions_b[k] - direction_a;
      rotation += rotation < 0 ? kDegreesPerTurn : 0;
      rotations[k] = static_cast<int16_t>(rotation);
      const int32_t d = variation_a - variations_b[k];
      difference[k] = d < 0 ? -d : d;
    }
    GatherVariationWeights(work->variation_weight_wide, difference, whole, alike);
    for (int k = 0; k < whole; ++k) {
      const int16_t rotation = rotations[k];
      const bool in_band = (rotation <= band) | (rotation >= far_band);
      const uint16_t factor = type_a == types_b[k] ? 10 : mismatch;
      const auto weight = static_cast<uint16_t>(static_cast<uint32_t>(alike[k]) * factor);
      weights[k] = static_cast<int16_t>(in_band ? weight : 0);
    }
    const auto row_bytes = sizeof(int16_t) * static_cast<size_t>(nb);
    std::memcpy(x.rotation[i], rotations, row_bytes);
    std::memcpy(x.weight[i], weights, row_bytes);
    x.candidate_count[i] = static_cast<uint8_t>(ListCandidates(weights, nb, x.candidates[i]));
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
  const int angle_tolerance = p.AngleTolerance;
  const int min_pair = p.MinPairDistance;
  const int rotation_limit = p.MaxRotation;
  const int far_rotation = kDegreesPerTurn - rotation_limit;
  const int anchor_rotation = x.rotation[a1][b1];
  const int16_t* __restrict length_b = b.distance[b1];
  const int16_t* __restrict relative_b = b.relative[b1];
  const int16_t* __restrict bearing_b = b.bearing[b1];
  uint8_t marks[kMatchCapacity + kKeepPadding];
  for (int i = 0; i < a.count; ++i) {
    uint8_t* compatible = work->compatible[i];
    const int length_a = a.distance[a1][i];
    if (length_a < min_pair) {
      std::memset(compatible, 0, static_cast<size_t>(nb));
      work->compatible_count[i] = 0;
      continue;
    }
    const int low = std::max(length_a - tolerance, min_pair);
    const int high = length_a + tolerance;
    const int relative_a = a.relative[a1][i];
    const int bearing_a = a.bearing[a1][i];
    const int16_t* __restrict weight = x.weight[i];
    const int16_t* __restrict rotation = x.rotation[i];
    for (int k = 0; k < nb; ++k) {
      const int32_t length = length_b[k];
      int32_t theta = bearing_b[k] - bearing_a;
      theta += theta < 0 ? kDegreesPerTurn : 0;
      const int32_t ok = static_cast<int32_t>(weight[k] != 0) &
                         static_cast<int32_t>(length >= low) &
                         static_cast<int32_t>(length <= high) &
                         AngleAgrees(relative_b[k] - relative_a, angle_tolerance) &
                         (static_cast<int32_t>(theta <= rotation_limit) |
                          static_cast<int32_t>(theta >= far_rotation)) &
                         AngleAgrees(anchor_rotation - theta, angle_tolerance) &
                         AngleAgrees(rotation[k] - theta, angle_tolerance);
      marks[k] = static_cast<uint8_t>(ok);
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
HWY_EXPORT(FillCrossTablesImpl);
HWY_EXPORT(FillBlockDegreesImpl);
HWY_EXPORT(CountBlockAgreementImpl);
HWY_EXPORT(MarkCompatibleImpl);
#define RIDGELINE_MATCH_CALL(name) HWY_DYNAMIC_DISPATCH(name)
#else
#define RIDGELINE_MATCH_CALL(name) portable::name
#endif

void FillPairRows(PairTables* t) { RIDGELINE_MATCH_CALL(FillPairRowsImpl)(t); }

void CountPairVotes(MatchWork* work, int last_a, int last_b) {
  RIDGELINE_MATCH_CALL(CountPairVotesImpl)(work, last_a, last_b);
}

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

}  // namespace ridgeline
#endif  // RIDGELINE_MATCH_ONCE
