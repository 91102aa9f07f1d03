// The matcher's table building in its plain pair-by-pair form, kept as the reference the
// vectorised forms are tested against: every entry must come out the same.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "core/int_math.h"
#include "match/int_trig.h"
#include "match/match_result.h"
#include "match/pair_tables.h"
#include "match/pair_voting.h"
#include "match/score.h"
#include "match/work_area.h"

namespace ridgeline::testing {

// The matrices and lists of one side, as the pair-by-pair form fills them from t's minutiae.
struct ReferencePairTables {
  int count = 0;
  std::vector<int16_t> distance, bearing, relative;  // count x count
  std::vector<std::vector<uint8_t>> neighbours;      // per minutia, ascending
};

inline ReferencePairTables BuildReferencePairTables(const PairTables& t, int radius) {
  ReferencePairTables r;
  const int n = t.count;
  r.count = n;
  const auto at = [n](int j, int k) { return static_cast<size_t>(j * n + k); };
  r.distance.assign(static_cast<size_t>(n * n), 0);
  r.bearing.assign(static_cast<size_t>(n * n), 0);
  r.relative.assign(static_cast<size_t>(n * n), 0);
  for (int j = 0; j < n; ++j) {
    for (int k = j + 1; k < n; ++k) {
      const int64_t dx = t.x[k] - t.x[j];
      const int64_t dy = t.y[k] - t.y[j];
      const auto d = static_cast<int16_t>(IntSqrt(dx * dx + dy * dy));
      r.distance[at(j, k)] = r.distance[at(k, j)] = d;
      const int bearing = Bearing(static_cast<int>(dx), static_cast<int>(dy));
      r.bearing[at(j, k)] = static_cast<int16_t>(bearing);
      r.bearing[at(k, j)] = static_cast<int16_t>(bearing < 180 ? bearing + 180 : bearing - 180);
      int relative = t.direction[k] - t.direction[j];
      if (relative < 0) relative += 360;
      r.relative[at(j, k)] = static_cast<int16_t>(relative);
      r.relative[at(k, j)] = static_cast<int16_t>(relative == 0 ? 0 : 360 - relative);
    }
  }
  r.neighbours.resize(static_cast<size_t>(n));
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < n; ++k) {
      if (k != j && r.distance[at(j, k)] <= radius)
        r.neighbours[static_cast<size_t>(j)].push_back(static_cast<uint8_t>(k));
    }
  }
  return r;
}

// Rotation, weight and candidate list of every (A, B) minutia pair, entry by entry.
struct ReferenceCrossRow {
  std::vector<int16_t> rotation, weight;
  std::vector<uint8_t> candidates;
};

inline std::vector<ReferenceCrossRow> BuildReferenceCrossTables(const MatchWork& work) {
  const MatchParams& p = work.params;
  const int limit = p.MaxRotation + p.AngleTolerance;
  std::vector<ReferenceCrossRow> rows(static_cast<size_t>(work.a.count));
  for (int i = 0; i < work.a.count; ++i) {
    ReferenceCrossRow& row = rows[static_cast<size_t>(i)];
    for (int k = 0; k < work.b.count; ++k) {
      int rotation = work.b.direction[k] - work.a.direction[i];
      if (rotation < 0) rotation += 360;
      const bool in_band = rotation <= limit || rotation >= 360 - limit;
      const int factor = work.a.type[i] == work.b.type[k] ? 10 : p.TypeMismatchWeight;
      const int weight =
          in_band
              ? work.variation_weight[std::abs(work.a.variation[i] - work.b.variation[k])] * factor
              : 0;
      row.rotation.push_back(static_cast<int16_t>(rotation));
      row.weight.push_back(static_cast<int16_t>(weight));
      if (static_cast<int16_t>(weight) != 0) row.candidates.push_back(static_cast<uint8_t>(k));
    }
  }
  return rows;
}

// The B minutiae a row of the cross tables leaves as candidates for A minutia i (weight not 0),
// ascending, to set against ReferenceCrossRow::candidates.
inline std::vector<uint8_t> CrossCandidates(const MatchWork& work, int i) {
  std::vector<uint8_t> list;
  for (int k = 0; k < work.b.count; ++k) {
    if (work.cross.weight[i][k] != 0) list.push_back(static_cast<uint8_t>(k));
  }
  return list;
}

