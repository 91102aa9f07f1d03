// MatchCoord: the tables of both sides, pair voting, the alignment search and block agreement;
// a weak score (1..999) is averaged with the score of the refined alignment.
#include "match/match_coord.h"

#include <algorithm>
#include <cassert>

#include "match/alignment.h"
#include "match/block_agreement.h"
#include "match/cross_tables.h"
#include "match/pair_tables.h"
#include "match/pair_voting.h"
#include "match/refine_alignment.h"
#include "match/work_area.h"

namespace ridgeline {

namespace {

constexpr int kFewestMinutiae = 4;  // a side with fewer is not compared
constexpr int kRefineBelow = 1000;  // scores 1..999 are refined
constexpr int kMaxScore = 9999;

}  // namespace

int MatchCoord(const FeatureSet& probe, const FeatureSet& reference, MatchWork* work,
               MatchResult* result, bool rebuildA) {
  assert(work != nullptr && result != nullptr);
  work->refined = false;
  if (probe.Count < kFewestMinutiae || reference.Count < kFewestMinutiae) return 0;

  result->Score = 0;
  result->Rotation = 0;
  result->TX = 0;
  result->TY = 0;
  std::fill(result->Correspondence, result->Correspondence + std::min(probe.Count, kMatchCapacity),
            -1);
  result->CorrespondenceCount = 0;

  work->feature_a = &probe;
  work->feature_b = &reference;
  if (rebuildA) BuildPairTables(work, MatchSide::kA, probe);
  // B's tables serve this comparison only: its pairs are placed as pair voting reaches them.
  BuildPairTables(work, MatchSide::kB, reference, PairPlacement::kByNeed);
  // Reused A tables that were never built (or built from a tiny set) cannot be compared.
  if (work->a.count < kFewestMinutiae) return 0;
  BuildCrossTables(work);

  PairVote(work);
  AlignmentSearch(work, result);
  int score = result->Score;
  if (score != 0) score = BlockAgreement(work->a, work->b, *result, score);
  result->Score = score;

  if (score >= 1 && score < kRefineBelow) {
    MatchResult* second = &work->refined_result;
    RefineAlignment(work, *result, second);
    if (second->Score != 0)
      second->Score = BlockAgreement(work->a, work->b, *second, second->Score);
    work->refined = true;
    score = (score + second->Score) / 2;
  }
  return std::min(score, kMaxScore);
}

const MatchResult* RefinedResult(const MatchWork* work) {
  return work->refined ? &work->refined_result : nullptr;
}

}  // namespace ridgeline
