// Skeleton repair: gap bridging between facing ridge endings and the clean-up of false links
// between junctions. Every walk here stays inside the image: ridge traces stop on the frame,
// branch traces stop 2 pixels short of the edge (so the neighbours of every recorded point are
// inside), and StepLine walks stay in the bounding box of two in-image points.
#include "extract/skeleton_repair.h"

#include <algorithm>
#include <cassert>
#include <optional>

#include "core/constants.h"
#include "core/folded_angle.h"
#include "core/int_math.h"
#include "extract/byte_words.h"
#include "extract/crossing_scan.h"
#include "extract/step_line.h"

namespace ridgeline {
namespace {

constexpr uint8_t kBlack = 0;
constexpr uint8_t kWhite = 255;

// Gap bridging: the ending's own trace, the partner's trace, and the least deviation from
// straight ahead (degrees, folded difference from the opposite direction must exceed it).
constexpr int kGapTraceSteps = 10;
constexpr int kGapMinTraceSteps = 3;  // a trace of this many steps or fewer is too short
constexpr int kGapAlignment = 164;

// Junction clean-up thresholds.
constexpr int kSmallLoopCount = 20;     // the longer side of a loop is removed below this
constexpr int kBridgeEndPoints = 3;     // junction points put back after removing a Y bridge
constexpr int kShortLinkCount = 5;      // links of at most this many points may be cut
constexpr int kParallelAngle = 60;      // branches within this many degrees run side by side
constexpr int kEarlierBranchIndex = 2;  // points of earlier branches from this index on count

// Junction shapes by the folded angles between branches (degrees): a T has one pair nearly
// opposite and both others near square; a Y one pair well apart and both others moderate.
constexpr int kTStraight = 165;  // the widest pair must exceed this
constexpr int kTSquareLow = 76;
constexpr int kTSquareHigh = 104;
constexpr int kYWide = 140;  // the widest pair must exceed this
constexpr int kYLegLow = 46;
constexpr int kYLegHigh = 139;

PixelPoint LastPoint(const Branch& branch) {
  assert(branch.Count > 0);
  return {branch.X[branch.Count - 1], branch.Y[branch.Count - 1]};
}

// Branches that stopped on their first step have no last point and match nothing.
bool SameLastPoint(const Branch& a, const Branch& b) {
  return a.Count > 0 && b.Count > 0 && LastPoint(a) == LastPoint(b);
}

bool Contains(const Branch& branch, PixelPoint p) {
  for (int i = 0; i < branch.Count; ++i) {
    if (branch.X[i] == p.x && branch.Y[i] == p.y) return true;
  }
  return false;
}

// Paints points [from, to) of a branch.
void Paint(const ImageView& skeleton, const Branch& branch, uint8_t value, int from, int to) {
  for (int i = from; i < to; ++i) skeleton[branch.Y[i]][branch.X[i]] = value;
}
void Paint(const ImageView& skeleton, const Branch& branch, uint8_t value) {
  Paint(skeleton, branch, value, 0, branch.Count);
}

bool MeetsEarlierBranch(const BranchSet& set, int branch, int x, int y) {
  for (int b = 0; b < branch; ++b) {
    const Branch& earlier = set.Branches[b];
    for (int i = kEarlierBranchIndex; i < earlier.Count; ++i) {
      if (earlier.X[i] == x && earlier.Y[i] == y) return true;
    }
  }
  return false;
}

int32_t StatusOfStop(int crossing) {
  if (crossing == 0) return kBranchEnded;
  if (crossing == 2) return kBranchMetJunction;
  return kBranchCrossed;
}

void TraceOneBranch(const ImageView& skeleton, int x, int y, BranchSet* set, int index) {
  Branch& branch = set->Branches[index];
  branch.Count = 0;
  branch.Status = kBranchEnded;
  // Side pixels whitened after the first step so that the second cannot slip sideways.
  SavedPixels sides;
  int cx = x;
  int cy = y;
  int step = 0;
  for (; step < kBranchSteps; ++step) {
    if (step == 2) sides.Restore(skeleton);
    if (cx < 2 || cx >= skeleton.width - 2 || cy < 2 || cy >= skeleton.height - 2) break;
    const int crossing = CrossingNumber(skeleton, cx, cy);
    if (step == 0 && crossing == 0) break;
    branch.X[branch.Count] = cx;
    branch.Y[branch.Count] = cy;
    ++branch.Count;
    if (MeetsEarlierBranch(*set, index, cx, cy)) {
      skeleton[cy][cx] = kWhite;
      branch.Status = kBranchMetJunction;
      break;
    }
    if (step >= 2 && crossing != 1) {
      branch.Status = StatusOfStop(crossing);
      break;
    }
    skeleton[cy][cx] = kWhite;
    const int from_x = cx;
    const int from_y = cy;
    for (const PixelPoint& n : kStepOrder) {
      if (IsRidge(skeleton, from_x + n.x, from_y + n.y)) {
        cx = from_x + n.x;
        cy = from_y + n.y;
        break;
      }
    }
    if (step == 0) {
      const bool n = IsRidge(skeleton, x, y - 1);
      const bool e = IsRidge(skeleton, x + 1, y);
      const bool s = IsRidge(skeleton, x, y + 1);
      const bool w = IsRidge(skeleton, x - 1, y);
      if ((n && e) || (n && w) || (s && w) || (e && s)) {
        // Two black 4-neighbours mean the move went to one of them, straight up, down or across.
        if (cx == x) {
          sides.Whiten(skeleton, x - 1, y);
          sides.Whiten(skeleton, x + 1, y);
        } else if (cy == y) {
          sides.Whiten(skeleton, x, y - 1);
          sides.Whiten(skeleton, x, y + 1);
        }
      }
    }
  }
  if (step == kBranchSteps) branch.Status = kBranchFull;
  sides.Restore(skeleton);
}

// The first ending (row-major over the window of the given radius, clipped to rows and columns
// 1 .. size - 2) that the ending (x, y), whose ridge runs towards `ahead` degrees, can be joined
// to: reachable over white pixels, within 16 degrees of straight ahead, and with a ridge of its
// own that runs back along the same line.
std::optional<PixelPoint> FindFacingEnding(const ImageView& sk, int x, int y, int ahead,
                                           int radius) {
  const int row_end = std::min(y + radius, sk.height - 2);
  const int col_end = std::min(x + radius, sk.width - 2);
  const int col_start = std::max(1, x - radius);
  for (int v = std::max(1, y - radius); v <= row_end; ++v) {
    // Each search resumes on the row as it is then: every test below gives back what it moved.
    for (int u = NextZero(sk[v], col_start, col_end + 1); u <= col_end;
         u = NextZero(sk[v], u + 1, col_end + 1)) {
      if (CrossingNumber(sk, u, v) != 1) continue;
      if (!PathClear(x, y, u, v, sk)) continue;
      const int towards = LineAngle(x, y, u, v);
      if (FoldedAngle(towards - ahead) <= kGapAlignment) continue;
      const RidgeTrace partner = TraceRidge(sk, u, v, kGapTraceSteps);
      RestoreRidge(sk, partner);
      if (partner.steps <= kGapMinTraceSteps) continue;
      const int back = LineAngle(u, v, partner.x, partner.y);
      if (FoldedAngle(back - (towards + 180) % 360) <= kGapAlignment) continue;
      return PixelPoint{u, v};
    }
  }
  return std::nullopt;
}

}  // namespace

bool PathClear(int x1, int y1, int x2, int y2, const ImageView& skeleton) {
  assert(x1 >= 0 && x1 < skeleton.width && y1 >= 0 && y1 < skeleton.height);
  assert(x2 >= 0 && x2 < skeleton.width && y2 >= 0 && y2 < skeleton.height);
  if (x1 == x2 && y1 == y2) return false;
  bool clear = true;
  bool start = true;
  StepLine(x1, y1, x2, y2, [&](int x, int y) {
    if (!start && IsRidge(skeleton, x, y)) clear = false;
    start = false;
  });
  return clear;
}

void DrawLine(int x1, int y1, int x2, int y2, const ImageView& skeleton) {
  assert(x1 >= 0 && x1 < skeleton.width && y1 >= 0 && y1 < skeleton.height);
  assert(x2 >= 0 && x2 < skeleton.width && y2 >= 0 && y2 < skeleton.height);
  if (x1 == x2 && y1 == y2) return;
  skeleton[y2][x2] = kBlack;
  StepLine(x1, y1, x2, y2, [&](int x, int y) { skeleton[y][x] = kBlack; });
}

void TraceBranches(const ImageView& skeleton, int x, int y, BranchSet* branchSet, int restore) {
  assert(x >= 0 && x < skeleton.width && y >= 0 && y < skeleton.height);
  branchSet->X0 = x;
  branchSet->Y0 = y;
  branchSet->BranchCount = kBranchesPerJunction;
  for (int b = 0; b < kBranchesPerJunction; ++b) TraceOneBranch(skeleton, x, y, branchSet, b);
  for (Branch& branch : branchSet->Branches) {
    Paint(skeleton, branch, restore != 0 ? kBlack : kWhite);
    const PixelPoint last = branch.Count > 0 ? LastPoint(branch) : PixelPoint{x, y};
    branch.Angle = LineAngle(x, y, last.x, last.y);
  }
  const Branch* br = branchSet->Branches;
  branchSet->D01 = FoldedAngle(br[0].Angle - br[1].Angle);
  branchSet->D12 = FoldedAngle(br[1].Angle - br[2].Angle);
  branchSet->D02 = FoldedAngle(br[0].Angle - br[2].Angle);
}

int JunctionShape(const BranchSet& branchSet) {
  int d[3] = {branchSet.D01, branchSet.D12, branchSet.D02};
  std::sort(d, d + 3);
  const int p = d[0];
  const int q = d[1];
  const int m = d[2];
  auto within = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
  if (m > kTStraight && within(p, kTSquareLow, kTSquareHigh) &&
      within(q, kTSquareLow, kTSquareHigh)) {
    return 1;
  }
  if (m <= kYWide || !within(p, kYLegLow, kYLegHigh) || !within(q, kYLegLow, kYLegHigh)) {
    return -1;
  }
  return 2;
}

void CleanBifurcation(const ImageView& skeleton, int x, int y, int shortBranch, int bridgeLength) {
  BranchSet s;
  TraceBranches(skeleton, x, y, &s, 0);
  const Branch* sb = s.Branches;

  bool meets_junction = false;
  for (const Branch& b : s.Branches) meets_junction |= b.Status == kBranchMetJunction;
  if (!meets_junction) {
    for (const Branch& b : s.Branches) Paint(skeleton, b, kBlack);
    return;
  }

  // Small loop: two branches that end on the same pixel; the last such pair counts.
  int loop = -1;
  for (int i = 0; i < kBranchesPerJunction; ++i) {
    if (SameLastPoint(sb[i], sb[(i + 1) % kBranchesPerJunction])) loop = i;
  }
  if (loop >= 0) {
    const int other = (loop + 1) % kBranchesPerJunction;
    const int longer = sb[other].Count > sb[loop].Count ? other : loop;
    for (int i = 0; i < kBranchesPerJunction; ++i) {
      if (i != longer || sb[longer].Count >= kSmallLoopCount) Paint(skeleton, sb[i], kBlack);
    }
    return;
  }

  for (const Branch& b : s.Branches) Paint(skeleton, b, kBlack);
  int short_branches = 0;
  for (const Branch& b : s.Branches) short_branches += b.Count <= shortBranch ? 1 : 0;

  for (int l = 0; l < kBranchesPerJunction; ++l) {
    const Branch& link = sb[l];
    if (link.Status != kBranchMetJunction) continue;
    const Branch& o1 = sb[l == 0 ? 1 : 0];
    const Branch& o2 = sb[l == 2 ? 1 : 2];
    const PixelPoint j = LastPoint(link);
    BranchSet t;
    TraceBranches(skeleton, j.x, j.y, &t, 1);

    // Triangle of three close junctions: replace it by three lines meeting at its centroid.
    if (short_branches >= 2) {
      for (const Branch* other : {&o1, &o2}) {
        for (const Branch& tb : t.Branches) {
          if (!SameLastPoint(tb, *other)) continue;
          Paint(skeleton, link, kWhite);
          Paint(skeleton, *other, kWhite);
          Paint(skeleton, tb, kWhite);
          // The centroid lies between three in-image points, so the lines stay inside.
          const PixelPoint a = j;
          const PixelPoint b = LastPoint(*other);
          const int cx = (a.x + b.x + x) / 3;
          const int cy = (a.y + b.y + y) / 3;
          DrawLine(cx, cy, a.x, a.y, skeleton);
          DrawLine(cx, cy, b.x, b.y, skeleton);
          DrawLine(cx, cy, x, y, skeleton);
          return;
        }
      }
    }

    const PixelPoint middle = {link.X[link.Count / 2], link.Y[link.Count / 2]};
    int m = 0;
    for (int i = 0; i < kBranchesPerJunction; ++i) {
      if (Contains(t.Branches[i], middle)) {
        m = i;
        break;
      }
    }
    const Branch& t1 = t.Branches[m == 0 ? 1 : 0];
    const Branch& t2 = t.Branches[m == 2 ? 1 : 2];

    // A short bridge between two Y junctions.
    if (link.Count < bridgeLength && JunctionShape(s) == 2 && JunctionShape(t) == 2) {
      Paint(skeleton, link, kWhite);
      Paint(skeleton, o1, kBlack, 0, std::min(o1.Count, kBridgeEndPoints));
      Paint(skeleton, o2, kBlack, 0, std::min(o2.Count, kBridgeEndPoints));
      Paint(skeleton, t1, kBlack);
      Paint(skeleton, t2, kBlack);
      return;
    }

    // A very short link between two ridges that run side by side: cut it, keep both junctions.
    if (link.Count <= kShortLinkCount && FoldedAngle(o1.Angle - o2.Angle) <= kParallelAngle &&
        FoldedAngle(t1.Angle - t2.Angle) <= kParallelAngle) {
      Paint(skeleton, link, kWhite, 1, link.Count - 1);
    }
  }
}

void CleanBifurcations(int width, int height, GrayImage skeleton,
                       const uint8_t* const* directionImage, int shortBranch, int bridgeLength) {
  const ImageView sk{skeleton, width, height};
  for (int y = 1; y <= height - 2; ++y) {
    // The next candidate is looked for in the row as the last repair left it.
    for (int x = NextCrossing(sk, directionImage[y], y, 1, width - 1, kBifurcationMark);
         x < width - 1;
         x = NextCrossing(sk, directionImage[y], y, x + 1, width - 1, kBifurcationMark)) {
      CleanBifurcation(sk, x, y, shortBranch, bridgeLength);
    }
  }
}

int BridgeRidgeGaps(int width, int height, GrayImage skeleton, const uint8_t* const* directionImage,
                    int radius) {
  const ImageView sk{skeleton, width, height};
  int bridges = 0;
  for (int y = 1; y <= height - 2; ++y) {
    // The next ending is looked for in the row as the last bridge left it.
    for (int x = NextCrossing(sk, directionImage[y], y, 1, width - 1, kEndingMark); x < width - 1;
         x = NextCrossing(sk, directionImage[y], y, x + 1, width - 1, kEndingMark)) {
      // The ending's own ridge stays white during the search, so that neither the path test
      // nor the partner's trace can run along it.
      const RidgeTrace own = TraceRidge(sk, x, y, kGapTraceSteps);
      std::optional<PixelPoint> partner;
      if (own.steps > kGapMinTraceSteps) {
        partner = FindFacingEnding(sk, x, y, LineAngle(x, y, own.x, own.y), radius);
      }
      RestoreRidge(sk, own);
      if (partner) {
        // The partner is black already; the walk excludes it.
        StepLine(x, y, partner->x, partner->y, [&](int px, int py) { skeleton[py][px] = kBlack; });
        ++bridges;
      }
    }
  }
  return bridges;
}

}  // namespace ridgeline
