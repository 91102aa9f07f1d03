// PairTables of one FeatureSet: everything the matcher needs about one side, computed once per
// comparison so the stages only look values up.
#include "match/pair_tables.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>

#include "core/int_math.h"
#include "match/int_trig.h"
#include "match/match_kernels.h"

namespace ridgeline {

namespace {

// Direction as the matcher measures it: 360 - Angle, with Angle 0 (and so 360) giving 0.
// A decoded stored template may carry an Angle outside 0..359 (its field is wider than the
// encoder ever writes); it is taken mod 360 so every direction stays in 0..359 and the
// rotation tables are never read outside their range.
int16_t MatcherDirection(int angle) {
  const int folded = ((angle % kDegreesPerTurn) + kDegreesPerTurn) % kDegreesPerTurn;
  return static_cast<int16_t>(folded == 0 ? 0 : kDegreesPerTurn - folded);
}

// A map byte whose low 7 bits are all set is a block without ridges; a DirectionCode of 1.5
// degree steps becomes whole degrees (FillBlockDegrees converts whole rows alike).
uint8_t BlockDegrees(uint8_t code) {
  if ((code & kCodeMask) == kCodeMask) return kEmptyBlock;
  return static_cast<uint8_t>(code * 3 / 2);
}

void CopyMinutiae(const FeatureSet& set, PairTables* t) {
  for (int j = 0; j < t->count; ++j) {
    t->x[j] = set.X[j];
    t->y[j] = set.Y[j];
    t->direction[j] = MatcherDirection(set.Angle[j]);
    t->type[j] = set.Type[j];
    t->variation[j] = set.Variation[j];
  }
  std::fill(t->x + t->count, t->x + t->count + kRowBlock, int16_t{0});
  std::fill(t->y + t->count, t->y + t->count + kRowBlock, int16_t{0});
  std::fill(t->direction + t->count, t->direction + t->count + kRowBlock, int16_t{0});
  std::fill(t->type + t->count, t->type + t->count + kRowBlock, uint8_t{0});
  std::fill(t->variation + t->count, t->variation + t->count + kRowBlock, uint8_t{0});
  // Every stage reads the map only within the grid's rows (the common area, block agreement and
  // the ridge block count are bounded by them), so only those rows are converted; a minutia's
  // block, which may lie anywhere in the map, is converted on its own.
  FillBlockDegrees(set.DirectionMap, t->map, std::clamp(t->block_rows, 0, kMapSize));
  for (int j = 0; j < t->count; ++j) {
    const int row = t->y[j] / kBlockSize;
    const int column = t->x[j] / kBlockSize;
    const bool in_map = row >= 0 && column >= 0 && row < kMapSize && column < kMapSize;
    t->block_direction[j] = in_map ? BlockDegrees(set.DirectionMap[row][column]) : kEmptyBlock;
  }
}

// The floor of sqrt(dx^2 + dy^2), the value IntSqrt gives. Below 2^52 the double square root,
// correctly rounded, never crosses the next integer, so its truncation is already exact; the
// two corrections keep the result exact whatever the rounding mode.
int PairDistance(int dx, int dy) {
  const int64_t n = static_cast<int64_t>(dx) * dx + static_cast<int64_t>(dy) * dy;
  auto root = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
  root -= root * root > n;
  root += (root + 1) * (root + 1) <= n;
  return static_cast<int>(root);
}

constexpr int kRowCoordinateLimit = 1023;  // the row form below is exact for 0..1023

// True when every coordinate lies in 0..1023 (what extraction and stored templates give): then
// every square sum stays below 2^21 and every bearing quotient below 2^20, where the single
// precision forms of the rows are exact.
bool CoordinatesWithinRowRange(const PairTables& t) {
  bool outside = false;
  for (int j = 0; j < t.count; ++j) {
    outside |= (t.x[j] < 0) | (t.x[j] > kRowCoordinateLimit) | (t.y[j] < 0) |
               (t.y[j] > kRowCoordinateLimit);
  }
  return !outside;
}

// Distance, bearing and relative direction for every ordered pair. The entry (k, j) is derived
// from (j, k): the reverse bearing is the forward one +/- 180 in 0..359, so a forward bearing of
// 360 reverses to 180 and two minutiae on one spot read 0 forward and 180 back. This pair-by-pair
// form serves coordinates outside 0..1023, which the row form does not cover.
void FillPairMatricesByPair(PairTables* t) {
  const int n = t->count;
  for (int j = 0; j < n; ++j) {
    t->distance[j][j] = 0;
    t->bearing[j][j] = 0;
    t->relative[j][j] = 0;
    for (int k = j + 1; k < n; ++k) {
      const int dx = t->x[k] - t->x[j];
      const int dy = t->y[k] - t->y[j];
      const auto d = static_cast<int16_t>(PairDistance(dx, dy));
      t->distance[j][k] = d;
      t->distance[k][j] = d;
      const int bearing = Bearing(dx, dy);
      t->bearing[j][k] = static_cast<int16_t>(bearing);
      t->bearing[k][j] = static_cast<int16_t>(bearing < 180 ? bearing + 180 : bearing - 180);
      int relative = t->direction[k] - t->direction[j];
      if (relative < 0) relative += kDegreesPerTurn;
      t->relative[j][k] = static_cast<int16_t>(relative);
      t->relative[k][j] = static_cast<int16_t>(relative == 0 ? 0 : kDegreesPerTurn - relative);
    }
  }
}

void FillPairMatrices(PairTables* t) {
  if (!CoordinatesWithinRowRange(*t)) {
    FillPairMatricesByPair(t);
    return;
  }
  FillPairRows(t);
}

// Every other minutia within the radius, ascending, from the entries above the diagonal: a
// row's neighbours after it are marked on vector lanes and found eight at a time from a word of
// marks; each such pair (j, k) is listed in both rows. Rows are taken in ascending order, so a
// list receives its smaller indices (from the rows before it) before its larger ones.
void FillNeighbours(int radius, PairTables* t) {
  const int n = t->count;
  // Distances are never negative, so the clamped radius decides every one as the radius does.
  const auto limit = static_cast<int16_t>(std::clamp(radius, -1, 32767));
  uint8_t marks[kMatchCapacity + kKeepPadding];
  std::memset(t->neighbour_count, 0, static_cast<size_t>(n));
  for (int j = 0; j < n; ++j) {
    const int first = j + 1;
    const int width = n - first;
    const int16_t* __restrict distance = t->distance[j] + first;
    for (int c = 0; c < width; ++c) marks[c] = static_cast<uint8_t>(distance[c] <= limit);
    std::memset(marks + width, 0, kKeepPadding);
    for (int q = 0; q < width; q += kKeepPadding) {
      uint64_t word;
      std::memcpy(&word, marks + q, sizeof word);
      while (word != 0) {
        const int k = first + q + std::countr_zero(word) / 8;
        word &= word - 1;
        t->neighbours[j][t->neighbour_count[j]++] = static_cast<uint8_t>(k);
        t->neighbours[k][t->neighbour_count[k]++] = static_cast<uint8_t>(j);
      }
    }
  }
}

// The lengths of the pairs j < k with min_distance < d < 1024, counted (every length above 1023
// in one extra bin, those not above min_distance counted but never read) into the list's length
// ends, over the lengths present only; the list itself is placed by PlacePairList. Every length
// from low up is listed, so t->listed_low records low for the placing.
void CountPairLengths(int min_distance, PairTables* t) {
  const int n = t->count;
  const int low = std::clamp(min_distance + 1, 0, kMaxPairDistance);
  // Only the bins a row can touch are cleared, as the rows reach them: bins 0..cleared_through
  // and the last bin are zero before any count, and every bin the running sum reads lies below
  // the watermark (longest is the watermark's final value), so no bin is read uncleared.
  int32_t histogram[kMaxPairDistance + 1];
  histogram[0] = 0;
  histogram[kMaxPairDistance] = 0;
  int cleared_through = 0;
  // No listed length exceeds `longest` (the longest pair below 1024, or 1023), so the counts end
  // there. A row's longest pair is a reduction on lanes, and it lets the rows without a pair of
  // 1024 or more (all but rows of sets spread far beyond a print) count without clamping.
  //
  // The distances are read as unsigned: a pair of a decoded template whose coordinates lie far
  // outside a print (up to the 16-bit extremes) has a distance past 32767 that its 16-bit entry
  // holds wrapped to a negative value; read unsigned it is long again, lands in the last bin and
  // is not listed, as the placing loop also decides.
  for (int j = 0; j < n; ++j) {
    // Signed and unsigned forms of one type may alias.
    const auto* __restrict row = reinterpret_cast<const uint16_t*>(t->distance[j]);
    uint16_t row_longest = 0;
    for (int k = j + 1; k < n; ++k) row_longest = row[k] > row_longest ? row[k] : row_longest;
    const int reach = std::min<int>(row_longest, kMaxPairDistance - 1);
    if (reach > cleared_through) {
      std::memset(histogram + cleared_through + 1, 0,
                  static_cast<size_t>(reach - cleared_through) * sizeof histogram[0]);
      cleared_through = reach;
    }
    if (row_longest < kMaxPairDistance) {
#pragma GCC unroll 4
      for (int k = j + 1; k < n; ++k) ++histogram[row[k]];
    } else {
      for (int k = j + 1; k < n; ++k) {
        const unsigned d = row[k];
        ++histogram[d < kMaxPairDistance ? d : kMaxPairDistance];
      }
    }
  }
  const int longest = cleared_through;
  // Lengths outside low..longest get no pair, so their ends are those of the length before.
  int32_t* length_end = t->length_end;
  std::fill(length_end, length_end + low, 0);
  const int32_t end = RunningLengthSums(histogram, low, longest, t->place_cursor, length_end);
  std::fill(length_end + std::max(low, longest + 1), length_end + kMaxPairDistance, end);
  t->pair_count = end;
  t->listed_low = low;
  t->placed_through = low - 1;
}

}  // namespace

// The pairs of the lengths not yet placed up to limit go to their slots, pairs of equal length in
// order of j, then k (the order of the loops below); the sentinel at pair_count. Each length's
// cursor was left at its first slot by the counting and moves only while that length is placed,
// so a later call with a larger limit continues where this one stopped. One unsigned test
// decides first <= d <= limit. The list, its two value columns and the cursors are disjoint, so
// none of the stores can change a value the loop reads; the packed indices of (j, k) step by one
// k at a time.
void PlacePairList(PairTables* t, int limit) {
  const int n = t->count;
  limit = std::min(limit, kMaxPairDistance - 1);
  if (limit > t->placed_through) {
    const int low = t->placed_through + 1;
    const auto listed_span = static_cast<uint32_t>(limit + 1 - low);
    MinutiaPair* __restrict pairs = t->pairs;
    int16_t* __restrict pair_relative = t->pair_relative;
    int16_t* __restrict pair_bearing = t->pair_bearing;
    int32_t* __restrict cursor = t->place_cursor;
    for (int j = 0; j < n; ++j) {
      const int16_t* __restrict distance = t->distance[j];
      const int16_t* __restrict relative = t->relative[j];
      const int16_t* __restrict bearing = t->bearing[j];
      uint32_t packed = (static_cast<uint32_t>(j + 1) << 16) | static_cast<uint32_t>(j);
#pragma GCC unroll 2
      for (int k = j + 1; k < n; ++k, packed += uint32_t{1} << 16) {
        const int d = distance[k];
        if (static_cast<uint32_t>(d - low) >= listed_span) continue;
        const int32_t slot = cursor[d]++;
        pairs[slot] = {d, packed};
        pair_relative[slot] = relative[k];
        pair_bearing[slot] = bearing[k];
      }
    }
    t->placed_through = limit;
  }
  t->pairs[t->pair_count] = {kPairSentinel, 0};
}

void BuildPairTables(MatchWork* work, MatchSide side, const FeatureSet& set,
                     PairPlacement placement) {
  PairTables* t = side == MatchSide::kA ? &work->a : &work->b;
  t->count = std::clamp(set.Count, 0, kMatchCapacity);
  t->block_cols = set.BlockCols;
  t->block_rows = set.BlockRows;
  CopyMinutiae(set, t);
  std::memset(t->row_complete, 0, sizeof t->row_complete);
  FillPairMatrices(t);
  FillNeighbours(work->params.NeighbourRadius, t);
  CountPairLengths(work->params.MinPairDistance, t);
  if (placement == PairPlacement::kWhole) PlacePairList(t, kMaxPairDistance - 1);
}

void CompletePairRow(PairTables* t, int r) {
  if (t->row_complete[r] != 0) return;
  for (int c = 0; c < r; ++c) {
    t->distance[r][c] = t->distance[c][r];
    const int bearing = t->bearing[c][r];
    t->bearing[r][c] = static_cast<int16_t>(bearing < 180 ? bearing + 180 : bearing - 180);
    const int relative = t->relative[c][r];
    t->relative[r][c] = static_cast<int16_t>(relative == 0 ? 0 : kDegreesPerTurn - relative);
  }
  t->row_complete[r] = 1;
}

}  // namespace ridgeline
