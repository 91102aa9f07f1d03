// The matcher's fast paths against their plain scalar forms: pair voting that marks a B window
// on 16-bit lanes first, pair distances from the double square root, the pair matrices built a
// row at a time on vector lanes, the cross tables likewise, the trimming by length ends; and a
// comparison that allocates nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/int_math.h"
#include "engine/engine.h"
#include "match/cross_tables.h"
#include "match/match_coord.h"
#include "match/pair_tables.h"
#include "match/pair_voting.h"
#include "match/score.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/features.h"
#include "tests/support/match_reference.h"
#include "tests/support/match_work.h"

namespace ridgeline {
namespace {

using testing::AllocationCount;
using testing::BuildReferenceCrossTables;
using testing::CrossCandidates;
using testing::FirstTableDifference;
using testing::MakeMovedCopy;
using testing::MakeSyntheticPrint;
using testing::Motion;
using testing::OwnedMatchWork;
using testing::ReferenceTrimPairLists;
using testing::ReferenceVotes;
using testing::TestFeatureSet;
using testing::TestMinutia;

uint32_t Next(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return *state >> 8;
}

// count minutiae anywhere in 0..extent on both axes, some on one spot, some on the edges.
void RandomSet(uint32_t seed, int count, int extent, TestFeatureSet* set) {
  uint32_t state = seed;
  for (int j = 0; j < count; ++j) {
    TestMinutia m{static_cast<int>(Next(&state) % static_cast<uint32_t>(extent + 1)),
                  static_cast<int>(Next(&state) % static_cast<uint32_t>(extent + 1)),
                  static_cast<int>(Next(&state) % 360), static_cast<int>(Next(&state) % 256),
                  static_cast<int>(Next(&state) % 2)};
    if (j % 17 == 5) m.x = m.y = 0;
    if (j % 23 == 7) m.x = extent;
    const int last = set->count() - 1;
    if (j % 29 == 3 && last >= 0) {  // a minutia on the spot of the one before
      m.x = (**set).X[last];
      m.y = (**set).Y[last];
    }
    set->Add(m);
  }
}

// The anchor list holds every A minutia once with its best B partner, more votes first and equal
// votes in A order: an entry's place is the count of entries before it in A order with at least
// its votes plus those after it with more.
void ExpectAnchorsRankedByVotes(const MatchWork& work) {
  const int na = work.a.count;
  for (int i = 0; i < na; ++i) {
    const int votes = work.best_votes[i];
    int place = 0;
    for (int j = 0; j < na; ++j) {
      place += j < i ? work.best_votes[j] >= votes : work.best_votes[j] > votes;
    }
    ASSERT_EQ(work.rank[i], place) << "A " << i;
    ASSERT_EQ(work.anchors[place].a, i) << "A " << i;
    ASSERT_EQ(work.anchors[place].b, work.best_b[i]) << "A " << i;
    ASSERT_EQ(work.anchors[place].votes, votes) << "A " << i;
  }
}

void ExpectVotesAsReference(const FeatureSet& a, const FeatureSet& b, const MatchParams& params) {
  OwnedMatchWork work(params);
  BuildPairTables(work.get(), MatchSide::kA, a);
  BuildPairTables(work.get(), MatchSide::kB, b);
  BuildCrossTables(work.get());
  PairVote(work.get());
  const std::vector<int32_t> expected = ReferenceVotes(*work.get());
  for (int i = 0; i < work->a.count; ++i) {
    for (int k = 0; k < work->b.count; ++k) {
      ASSERT_EQ(work->votes[i][k], expected[static_cast<size_t>(i * kMatchCapacity + k)])
          << "A " << i << ", B " << k;
    }
  }
  ExpectAnchorsRankedByVotes(*work.get());
}

TEST(MatchFastPath, PairVotesEqualThePlainLoopOnRandomAndMovedSets) {
  const int counts[] = {4, 9, 40, 61, 80, 127, 250};
  for (int n : counts) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
      SCOPED_TRACE(::testing::Message() << n << " minutiae, seed " << seed);
      TestFeatureSet a;
      TestFeatureSet b;
      // Small extents crowd many pairs into each length: long windows; large ones give short.
      RandomSet(seed, n, seed % 2 ? 1023 : 200, &a);
      RandomSet(seed + 100, n + static_cast<int>(seed), seed % 2 ? 1023 : 150, &b);
      ExpectVotesAsReference(*a, *b, OwnedMatchWork::DefaultParams());
      TestFeatureSet moved(24, 28);
      MakeMovedCopy(*a, Motion{static_cast<int>(seed * 7), 5, -3, 5, 2, seed}, &moved);
      ExpectVotesAsReference(*a, *moved, OwnedMatchWork::DefaultParams());
    }
  }
}

