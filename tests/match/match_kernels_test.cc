// Every compiled form of the matcher's row and window loops (one per instruction set the processor
// runs) against the plain forms: pair matrices, neighbour lists and the pair list, votes, cross
// tables, block agreement counts and the block map, on random sets of odd sizes, extreme
// coordinates, angles and tolerances, and the recorded prints of the golden data.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "match/cross_tables.h"
#include "match/int_trig.h"
#include "match/match_coord.h"
#include "match/match_kernels.h"
#include "match/pair_tables.h"
#include "match/pair_voting.h"
#include "tests/support/features.h"
#include "tests/support/match_reference.h"
#include "tests/support/match_work.h"
#include "tests/support/sanitizer_build.h"
#include "tests/support/shared_data.h"
#include "tests/support/vector_targets.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline {
namespace {

using testing::BuildReferenceCrossTables;
using testing::CrossCandidates;
using testing::FirstTableDifference;
using testing::ForEachVectorTarget;
using testing::Lcg;
using testing::MakeMovedCopy;
using testing::MakeSyntheticPrint;
using testing::Motion;
using testing::OwnedMatchWork;
using testing::ReferenceBlockCounts;
using testing::ReferenceCompatible;
using testing::ReferenceVotes;
using testing::TestFeatureSet;
using testing::TestMinutia;

// count minutiae within 0..extent, angles anywhere in a stored template's field (beyond 0..359
// too), with runs of minutiae on one spot and on the extent's edges.
void RandomSet(uint32_t seed, int count, int extent, TestFeatureSet* set) {
  Lcg lcg(seed);
  for (int j = 0; j < count; ++j) {
    TestMinutia m{lcg.Uniform(0, extent), lcg.Uniform(0, extent), lcg.Uniform(-400, 1100),
                  lcg.Uniform(0, 255), lcg.Uniform(0, 1)};
    if (j % 7 == 3) m.angle = (j % 2 == 0) ? 0 : 360;
    if (j % 11 == 5) m.x = extent;
    if (j % 13 == 6 && j > 0) {
      m.x = (**set).X[j - 1];
      m.y = (**set).Y[j - 1];
    }
    set->Add(m);
  }
}

std::string VoteDifference(const MatchWork& work) {
  const std::vector<int32_t> expected = ReferenceVotes(work);
  for (int i = 0; i < work.a.count; ++i) {
    for (int k = 0; k < work.b.count; ++k) {
      if (work.votes[i][k] != expected[static_cast<size_t>(i * kMatchCapacity + k)]) {
        return "votes at " + std::to_string(i) + ", " + std::to_string(k);
      }
    }
  }
  return "";
}

// Builds both sides, the cross tables and the votes of a against b on work, and returns the
// first entry where any of them differs from the plain form ("" when none does).
std::string BuildAndCompare(const FeatureSet& a, const FeatureSet& b, MatchWork* work) {
  BuildPairTables(work, MatchSide::kA, a);
  BuildPairTables(work, MatchSide::kB, b);
  const MatchParams& p = work->params;
  for (PairTables* t : {&work->a, &work->b}) {
    const std::string d = FirstTableDifference(*t, p.NeighbourRadius, p.MinPairDistance);
    if (!d.empty()) return (t == &work->a ? "A " : "B ") + d;
  }
  BuildCrossTables(work);
  const auto rows = BuildReferenceCrossTables(*work);
  for (int i = 0; i < work->a.count; ++i) {
    const auto& row = rows[static_cast<size_t>(i)];
    for (int k = 0; k < work->b.count; ++k) {
      if (work->cross.rotation[i][k] != row.rotation[static_cast<size_t>(k)] ||
          work->cross.weight[i][k] != row.weight[static_cast<size_t>(k)]) {
        return "cross tables at " + std::to_string(i) + ", " + std::to_string(k);
      }
      // Voting's combined table: the rotation of a candidate, a rotation no test accepts else.
      const int16_t vote = row.weight[static_cast<size_t>(k)] != 0
                               ? row.rotation[static_cast<size_t>(k)]
                               : kNoVoteRotation;
      if (work->cross.vote_rotation[i][k] != vote) {
        return "vote rotation at " + std::to_string(i) + ", " + std::to_string(k);
      }
    }
    if (CrossCandidates(*work, i) != row.candidates) {
      return "candidates of " + std::to_string(i);
    }
  }
  PairVote(work);
  return VoteDifference(*work);
}

TEST(MatchKernels, TablesAndVotesOfEveryFormEqualThePlainForms) {
  // Sizes around every lane count (4, 8, 16, 32) and the capacity; a whole coordinate range,
  // a crowded area (many equal lengths, full windows) and one spot (zero vectors only).
  const int counts[] = {4, 5, 15, 16, 17, 31, 33, 80, 250};
  const int extents[] = {1023, 90, 0};
  const int targets = ForEachVectorTarget([&](const std::string&) {
    OwnedMatchWork work;
    for (const int n : counts) {
      for (const int extent : extents) {
        // The full-capacity sets cost most of the sanitizer build's time: one extent there.
        if (testing::kSanitizedBuild && n == kMatchCapacity && extent != extents[0]) continue;
        TestFeatureSet a(64, 64);
        TestFeatureSet b(64, 64);
        RandomSet(static_cast<uint32_t>(n * 7 + extent), n, extent, &a);
        RandomSet(static_cast<uint32_t>(n * 11 + extent + 1), std::max(4, n - 3), extent, &b);
        EXPECT_EQ(BuildAndCompare(*a, *b, work.get()), "") << n << " within " << extent;
      }
    }
    // Genuine pairs: the votes concentrate, windows carry many agreeing pairs.
    for (const int n : {40, 80}) {
      TestFeatureSet a(24, 28);
      MakeSyntheticPrint(5, n, 24, 28, 12, &a);
      TestFeatureSet b(24, 28);
      MakeMovedCopy(*a, Motion{17, 9, -7, 6, 2, 5}, &b);
      EXPECT_EQ(BuildAndCompare(*a, *b, work.get()), "") << "moved copy of " << n;
    }
  });
  EXPECT_GE(targets, 1);
}

TEST(MatchKernels, VotesOfEveryFormEqualThePlainLoopAtExtremeLimits) {
  // Tolerances and rotations at and beyond the ends of the 16-bit lanes' clamped range.
  const int angle_tolerances[] = {-5, -1, 0, 1, 20, 179, 180, 181, 359, 360, 1000};
  const int rotations[] = {-1, 0, 89, 90, 179, 180, 181, 360, 361, 5000};
  TestFeatureSet a(64, 64);
  TestFeatureSet b(64, 64);
  RandomSet(3, 60, 500, &a);
  RandomSet(4, 70, 500, &b);
  ForEachVectorTarget([&](const std::string&) {
    for (const int tolerance : angle_tolerances) {
      for (const int rotation : rotations) {
        MatchParams params = OwnedMatchWork::DefaultParams();
        params.AngleTolerance = tolerance;
        params.MaxRotation = rotation;
        OwnedMatchWork work(params);
        EXPECT_EQ(BuildAndCompare(*a, *b, work.get()), "")
            << "angle tolerance " << tolerance << ", rotation " << rotation;
      }
    }
  });
}

// Empty when the compatible marks and lists of every A minutia for the anchor (a1, b1) are
// those of the candidate-by-candidate tests, else the first row that differs. Stale marks from
// an earlier anchor must not survive.
std::string CompatibleDifference(MatchWork* work, int a1, int b1) {
  CompletePairRow(&work->a, a1);
  CompletePairRow(&work->b, b1);
  std::memset(work->compatible, 1, sizeof work->compatible);
  MarkCompatibleRows(work, a1, b1);
  const auto expected = ReferenceCompatible(*work, a1, b1);
  for (int i = 0; i < work->a.count; ++i) {
    const auto& list = expected[static_cast<size_t>(i)];
    const std::string where =
        "row " + std::to_string(i) + " of anchor " + std::to_string(a1) + ", " + std::to_string(b1);
    if (work->compatible_count[i] != list.size() ||
        !std::equal(list.begin(), list.end(), work->compatible_list[i])) {
      return "list of " + where;
    }
    for (int k = 0; k < work->b.count; ++k) {
      const bool listed = std::find(list.begin(), list.end(), k) != list.end();
      if (work->compatible[i][k] != (listed ? 1 : 0)) return "marks of " + where;
    }
  }
  return "";
}

TEST(MatchKernels, CompatibleMinutiaeOfEveryFormEqualTheCandidateByCandidateTests) {
  // Random sets (one spot, crowded areas, angles beyond 0..359) and a genuine pair, where many
  // minutiae agree; anchors spread over both sets, at default and extreme tolerances (a
  // minimum pair distance of 0 or below lets the anchor's own row through).
  struct Limits {
    int distance, angle, rotation, min_pair;
  };
  const Limits limits[] = {{7, 20, 90, 10}, {0, 0, 0, 0}, {40, 179, 180, -3}, {7, 360, 361, 1}};
  TestFeatureSet genuine_a(24, 28);
  MakeSyntheticPrint(5, 80, 24, 28, 12, &genuine_a);
  TestFeatureSet genuine_b(24, 28);
  MakeMovedCopy(*genuine_a, Motion{17, 9, -7, 6, 2, 5}, &genuine_b);
  ForEachVectorTarget([&](const std::string&) {
    for (const Limits& l : limits) {
      MatchParams params = OwnedMatchWork::DefaultParams();
      params.DistanceTolerance = l.distance;
      params.AngleTolerance = l.angle;
      params.MaxRotation = l.rotation;
      params.MinPairDistance = l.min_pair;
      OwnedMatchWork work(params);
      for (const int n : {4, 17, 33, 250}) {
        TestFeatureSet a(64, 64);
        TestFeatureSet b(64, 64);
        RandomSet(static_cast<uint32_t>(n * 3 + 1), n, n > 100 ? 1023 : 120, &a);
        RandomSet(static_cast<uint32_t>(n * 5 + 2), std::max(4, n - 1), n > 100 ? 1023 : 120, &b);
        BuildPairTables(work.get(), MatchSide::kA, *a);
        BuildPairTables(work.get(), MatchSide::kB, *b);
        BuildCrossTables(work.get());
        for (int a1 = 0; a1 < work->a.count; a1 += 3) {
          const int b1 = (a1 * 7) % work->b.count;
          ASSERT_EQ(CompatibleDifference(work.get(), a1, b1), "") << n << " minutiae";
        }
      }
      BuildPairTables(work.get(), MatchSide::kA, *genuine_a);
      BuildPairTables(work.get(), MatchSide::kB, *genuine_b);
      BuildCrossTables(work.get());
      for (int a1 = 0; a1 < work->a.count; a1 += 5) {
        ASSERT_EQ(CompatibleDifference(work.get(), a1, a1 % work->b.count), "") << "genuine pair";
      }
    }
  });
}

TEST(MatchKernels, VotesOfEveryFormEqualThePlainLoopForEveryWindowWidth) {
  // B windows read off the length ends: empty windows (a negative tolerance), single lengths,
  // and windows reaching below the shortest and past the longest listed length.
  const int tolerances[] = {-40, -1, 0, 1, 7, 150, 900};
  TestFeatureSet a(64, 64);
  TestFeatureSet b(64, 64);
  RandomSet(31, 45, 400, &a);
  RandomSet(32, 50, 400, &b);
  ForEachVectorTarget([&](const std::string&) {
    for (const int tolerance : tolerances) {
      MatchParams params = OwnedMatchWork::DefaultParams();
      params.DistanceTolerance = tolerance;
      OwnedMatchWork work(params);
      EXPECT_EQ(BuildAndCompare(*a, *b, work.get()), "") << "distance tolerance " << tolerance;
    }
  });
}

TEST(MatchKernels, CrossTablesOfEveryFormWeighVariationAsTheTableForEverySpan) {
  // The weights are computed from the span, not read from the table: spans around the largest
  // difference (255) and the largest scaled difference (25,500), beyond single precision's
  // whole numbers, and none at all.
  const int spans[] = {-7,  0,   1,   2,    3,     7,     29,    30,       31,        97,
                       255, 256, 257, 6999, 25499, 25500, 25501, 16777217, 2147483647};
  TestFeatureSet a(64, 64);
  TestFeatureSet b(64, 64);
  RandomSet(21, 90, 700, &a);
  RandomSet(22, 75, 700, &b);
  ForEachVectorTarget([&](const std::string&) {
    for (const int span : spans) {
      MatchParams params = OwnedMatchWork::DefaultParams();
      params.VariationSpan = span;
      params.TypeMismatchWeight = span % 3 == 0 ? 0 : 8;
      OwnedMatchWork work(params);
      EXPECT_EQ(BuildAndCompare(*a, *b, work.get()), "") << "span " << span;
    }
  });
}

TEST(MatchKernels, BlockCountsOfEveryFormEqualTheBlockByBlockLoop) {
  // Maps with every code (ridge blocks, empty ones, codes past 255 after scaling); grids of odd
  // sizes, one larger than the map; every rotation and shifts that carry blocks off the grid.
  Lcg lcg(77);
  TestFeatureSet a(37, 41);
  TestFeatureSet b(23, 64);
  for (int r = 0; r < kMapSize; ++r) {
    for (int c = 0; c < kMapSize; ++c) {
      a.get()->DirectionMap[r][c] = static_cast<uint8_t>(lcg.Uniform(0, 255));
      b.get()->DirectionMap[r][c] = static_cast<uint8_t>(lcg.Uniform(0, 255));
    }
  }
  a.Add({10, 10, 0});
  b.Add({10, 10, 0});
  ForEachVectorTarget([&](const std::string&) {
    OwnedMatchWork work;
    // A's grid: odd sizes, then the whole map (the last vector of each row at the map's edge)
    // against B's grid as wide as the map (B's last cells at the map's end), then one column.
    for (const auto [cols_a, rows_a, cols_b] :
         {std::array{37, 41, 1}, std::array{37, 41, 23}, std::array{37, 41, 64},
          std::array{37, 41, 200}, std::array{64, 64, 64}, std::array{1, 5, 64}}) {
      a.get()->BlockCols = static_cast<uint8_t>(cols_a);
      a.get()->BlockRows = static_cast<uint8_t>(rows_a);
      b.get()->BlockCols = static_cast<uint8_t>(cols_b);
      BuildPairTables(work.get(), MatchSide::kA, *a);
      BuildPairTables(work.get(), MatchSide::kB, *b);
      for (int rotation = 0; rotation <= 360; rotation += 7) {
        for (const int shift : {-2000, -300, 0, 45, 700}) {
          MatchResult alignment{};
          alignment.Rotation = rotation;
          alignment.TX = shift;
          alignment.TY = rotation - shift / 3;
          BlockCounts counts{};
          CountBlockAgreement(work->a, work->b, alignment, &counts);
          int valid_a = 0;
          int overlap = 0;
          int agree = 0;
          ReferenceBlockCounts(work->a, work->b, alignment, &valid_a, &overlap, &agree);
          const auto where = ::testing::Message() << rotation << ", " << shift << ", grids "
                                                  << cols_a << " x " << rows_a << ", " << cols_b;
          ASSERT_EQ(counts.valid_a, valid_a) << where;
          ASSERT_EQ(counts.overlap, overlap) << where;
          ASSERT_EQ(counts.agree, agree) << where;
        }
      }
    }
  });
}

TEST(MatchKernels, ClearingVotesOfEveryFormZerosExactlyTheComparedRowsAndColumns) {
  ForEachVectorTarget([&](const std::string&) {
    OwnedMatchWork work;
    for (const auto [na, nb] :
         {std::array{1, 1}, std::array{4, 15}, std::array{7, 16}, std::array{5, 17},
          std::array{40, 33}, std::array{250, 250}, std::array{249, 241}}) {
      for (auto& row : work->votes) std::fill(std::begin(row), std::end(row), -3);
      work->a.count = na;
      work->b.count = nb;
      ClearVotes(work.get());
      for (int i = 0; i < kMatchCapacity; ++i) {
        for (int k = 0; k < kMatchCapacity; ++k) {
          const int expected = i < na && k < nb ? 0 : -3;
          ASSERT_EQ(work->votes[i][k], expected) << i << ", " << k << " of " << na << " x " << nb;
        }
      }
    }
  });
}

// The row form computes the arctangent rather than looking it up: every quotient a pair within
// 0..1023 can produce (those of |dy| = 0..1023 over |dx| = 1023 are all of them: 1023 needs a
// larger |dx|) must give the table's bearing, in every quadrant and on both sides of the
// diagonal, in every instruction set.
TEST(MatchKernels, BearingsOfEveryFormEqualTheTableForEveryQuotient) {
  constexpr int kFar = 1023;
  constexpr int kPerSet = kMatchCapacity - 1;
  ForEachVectorTarget([&](const std::string&) {
    OwnedMatchWork work;
    // Minutia 0 at a corner, the others along the two far edges from it.
    const std::array<std::array<int, 2>, 2> corners = {{{0, 0}, {kFar, kFar}}};
    for (const auto& corner : corners) {
      for (const bool steep : {false, true}) {
        for (int start = 0; start <= kFar; start += kPerSet) {
          TestFeatureSet set(64, 64);
          set.Add({corner[0], corner[1], 0, 0, 0});
          const int end = std::min(start + kPerSet, kFar + 1);
          for (int m = start; m < end; ++m) {
            const int across = corner[0] == 0 ? kFar : 0;
            const int along = corner[0] == 0 ? m : kFar - m;
            set.Add(steep ? TestMinutia{along, across, 0, 0, 0}
                          : TestMinutia{across, along, 0, 0, 0});
          }
          BuildPairTables(work.get(), MatchSide::kA, *set);
          const PairTables& t = work->a;
          for (int k = 1; k < t.count; ++k) {
            const int dx = t.x[k] - t.x[0];
            const int dy = t.y[k] - t.y[0];
            ASSERT_EQ(t.bearing[0][k], Bearing(dx, dy)) << dx << ", " << dy;
          }
        }
      }
    }
  });
}

TEST(MatchKernels, BlockMapOfEveryFormConvertsEveryCode) {
  ForEachVectorTarget([&](const std::string&) {
    uint8_t codes[kMapSize][kMapSize];
    uint8_t degrees[kMapSize][kMapSize];
    for (int r = 0; r < kMapSize; ++r) {
      for (int c = 0; c < kMapSize; ++c) codes[r][c] = static_cast<uint8_t>(r * kMapSize + c);
    }
    std::memset(degrees, 7, sizeof degrees);
    FillBlockDegrees(codes, degrees, kMapSize - 1);
    for (int c = 0; c < kMapSize; ++c) ASSERT_EQ(degrees[kMapSize - 1][c], 7) << "row past the end";
    for (int r = 0; r < kMapSize - 1; ++r) {
      for (int c = 0; c < kMapSize; ++c) {
        const int code = codes[r][c];
        const int expected = (code & 0x7F) == 0x7F ? 255 : (code * 3 / 2) & 0xFF;
        ASSERT_EQ(degrees[r][c], expected) << code;
      }
    }
  });
}

// The lengths' running sums over every span a side can have (empty, shorter than a vector,
// ending anywhere within one, the whole table), from counts of none up to a full side's pairs:
// each start is the sum before the length, each end the sum through it, and nothing outside
// first..last is written.
TEST(MatchKernels, RunningLengthSumsOfEveryFormEqualThePlainSum) {
  constexpr int kSize = kMaxPairDistance + 1;
  Lcg lcg(71);
  std::vector<int32_t> counts(kSize);
  for (int32_t& c : counts) c = lcg.Uniform(0, 3) == 0 ? lcg.Uniform(0, 31125) : lcg.Uniform(0, 9);
  const int spans[][2] = {{5, 4},    {0, 0},    {7, 9},    {12, 15},     {3, 18},
                          {1, 1023}, {0, 1024}, {61, 402}, {1023, 1023}, {500, 1024}};
  ForEachVectorTarget([&](const std::string&) {
    for (const auto& span : spans) {
      const int first = span[0];
      const int last = span[1];
      SCOPED_TRACE(::testing::Message() << "lengths " << first << ".." << last);
      std::vector<int32_t> starts(kSize, -7);
      std::vector<int32_t> ends(kSize, -9);
      const int32_t total =
          RunningLengthSums(counts.data(), first, last, starts.data(), ends.data());
      int32_t sum = 0;
      for (int d = 0; d < kSize; ++d) {
        const bool inside = d >= first && d <= last;
        ASSERT_EQ(starts[static_cast<size_t>(d)], inside ? sum : -7) << "length " << d;
        if (inside) sum += counts[static_cast<size_t>(d)];
        ASSERT_EQ(ends[static_cast<size_t>(d)], inside ? sum : -9) << "length " << d;
      }
      ASSERT_EQ(total, sum);
    }
  });
}

TEST(MatchKernels, RecordedPrintsGiveThePlainFormsAndOneScoreInEveryForm) {
  if (!testing::HaveGolden()) GTEST_SKIP() << "no golden vectors";
  const auto path = testing::GoldenDir() / "matching" / "featuresets.json";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no recorded prints";
  const golden::Json sets = golden::ReadJson(path);
  std::vector<std::unique_ptr<golden::OwnedFeatures>> prints;
  for (const golden::Json& image : sets.at("images")) {
    for (const char* side : {"probe", "reference"}) {
      prints.push_back(std::make_unique<golden::OwnedFeatures>());
      golden::FeatureSetFromJson(image.at(side), prints.back()->set());
    }
  }
  ASSERT_GE(prints.size(), 4u);
  std::vector<std::vector<int>> scores;
  ForEachVectorTarget([&](const std::string&) {
    OwnedMatchWork work;
    std::vector<int> these;
    for (size_t p = 0; p < prints.size(); ++p) {
      const FeatureSet& probe = *prints[p]->set();
      // Tables and votes against the plain forms on neighbouring prints and the print's pair.
      const FeatureSet& other = *prints[p ^ 1]->set();
      if (probe.Count >= 4 && other.Count >= 4) {
        EXPECT_EQ(BuildAndCompare(probe, other, work.get()), "") << "print " << p;
      }
      for (size_t r = 0; r < prints.size(); r += 3) {
        MatchResult result{};
        these.push_back(MatchCoord(probe, *prints[r]->set(), work.get(), &result));
      }
    }
    scores.push_back(these);
  });
  for (size_t t = 1; t < scores.size(); ++t) EXPECT_EQ(scores[t], scores[0]) << "target " << t;
}

}  // namespace
}  // namespace ridgeline