// The trimming walked one pair at a time from the end of both lists.
inline void ReferenceTrimPairLists(const PairTables& a, const PairTables& b, int* last_a,
                                   int* last_b) {
  while (*last_a * *last_b > kMaxPairProducts) {
    const int longest = std::max(a.pairs[*last_a].distance, b.pairs[*last_b].distance);
    if (longest <= kTrimFloor) break;
    while (*last_a >= 0 && a.pairs[*last_a].distance >= longest) --*last_a;
    while (*last_b >= 0 && b.pairs[*last_b].distance >= longest) --*last_b;
  }
}

// The votes as the plain loop counts them: each A pair against every B pair of its window,
// every test in turn; indexed [i * kMatchCapacity + k].
inline std::vector<int32_t> ReferenceVotes(const MatchWork& work) {
  const MatchParams& p = work.params;
  const PairTables& a = work.a;
  const PairTables& b = work.b;
  const CrossTables& x = work.cross;
  std::vector<int32_t> votes(static_cast<size_t>(kMatchCapacity) * kMatchCapacity, 0);
  int last_a = a.pair_count - 1;
  int last_b = b.pair_count - 1;
  ReferenceTrimPairLists(a, b, &last_a, &last_b);
  int start = 0;
  for (int pa = 0; pa <= last_a; ++pa) {
    const int length = a.pairs[pa].distance;
    while (b.pairs[start].distance < length - p.DistanceTolerance) ++start;
    if (start > last_b) break;
    const int j1 = a.pairs[pa].Low();
    const int j2 = a.pairs[pa].High();
    for (int pb = start; b.pairs[pb].distance <= length + p.DistanceTolerance; ++pb) {
      if (!WithinAngle(b.pair_relative[pb] - a.pair_relative[pa], p.AngleTolerance)) continue;
      int theta = b.pair_bearing[pb] - a.pair_bearing[pa];
      if (theta < 0) theta += 360;
      if (theta > p.MaxRotation && theta < 360 - p.MaxRotation) continue;
      const int k1 = b.pairs[pb].Low();
      const int k2 = b.pairs[pb].High();
      if (x.weight[j1][k1] == 0 || x.weight[j2][k2] == 0) continue;
      if (!WithinAngle(x.rotation[j1][k1] - theta, p.AngleTolerance) ||
          !WithinAngle(x.rotation[j2][k2] - theta, p.AngleTolerance)) {
        continue;
      }
      ++votes[static_cast<size_t>(j1 * kMatchCapacity + k1)];
      ++votes[static_cast<size_t>(j2 * kMatchCapacity + k2)];
    }
  }
  return votes;
}

// The alignment search's compatible minutiae for the primary anchor (a1, b1), candidate by
// candidate with every test in turn: per A minutia the ascending compatible B minutiae.
// REQUIRES: rows a1 of A and b1 of B complete.
inline std::vector<std::vector<uint8_t>> ReferenceCompatible(const MatchWork& work, int a1,
                                                             int b1) {
  const MatchParams& p = work.params;
  const PairTables& a = work.a;
  const PairTables& b = work.b;
  const CrossTables& x = work.cross;
  std::vector<std::vector<uint8_t>> lists(static_cast<size_t>(a.count));
  for (int i = 0; i < a.count; ++i) {
    const int length_a = a.distance[a1][i];
    if (length_a < p.MinPairDistance) continue;
    const int low = std::max(length_a - p.DistanceTolerance, p.MinPairDistance);
    const int high = length_a + p.DistanceTolerance;
    for (int k = 0; k < b.count; ++k) {
      if (x.weight[i][k] == 0) continue;
      const int length_b = b.distance[b1][k];
      if (length_b < low || length_b > high) continue;
      if (!WithinAngle(b.relative[b1][k] - a.relative[a1][i], p.AngleTolerance)) continue;
      int theta = b.bearing[b1][k] - a.bearing[a1][i];
      if (theta < 0) theta += 360;
      if (theta > p.MaxRotation && theta < 360 - p.MaxRotation) continue;
      if (!WithinAngle(x.rotation[a1][b1] - theta, p.AngleTolerance) ||
          !WithinAngle(x.rotation[i][k] - theta, p.AngleTolerance)) {
        continue;
      }
      lists[static_cast<size_t>(i)].push_back(static_cast<uint8_t>(k));
    }
  }
  return lists;
}