TEST(MatchFastPath, PairVotesEqualThePlainLoopAtExtremeTolerances) {
  TestFeatureSet a;
  TestFeatureSet b;
  RandomSet(7, 90, 300, &a);
  RandomSet(8, 70, 300, &b);
  // Angle tolerances and rotations at and beyond the ends of the 16-bit lanes' clamped range.
  const int tolerances[] = {-5, -1, 0, 1, 20, 179, 180, 359, 360, 400};
  const int rotations[] = {-3, -1, 0, 90, 180, 359, 360, 361, 500};
  for (int tolerance : tolerances) {
    for (int rotation : rotations) {
      SCOPED_TRACE(::testing::Message() << "tolerance " << tolerance << ", rotation " << rotation);
      MatchParams params = OwnedMatchWork::DefaultParams();
      params.AngleTolerance = tolerance;
      params.MaxRotation = rotation;
      params.DistanceTolerance = rotation % 2 ? 30 : 7;
      ExpectVotesAsReference(*a, *b, params);
    }
  }
}

TEST(MatchFastPath, PairDistancesAreIntegerSquareRoots) {
  TestFeatureSet set(64, 64);
  // Corners and edges of the coordinate range, then random points; the 16-bit extremes give
  // sums of squares past 2^32.
  const int fixed[][2] = {{0, 0},     {1023, 1023}, {0, 1023},   {1023, 0},      {1, 1},
                          {32767, 0}, {-32768, 0},  {0, -32768}, {32767, 32767}, {-32768, -32768}};
  for (const auto& p : fixed) set.Add({p[0], p[1], 0});
  RandomSet(3, 240, 1023, &set);
  OwnedMatchWork work;
  BuildPairTables(work.get(), MatchSide::kA, *set);
  const FeatureSet& s = *set;
  for (int j = 0; j < work->a.count; ++j) {
    for (int k = 0; k < work->a.count; ++k) {
      const int64_t dx = s.X[k] - s.X[j];
      const int64_t dy = s.Y[k] - s.Y[j];
      ASSERT_EQ(work->a.distance[j][k], static_cast<int16_t>(IntSqrt(dx * dx + dy * dy)))
          << j << ", " << k;
    }
  }
}

TEST(MatchFastPath, PairTablesEqualThePairByPairForm) {
  const int counts[] = {1, 4, 7, 9, 33, 80, 127, 250};
  // Extents: the whole coordinate range (long pairs, bearings of every size), a crowded area
  // (many equal lengths and tiny vectors), and one spot (zero vectors only).
  const int extents[] = {1023, 60, 0};
  for (int n : counts) {
    for (int extent : extents) {
      for (uint32_t seed = 1; seed <= 2; ++seed) {
        SCOPED_TRACE(::testing::Message()
                     << n << " minutiae within " << extent << ", seed " << seed);
        TestFeatureSet set(64, 64);
        RandomSet(seed * 31 + static_cast<uint32_t>(n), n, extent, &set);
        OwnedMatchWork work;
        BuildPairTables(work.get(), MatchSide::kB, *set);
        EXPECT_EQ(FirstTableDifference(work->b, work->params.NeighbourRadius,
                                       work->params.MinPairDistance),
                  "");
      }
    }
  }
  // Axis-aligned and diagonal vectors of every direction, where the arctangent folds.
  TestFeatureSet star(64, 64);
  star.Add({512, 512, 0});
  const int steps[][2] = {{1, 0},      {0, 1},     {-1, 0},    {0, -1},   {1, 1},    {-1, -1},
                          {1, -1},     {-1, 1},    {200, -1},  {-200, 1}, {1023, 0}, {511, -512},
                          {-512, 511}, {300, 299}, {299, 300}, {-7, 700}};
  for (const auto& s : steps) {
    star.Add({std::clamp(512 + s[0], 0, 1023), std::clamp(512 + s[1], 0, 1023), s[0] & 255});
  }
  star.Add({0, 0, 90});
  star.Add({1023, 1023, 270});
  star.Add({0, 1023, 359});
  OwnedMatchWork work;
  BuildPairTables(work.get(), MatchSide::kA, *star);
  EXPECT_EQ(
      FirstTableDifference(work->a, work->params.NeighbourRadius, work->params.MinPairDistance),
      "");
}

