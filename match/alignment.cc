// Alignment search. For each primary anchor (a1, b1) the A minutiae whose relation to a1 matches
// some B candidate's relation to b1 are marked compatible; each marked secondary anchor (a2, b2)
// then fixes a rotation and a translation, both feature sets must show enough minutiae in the
// common area, and the compatible minutiae are paired greedily by squared distance.
#include "match/alignment.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "match/int_trig.h"
#include "match/match_kernels.h"
#include "match/pair_tables.h"
#include "match/score.h"

namespace ridgeline {

namespace {

constexpr int kMinSupport = 4;           // fewest minutiae in the common area on either side
constexpr int kSecondaryMinVotes = 3;    // a secondary anchor needs more than 2 votes
constexpr int kEarlyStopScale = 100000;  // raw score x norm above which the search ends
constexpr int kBlockAgreement = 16;      // degrees of block direction difference, either way
constexpr int kHalfTurn = 180;

// Marks every (i, k) whose pair with the primary anchor (a1, b1) agrees in length, relative
// direction and rotation, and lists the agreeing k of each i.
void MarkCompatible(MatchWork* work, int a1, int b1) {
  // The anchors' rows are read whole here and for each secondary anchor.
  CompletePairRow(&work->a, a1);
  CompletePairRow(&work->b, b1);
  MarkCompatibleRows(work, a1, b1);
}

// A point strictly inside the grid's pixel area, on a block with ridges.
bool InsideCommonArea(const PairTables& t, int x, int y) {
  return x > 0 && x < kBlockSize * t.block_cols && y > 0 && y < kBlockSize * t.block_rows &&
         BlockAt(t, y / kBlockSize, x / kBlockSize) != kEmptyBlock;
}

struct Candidate {
  int a1, b1, a2, b2;
  int rotation;
  Rotation trig;
  int tx, ty;
};

// Maps the A minutiae other than the anchors into B; returns how many land in B's common area.
// Those that land there and have a compatible B minutia keep their mapped position, every other
// one is marked unusable.
int SupportInB(MatchWork* work, const Candidate& c) {
  const PairTables& a = work->a;
  int inside = 0;
  for (int i = 0; i < a.count; ++i) {
    work->mapped_x[i] = -1;
    if (i == c.a1 || i == c.a2) continue;
    const int x = c.trig.X(a.x[i], a.y[i]) + c.tx;
    const int y = c.trig.Y(a.x[i], a.y[i]) + c.ty;
    if (!InsideCommonArea(work->b, x, y)) continue;
    ++inside;
    if (work->compatible_count[i] == 0) continue;
    work->mapped_x[i] = static_cast<int16_t>(x);
    work->mapped_y[i] = static_cast<int16_t>(y);
  }
  return inside;
}

// Maps the B minutiae other than the anchors back into A: -1 (free) inside A's common area, -2
// outside. Returns how many are free.
int SupportInA(MatchWork* work, const Candidate& c) {
  const PairTables& b = work->b;
  int16_t* assigned = work->assignment;
  assigned[c.b1] = static_cast<int16_t>(c.a1);
  assigned[c.b2] = static_cast<int16_t>(c.a2);
  int inside = 0;
  for (int k = 0; k < b.count; ++k) {
    if (k == c.b1 || k == c.b2) continue;
    const int dx = b.x[k] - c.tx;
    const int dy = b.y[k] - c.ty;
    const int x = (c.trig.cos * dx + c.trig.sin * dy + kTrigRound) >> kTrigShift;
    const int y = (c.trig.cos * dy - c.trig.sin * dx + kTrigRound) >> kTrigShift;
    if (InsideCommonArea(work->a, x, y)) {
      assigned[k] = -1;
      ++inside;
    } else {
      assigned[k] = -2;
    }
  }
  return inside;
}

// Pairs each usable A minutia, in index order, with the nearest free compatible B minutia within
// the pairing radius whose rotation agrees; on equal distance the later candidate wins.
void PairGreedily(MatchWork* work, const Candidate& c, int radius2, int* matched, int* sum) {
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const CrossTables& x = work->cross;
  const int angle_tolerance = work->params.AngleTolerance;
  for (int i = 0; i < a.count; ++i) {
    if (work->mapped_x[i] == -1) continue;
    int best = -1;
    int best_d2 = INT_MAX;
    for (int n = 0; n < work->compatible_count[i]; ++n) {
      const int k = work->compatible_list[i][n];
      if (work->assignment[k] != -1) continue;
      const int dx = work->mapped_x[i] - b.x[k];
      const int dy = work->mapped_y[i] - b.y[k];
      const int d2 = dx * dx + dy * dy;
      if (d2 > radius2 || d2 > best_d2) continue;
      if (!WithinAngle(x.rotation[i][k] - c.rotation, angle_tolerance)) continue;
      best = k;
      best_d2 = d2;
    }
    if (best < 0) continue;
    work->assignment[best] = static_cast<int16_t>(i);
    ++*matched;
    *sum += x.weight[i][best];
  }
}

}  // namespace

void AlignmentSearch(MatchWork* work, MatchResult* result) {
  const MatchParams& p = work->params;
  const PairTables& a = work->a;
  const PairTables& b = work->b;
  const int na = a.count;
  const int nb = b.count;

  result->Score = 0;
  result->Anchor1 = -1;
  result->Anchor2 = -1;
  result->Matched = 0;
  result->Overlap = 0;

  const int norm = ScoreNormaliser(na, nb);
  const int min_support = std::max(kMinSupport, std::min((p.SupportPercentage * na + 99) / 100,
                                                         (p.SupportPercentage * nb + 99) / 100));
  const int radius2 = (p.DistanceTolerance + 1) * (p.DistanceTolerance + 1);
  const int early_stop = norm * kEarlyStopScale;

  const Anchor* anchors = work->anchors;
  int least_primary_votes = std::max(1, anchors[0].votes / 2 - 1);
  if (na > 24 && nb > 24 && least_primary_votes < 4) least_primary_votes = 4;
  int primaries = 0;
  while (primaries < na && anchors[primaries].votes >= least_primary_votes) ++primaries;
  int secondaries = 0;
  for (int s = 0; s < na; ++s) {
    if (anchors[s].votes >= kSecondaryMinVotes) secondaries = s + 1;
  }

  bool stop = false;
  for (int pi = 0; pi < primaries && !stop; ++pi) {
    if (anchors[pi].votes <= result->Matched) continue;
    Candidate c{};
    c.a1 = anchors[pi].a;
    c.b1 = anchors[pi].b;
    MarkCompatible(work, c.a1, c.b1);
    for (int si = 0; si < secondaries && !stop; ++si) {
      c.a2 = anchors[si].a;
      c.b2 = anchors[si].b;
      if (work->compatible[c.a2][c.b2] == 0) continue;
      if (a.distance[c.a1][c.a2] < p.MinAnchorSeparation) continue;

      c.rotation = b.bearing[c.b1][c.b2] - a.bearing[c.a1][c.a2];
      if (c.rotation < 0) c.rotation += kDegreesPerTurn;
      c.trig = RotationOf(c.rotation);

      // The block directions at the second anchor must agree under the rotation, as
      // undirected lines (mod 180).
      const int turned = (c.rotation % kHalfTurn + a.block_direction[c.a2]) % kHalfTurn;
      const int block_difference = std::abs(turned - b.block_direction[c.b2]);
      if (block_difference >= kBlockAgreement && block_difference <= kHalfTurn - kBlockAgreement) {
        continue;
      }

      c.tx = b.x[c.b1] - c.trig.X(a.x[c.a1], a.y[c.a1]);
      c.ty = b.y[c.b1] - c.trig.Y(a.x[c.a1], a.y[c.a1]);

      const int inside_a = SupportInB(work, c);
      if (inside_a < min_support) continue;
      const int inside_b = SupportInA(work, c);
      if (inside_b < min_support) continue;

      int matched = 0;
      int sum = 0;
      PairGreedily(work, c, radius2, &matched, &sum);
      if (matched == 0) continue;

      const int s = AnchorScaledSum(*work, sum, c.a1, c.b1, c.a2, c.b2);
      const int overlap =
          matched < 10 ? inside_a + inside_b - matched : std::max(inside_a, inside_b);
      const int score = SquaredOverOverlap(s, overlap);
      if (score > result->Score) {
        result->Score = score;
        result->Rotation = c.rotation;
        result->TX = c.tx;
        result->TY = c.ty;
        result->Anchor1 = c.a1;
        result->Anchor2 = c.a2;
        result->Matched = matched;
        result->Overlap = overlap;
        CorrespondenceFromAssignment(*work, result);
      }
      if (overlap >= min_support && result->Score > early_stop) stop = true;
    }
  }

  if (result->Anchor1 < 0) return;
  const int raw = RescoreCorrespondence(work, *result, NeighbourRule::kBothSides);
  result->Score = raw / norm / 100;
}

}  // namespace ridgeline