// BlockAgreement's counts as the plain loop takes them, block by block.
inline void ReferenceBlockCounts(const PairTables& a, const PairTables& b,
                                 const MatchResult& alignment, int* valid_a, int* overlap,
                                 int* agree) {
  const int turn = alignment.Rotation > 179 ? alignment.Rotation - 180 : alignment.Rotation;
  const Rotation trig = RotationOf(alignment.Rotation);
  *valid_a = *overlap = *agree = 0;
  for (int r = 0; r < std::min(a.block_rows, kMapSize); ++r) {
    for (int q = 0; q < std::min(a.block_cols, kMapSize); ++q) {
      const int degrees_a = a.map[r][q];
      if (degrees_a == kEmptyBlock) continue;
      ++*valid_a;
      const int x = kBlockSize * q + kBlockSize / 2;
      const int y = kBlockSize * r + kBlockSize / 2;
      const int column_b = (trig.X(x, y) + alignment.TX) >> 4;
      const int row_b = (trig.Y(x, y) + alignment.TY) >> 4;
      if (column_b < 1 || row_b < 1 || column_b >= b.block_cols || row_b >= b.block_rows) continue;
      const int degrees_b = BlockAt(b, row_b, column_b);
      if (degrees_b == kEmptyBlock) continue;
      ++*overlap;
      int difference = std::abs((turn + degrees_a) % 180 - degrees_b);
      if (difference > 90) difference = 180 - difference;
      *agree += difference <= 30;
    }
  }
}

// Empty when the matrices (every row made whole first), neighbour lists, pair list and length
// ends of t are those the reference gives for t's minutiae; otherwise the first difference found.
inline std::string FirstTableDifference(PairTables& t, int radius, int min_pair_distance) {
  const ReferencePairTables r = BuildReferencePairTables(t, radius);
  for (int j = 0; j < t.count; ++j) CompletePairRow(&t, j);
  const int n = t.count;
  const auto where = [](const char* what, int j, int k) {
    return std::string(what) + " at " + std::to_string(j) + ", " + std::to_string(k);
  };
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < n; ++k) {
      const auto e = static_cast<size_t>(j * n + k);
      if (t.distance[j][k] != r.distance[e]) return where("distance", j, k);
      if (t.bearing[j][k] != r.bearing[e]) return where("bearing", j, k);
      if (t.relative[j][k] != r.relative[e]) return where("relative", j, k);
    }
    const std::vector<uint8_t>& expected = r.neighbours[static_cast<size_t>(j)];
    if (t.neighbour_count[j] != expected.size() ||
        !std::equal(expected.begin(), expected.end(), t.neighbours[j])) {
      return where("neighbours", j, 0);
    }
  }
  std::vector<std::tuple<int, int, int>> pairs;  // (length, j, k): the counting sort's order
  for (int j = 0; j < n; ++j) {
    for (int k = j + 1; k < n; ++k) {
      const int d = r.distance[static_cast<size_t>(j * n + k)];
      if (d > min_pair_distance && d < kMaxPairDistance) pairs.emplace_back(d, j, k);
    }
  }
  std::sort(pairs.begin(), pairs.end());
  if (t.pair_count != static_cast<int>(pairs.size())) return "pair count";
  for (int p = 0; p < t.pair_count; ++p) {
    const auto [d, j, k] = pairs[static_cast<size_t>(p)];
    if (t.pairs[p].distance != d || t.pairs[p].Low() != j || t.pairs[p].High() != k ||
        t.pair_relative[p] != t.relative[j][k] || t.pair_bearing[p] != t.bearing[j][k]) {
      return where("pair list", p, 0);
    }
  }
  if (t.pairs[t.pair_count].distance != kPairSentinel) return "sentinel";
  for (int d = 0; d < kMaxPairDistance; ++d) {
    const auto end = std::upper_bound(pairs.begin(), pairs.end(), std::make_tuple(d, n, n));
    if (t.length_end[d] != end - pairs.begin()) return where("length end", d, 0);
  }
  return "";
}

}  // namespace ridgeline::testing