TEST(MatchFastPath, PairTablesOutsideTheUsualCoordinatesEqualThePairByPairForm) {
  // Decoded templates may carry coordinates beyond 0..1023: negative ones and 16-bit extremes
  // take the pair-by-pair form, whose results must hold all the same.
  for (const int odd : {-1, 1024, -32768, 32767}) {
    SCOPED_TRACE(odd);
    TestFeatureSet set(64, 64);
    RandomSet(5, 60, 1023, &set);
    set.Add({odd, 17, 40});
    set.Add({300, odd, 200});
    OwnedMatchWork work;
    BuildPairTables(work.get(), MatchSide::kA, *set);
    EXPECT_EQ(
        FirstTableDifference(work->a, work->params.NeighbourRadius, work->params.MinPairDistance),
        "");
  }
}

TEST(MatchFastPath, CrossTablesEqualTheEntryByEntryForm) {
  const int mismatch_weights[] = {0, 8, 10, 300, 1000, -3};  // products past 16 bits too
  const int rotations[] = {-30, 0, 90, 170, 400};
  for (int mismatch : mismatch_weights) {
    for (int rotation : rotations) {
      SCOPED_TRACE(::testing::Message() << "mismatch " << mismatch << ", rotation " << rotation);
      MatchParams params = OwnedMatchWork::DefaultParams();
      params.TypeMismatchWeight = mismatch;
      params.MaxRotation = rotation;
      OwnedMatchWork work(params);
      TestFeatureSet a;
      TestFeatureSet b;
      RandomSet(static_cast<uint32_t>(mismatch + rotation + 1000), 90, 1023, &a);
      RandomSet(static_cast<uint32_t>(mismatch - rotation + 2000), 250, 1023, &b);
      BuildPairTables(work.get(), MatchSide::kA, *a);
      BuildPairTables(work.get(), MatchSide::kB, *b);
      BuildCrossTables(work.get());
      const auto expected = BuildReferenceCrossTables(*work.get());
      const CrossTables& x = work->cross;
      for (int i = 0; i < work->a.count; ++i) {
        const auto& row = expected[static_cast<size_t>(i)];
        for (int k = 0; k < work->b.count; ++k) {
          ASSERT_EQ(x.rotation[i][k], row.rotation[static_cast<size_t>(k)]) << i << ", " << k;
          ASSERT_EQ(x.weight[i][k], row.weight[static_cast<size_t>(k)]) << i << ", " << k;
        }
        ASSERT_EQ(CrossCandidates(*work.get(), i), row.candidates) << i;
      }
    }
  }
}

TEST(MatchFastPath, TrimmingByLengthEndsEqualsThePairByPairWalk) {
  const int counts[] = {4, 30, 45, 80, 120, 250};
  for (int na : counts) {
    for (int nb : counts) {
      SCOPED_TRACE(::testing::Message() << na << " and " << nb << " minutiae");
      TestFeatureSet a;
      TestFeatureSet b;
      RandomSet(static_cast<uint32_t>(na * 7 + nb), na, na % 2 ? 1023 : 300, &a);
      RandomSet(static_cast<uint32_t>(nb * 5 + na), nb, nb % 2 ? 1023 : 300, &b);
      OwnedMatchWork work;
      BuildPairTables(work.get(), MatchSide::kA, *a);
      BuildPairTables(work.get(), MatchSide::kB, *b);
      // From the whole lists, as voting starts, and from shorter ones.
      const int starts[][2] = {{work->a.pair_count - 1, work->b.pair_count - 1},
                               {work->a.pair_count / 2, work->b.pair_count - 1},
                               {work->a.pair_count - 1, work->b.pair_count / 3}};
      for (const auto& start : starts) {
        int last_a = start[0];
        int last_b = start[1];
        int walked_a = start[0];
        int walked_b = start[1];
        TrimPairLists(work->a, work->b, &last_a, &last_b);
        ReferenceTrimPairLists(work->a, work->b, &walked_a, &walked_b);
        EXPECT_EQ(last_a, walked_a);
        EXPECT_EQ(last_b, walked_b);
      }
    }
  }
}

