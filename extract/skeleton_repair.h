// Skeleton repair between thinning and minutiae detection: bridges short gaps between ridge
// endings that face each other along one line, and removes false links between bifurcations
// (small loops, bridges between Y junctions, short links between parallel ridges, triangles of
// junctions). Both passes change the skeleton (0 = ridge, 255 = white) in place and sweep it in
// row order, so a change made at one pixel is seen by every later one.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "extract/ridge_trace.h"

namespace ridgeline {

// Settings the pipeline passes.
constexpr int kBridgeSearchRadius = 15;
constexpr int kShortBranchLength = 10;
constexpr int kJunctionBridgeLength = 15;

// Joins each foreground ridge ending (crossing number 1, background bit of directionImage clear)
// whose ridge runs more than 3 steps to the first ending within `radius` (row-major search) that
// lies within 16 degrees of straight ahead, is reachable over white pixels only, and whose own
// ridge (more than 3 steps) runs back towards the first ending within 16 degrees. The bridge is
// the straight StepLine walk between the two endings. Returns the number of bridges drawn.
// REQUIRES: skeleton and directionImage are width x height; the skeleton holds only 0 and 255.
int BridgeRidgeGaps(int width, int height, GrayImage skeleton, const uint8_t* const* directionImage,
                    int radius);

// Calls CleanBifurcation at every black foreground pixel of crossing number 3, in row order,
// rows and columns 1 .. size - 2.
void CleanBifurcations(int width, int height, GrayImage skeleton,
                       const uint8_t* const* directionImage, int shortBranch, int bridgeLength);

// Branch tracing around one junction.
constexpr int kBranchSteps = 30;
constexpr int kBranchesPerJunction = 3;

// How a branch trace ended.
enum BranchStatus : int32_t {
  kBranchCrossed = -1,     // ran into a pixel of crossing number 3 or more
  kBranchEnded = 0,        // ran into a ridge end; also the initial value, kept by a branch stopped
                           // at the frame (which must never pass for kBranchMetJunction)
  kBranchFull = 1,         // used all kBranchSteps steps
  kBranchMetJunction = 2,  // ran into another junction or back into an earlier branch
};

struct Branch {
  int32_t X[kBranchSteps];  // visited points in order; point 0 is the junction itself
  int32_t Y[kBranchSteps];
  int32_t Count;   // points recorded; 0 when the trace stopped on its first step
  int32_t Status;  // a BranchStatus
  int32_t Angle;   // LineAngle from the junction to the last point (270 when Count is 0)
};

struct BranchSet {
  int32_t X0;
  int32_t Y0;
  Branch Branches[kBranchesPerJunction];
  int32_t D01;  // |A0 - A1| folded into 0..180
  int32_t D12;
  int32_t D02;
  int32_t BranchCount;  // always 3
};

// Traces three branches from the junction (x, y), one after the other, each at most 30 points,
// stopping 2 pixels short of the image edge. With restore nonzero every recorded point is black
// again afterwards; with restore zero every one is white.
// REQUIRES: (x, y) inside the image.
void TraceBranches(const ImageView& skeleton, int x, int y, BranchSet* branchSet, int restore);

// 1 for a T-shaped junction, 2 for a Y-shaped one, -1 for neither.
int JunctionShape(const BranchSet& branchSet);

// Repairs the links of the bifurcation (x, y) to neighbouring junctions.
// REQUIRES: (x, y) inside the image.
void CleanBifurcation(const ImageView& skeleton, int x, int y, int shortBranch, int bridgeLength);

// True when every pixel of the StepLine walk from (x1, y1) to (x2, y2) after the start is
// white; false when the points are equal. REQUIRES: both points inside the image.
bool PathClear(int x1, int y1, int x2, int y2, const ImageView& skeleton);

// Makes black (x2, y2) and every pixel of the StepLine walk from (x1, y1); nothing when the
// points are equal. REQUIRES: both points inside the image.
void DrawLine(int x1, int y1, int x2, int y2, const ImageView& skeleton);

}  // namespace ridgeline