// A side counted first and placed by need (as a comparison's B side is) holds, wherever it was
// placed, what the whole list holds, whatever its slots held before; placing in steps continues
// where the last step stopped. Voting and trimming over it give what they give over the whole
// list, for distance tolerances from none to past the longest pair.
TEST(MatchFastPath, PairsPlacedByNeedEqualTheWholeList) {
  const int counts[] = {4, 40, 80, 250};
  for (int n : counts) {
    SCOPED_TRACE(::testing::Message() << n << " minutiae");
    TestFeatureSet set;
    RandomSet(static_cast<uint32_t>(n * 13 + 1), n, n % 3 ? 400 : 1023, &set);
    OwnedMatchWork whole;
    BuildPairTables(whole.get(), MatchSide::kB, *set);
    OwnedMatchWork by_need;
    std::fill_n(reinterpret_cast<unsigned char*>(by_need->b.pairs), sizeof by_need->b.pairs, 0xA5);
    BuildPairTables(by_need.get(), MatchSide::kB, *set, PairPlacement::kByNeed);
    const PairTables& w = whole->b;
    PairTables* t = &by_need->b;
    ASSERT_EQ(t->pair_count, w.pair_count);
    ASSERT_TRUE(std::equal(w.length_end, w.length_end + kMaxPairDistance, t->length_end));
    for (int limit : {-5, 0, 11, 60, 61, 250, 1023, 5000}) {
      PlacePairList(t, limit);
      const int placed = limit < 0 ? 0 : w.length_end[std::min(limit, kMaxPairDistance - 1)];
      for (int p = 0; p < placed; ++p) {
        ASSERT_EQ(t->pairs[p].distance, w.pairs[p].distance) << "limit " << limit << " pair " << p;
        ASSERT_EQ(t->pairs[p].packed, w.pairs[p].packed) << "limit " << limit << " pair " << p;
        ASSERT_EQ(t->pair_relative[p], w.pair_relative[p]) << "limit " << limit << " pair " << p;
        ASSERT_EQ(t->pair_bearing[p], w.pair_bearing[p]) << "limit " << limit << " pair " << p;
      }
      ASSERT_EQ(t->pairs[t->pair_count].distance, kPairSentinel);
    }
  }
  TestFeatureSet a(24, 28);
  MakeSyntheticPrint(9, 80, 24, 28, 12, &a);
  TestFeatureSet b(24, 28);
  MakeMovedCopy(*a, Motion{11, -6, 9, 4, 3, 7}, &b);
  for (int tolerance : {-40, 0, 8, 900}) {
    SCOPED_TRACE(::testing::Message() << "distance tolerance " << tolerance);
    MatchParams params = OwnedMatchWork::DefaultParams();
    params.DistanceTolerance = tolerance;
    OwnedMatchWork whole(params);
    OwnedMatchWork by_need(params);
    for (MatchWork* work : {whole.get(), by_need.get()}) {
      BuildPairTables(work, MatchSide::kA, *a);
      BuildPairTables(work, MatchSide::kB, *b,
                      work == whole.get() ? PairPlacement::kWhole : PairPlacement::kByNeed);
      BuildCrossTables(work);
      PairVote(work);
    }
    for (int i = 0; i < whole->a.count; ++i) {
      ASSERT_TRUE(std::equal(whole->votes[i], whole->votes[i] + whole->b.count, by_need->votes[i]))
          << "A " << i;
    }
  }
}

// Fills a stretch of stack below the caller with a pattern, so that a count read from a bin
// it never cleared would show.
[[gnu::noinline]] void SoilStack() {
  volatile unsigned char soil[16384];
  for (size_t i = 0; i < sizeof soil; ++i) soil[i] = 0x5A;
}

// One work area reused over sets of every spread (none, one and two minutiae, pairs all short,
// some past 1024, some far past 32767), with soiled stack, cursors and slots each time: every
// length end counts the pairs from the shortest listed length up to it, and the list holds them
// by length, then j, then k, as a plain walk of the distance matrix finds them.
TEST(MatchFastPath, PairLengthEndsAndListEqualAPlainCountWhateverWentBefore) {
  struct Shape {
    int count;
    int extent;
  };
  const Shape shapes[] = {{250, 5000}, {40, 30},     {0, 10}, {1, 10},    {2, 1023},
                          {80, 400},   {250, 40000}, {3, 0},  {120, 1023}};
  OwnedMatchWork work;
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(::testing::Message() << shape.count << " minutiae within " << shape.extent);
    TestFeatureSet set;
    RandomSet(static_cast<uint32_t>(shape.count * 7 + shape.extent), shape.count, shape.extent,
              &set);
    PairTables* t = &work->b;
    std::fill_n(t->place_cursor, kMaxPairDistance, 0x5A5A5A5A);
    std::fill_n(reinterpret_cast<unsigned char*>(t->pairs), sizeof t->pairs, 0xA5);
    SoilStack();
    BuildPairTables(work.get(), MatchSide::kB, *set, PairPlacement::kByNeed);
    const int low = std::clamp(work->params.MinPairDistance + 1, 0, kMaxPairDistance);
    std::vector<MinutiaPair> expected;
    for (int d = low; d < kMaxPairDistance; ++d) {
      for (int j = 0; j < t->count; ++j) {
        for (int k = j + 1; k < t->count; ++k) {
          if (static_cast<uint16_t>(t->distance[j][k]) != d) continue;
          expected.push_back({d, (static_cast<uint32_t>(k) << 16) | static_cast<uint32_t>(j)});
        }
      }
      ASSERT_EQ(t->length_end[d], static_cast<int32_t>(expected.size())) << "length " << d;
    }
    for (int d = 0; d < low; ++d) ASSERT_EQ(t->length_end[d], 0) << "length " << d;
    ASSERT_EQ(t->pair_count, static_cast<int32_t>(expected.size()));
    PlacePairList(t, low + 37);
    PlacePairList(t, kMaxPairDistance - 1);
    for (size_t p = 0; p < expected.size(); ++p) {
      ASSERT_EQ(t->pairs[p].distance, expected[p].distance) << "pair " << p;
      ASSERT_EQ(t->pairs[p].packed, expected[p].packed) << "pair " << p;
    }
    ASSERT_EQ(t->pairs[t->pair_count].distance, kPairSentinel);
  }
}

TEST(MatchFastPath, AComparisonAllocatesNothing) {
  TestFeatureSet a(24, 28);
  MakeSyntheticPrint(5, 80, 24, 28, 12, &a);
  TestFeatureSet genuine(24, 28);
  MakeMovedCopy(*a, Motion{17, 9, -7, 6, 2, 5}, &genuine);
  TestFeatureSet impostor(24, 28);
  MakeSyntheticPrint(77, 60, 24, 28, 12, &impostor);
  OwnedMatchWork work;
  MatchResult result{};
  const long before = AllocationCount();
  const int same = MatchCoord(*a, *genuine, work.get(), &result);
  const int other = MatchCoord(*a, *impostor, work.get(), &result);
  const int again = MatchCoord(*a, *impostor, work.get(), &result, /*rebuildA=*/false);
  EXPECT_EQ(AllocationCount(), before);
  EXPECT_GT(same, 1000);
  EXPECT_EQ(again, other);  // the probe's tables reused give the same score
}

TEST(MatchFastPath, PreparedProbesScoreAsPlainComparisonsWhateverTheOrder) {
  TestFeatureSet p1(24, 28);
  MakeSyntheticPrint(5, 70, 24, 28, 12, &p1);
  TestFeatureSet p2(24, 28);
  MakeSyntheticPrint(9, 50, 24, 28, 12, &p2);
  TestFeatureSet tiny(24, 28);
  MakeSyntheticPrint(11, 3, 24, 28, 12, &tiny);
  std::vector<std::unique_ptr<TestFeatureSet>> references;
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    references.push_back(std::make_unique<TestFeatureSet>(24, 28));
    const FeatureSet& source = seed % 2 ? *p1 : *p2;
    MakeMovedCopy(source, Motion{static_cast<int>(seed) * 9, 4, -6, 5, 2, seed},
                  references.back().get());
  }
  references.push_back(std::make_unique<TestFeatureSet>(24, 28));
  MakeSyntheticPrint(11, 3, 24, 28, 12, references.back().get());  // too small: scores 0

  auto plain = Engine::Create();
  auto engine = Engine::Create();
  ASSERT_TRUE(plain && engine);
  const Engine::PreparedProbe first = engine->Prepare(*p1);
  const Engine::PreparedProbe second = engine->Prepare(*p2);
  const Engine::PreparedProbe small = engine->Prepare(*tiny);
  // Prepared probes alternate with each other and with plain comparisons on the same engine,
  // so stale tables would show as a wrong score.
  for (int round = 0; round < 2; ++round) {
    for (const auto& reference : references) {
      const FeatureSet& r = **reference;
      EXPECT_EQ(engine->Compare(first, r), plain->Compare(*p1, r));
      EXPECT_EQ(engine->Compare(first, r), plain->Compare(*p1, r));
      EXPECT_EQ(engine->Compare(second, r), plain->Compare(*p2, r));
      EXPECT_EQ(engine->Compare(small, r), 0);
      EXPECT_EQ(engine->Compare(*p2, r), plain->Compare(*p2, r));
      EXPECT_EQ(engine->Compare(second, r), plain->Compare(*p2, r));
    }
  }
  EXPECT_GT(engine->Compare(first, **references[0]), 1000);
}

}  // namespace
}  // namespace ridgeline
