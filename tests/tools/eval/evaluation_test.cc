// The whole evaluation on a handful of real prints, with a refused and an unreadable one mixed
// in; and the template round trip that gives each print its reference side.
#include "tools/eval/evaluation.h"

#include <gtest/gtest.h>

#include <fstream>

#include "match/pair_tables.h"
#include "tests/support/match_reference.h"
#include "tests/support/match_work.h"
#include "tests/support/shared_data.h"
#include "tests/tools/eval/temp_folder.h"
#include "tools/eval/eval_summary.h"
#include "tools/eval/html_report.h"

namespace ridgeline::eval {
namespace {

std::filesystem::path FvcFolder() {
  return ridgeline::testing::SharedDir() / "data" / "fvc2002" / "DB1_B";
}

// Finger 1: three impressions of one FVC finger; finger 2: one impression of another; finger 3:
// a flat grey image (refused by the grey-level test) and a file that is no image.
void BuildMixedSet(const std::filesystem::path& folder) {
  for (const auto& [source, name] : {std::pair{"101_1.tif", "1_1.tif"},
                                     {"101_2.tif", "1_2.tif"},
                                     {"101_3.tif", "1_3.tif"},
                                     {"102_1.tif", "2_1.tif"}}) {
    std::filesystem::create_symlink(FvcFolder() / source, folder / name);
  }
  std::ofstream flat(folder / "3_1.pgm", std::ios::binary);
  flat << "P5\n300 300\n255\n" << std::string(300 * 300, '\x80');
  std::ofstream(folder / "3_2.png") << "not a picture";
}

TEST(Evaluation, RefusedPrintsScoreZeroAndThreadsAgree) {
  if (!std::filesystem::is_directory(FvcFolder())) GTEST_SKIP() << "no FVC prints";
  testing::TempFolder folder;
  BuildMixedSet(folder.path());
  EvalOptions options;
  options.folder = folder.path();
  options.trim = false;
  options.progress = false;
  options.threads = 1;
  const EvalRun single = RunEvaluation(options);
  options.threads = 3;
  const EvalRun several = RunEvaluation(options);
  EXPECT_EQ(single.scores, several.scores);

  ASSERT_EQ(single.prints.size(), 6u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(single.features[static_cast<size_t>(i)].status, PrintStatus::kAccepted) << i;
  }
  EXPECT_EQ(single.features[4].status, PrintStatus::kBadCapture);
  EXPECT_EQ(single.features[5].status, PrintStatus::kUnusableFile);
  EXPECT_NE(single.features[5].reason.find("3_2.png"), std::string::npos);
  // Genuine: 3 pairs of finger 1 and finger 3's one pair; impostor: 1_1, 2_1 and 3_1 pairwise.
  ASSERT_EQ(single.comparisons.size(), 4u + 3);
  for (size_t i = 0; i < single.comparisons.size(); ++i) {
    const Comparison& c = single.comparisons[i];
    const bool refused = c.reference >= 4 || c.probe >= 4;
    if (refused) {
      EXPECT_EQ(single.scores[i], 0) << i;
    } else if (c.genuine) {
      EXPECT_GT(single.scores[i], 0) << i;
    }
  }
  const EvalSummary summary = Summarize(single);
  EXPECT_EQ(summary.failures, 2);
  EXPECT_EQ(summary.genuine, 4);
  EXPECT_EQ(summary.impostor, 3);

  // The page holds its pictures inline and names the refused prints.
  const std::string html = HtmlReport(single, summary);
  EXPECT_NE(html.find("<svg"), std::string::npos);
  EXPECT_NE(html.find("3_1.pgm"), std::string::npos);
  EXPECT_EQ(html.find("src=\"http"), std::string::npos);
}

// The comparisons run grouped by probe, each probe's tables built once per group; every score
// must be the one a plain comparison gives, and the tables of real prints (built a row at a time)
// those of the pair-by-pair form.
TEST(Evaluation, ScoresByProbeAreThoseOfPlainComparisons) {
  if (!std::filesystem::is_directory(FvcFolder())) GTEST_SKIP() << "no FVC prints";
  testing::TempFolder folder;
  BuildMixedSet(folder.path());
  for (const auto& [source, name] : {std::pair{"101_4.tif", "1_4.tif"},
                                     {"101_5.tif", "1_5.tif"},
                                     {"103_1.tif", "4_1.tif"},
                                     {"103_2.tif", "4_2.tif"}}) {
    std::filesystem::create_symlink(FvcFolder() / source, folder.path() / name);
  }
  EvalOptions options;
  options.folder = folder.path();
  options.trim = false;
  options.progress = false;
  options.threads = 2;
  const EvalRun run = RunEvaluation(options);
  auto engine = Engine::Create();
  ASSERT_TRUE(engine);
  ASSERT_EQ(run.scores.size(), run.comparisons.size());
  int nonzero = 0;
  for (size_t i = 0; i < run.comparisons.size(); ++i) {
    const Comparison& c = run.comparisons[i];
    const int plain = ScoreComparison(run.features[static_cast<size_t>(c.reference)],
                                      run.features[static_cast<size_t>(c.probe)], *engine);
    EXPECT_EQ(run.scores[i], plain) << c.reference << " -> " << c.probe;
    nonzero += plain != 0;
  }
  EXPECT_GT(nonzero, 5);

  ridgeline::testing::OwnedMatchWork work;
  for (const PrintFeatures& print : run.features) {
    if (!print.probe) continue;
    for (const FeatureRecords* records : {print.probe.get(), print.reference.get()}) {
      BuildPairTables(work.get(), MatchSide::kB, *records->set());
      EXPECT_EQ(ridgeline::testing::FirstTableDifference(work->b, work->params.NeighbourRadius,
                                                         work->params.MinPairDistance),
                "");
    }
  }
}

TEST(Evaluation, ReferenceSideIsTheAcceptedSetThroughTheTemplate) {
  if (!std::filesystem::is_directory(FvcFolder())) GTEST_SKIP() << "no FVC prints";
  const PrintFeatures print = ExtractPrint(ReadCapture(FvcFolder() / "101_1.tif", false, 0));
  ASSERT_EQ(print.status, PrintStatus::kAccepted) << print.reason;
  const FeatureSet& probe = *print.probe->set();
  const FeatureSet& reference = *print.reference->set();
  ASSERT_EQ(reference.Count, probe.Count);
  EXPECT_EQ(print.minutiae, probe.Count);
  EXPECT_LE(print.template_bytes, 1024);
  EXPECT_EQ(reference.BlockCols, probe.BlockCols);
  EXPECT_EQ(reference.BlockRows, probe.BlockRows);
  // The extraction already fitted the set to the template's budget, so enrolling crops nothing
  // more and the full-precision entries give every minutia back as it was.
  EXPECT_EQ(print.reference_crop_x, print.probe_crop_x);
  EXPECT_EQ(print.reference_crop_y, print.probe_crop_y);
  for (int i = 0; i < probe.Count; ++i) {
    EXPECT_EQ(reference.X[i], probe.X[i]) << i;
    EXPECT_EQ(reference.Y[i], probe.Y[i]) << i;
    EXPECT_EQ(reference.Angle[i], probe.Angle[i]) << i;
    EXPECT_EQ(reference.Type[i], probe.Type[i]) << i;
  }
}

TEST(Evaluation, AcceptanceImageIsTheCaptureAt550Dpi) {
  GreyImage capture{300, 400, std::vector<uint8_t>(300 * 400, 90)};
  const GreyImage image = AcceptanceImage(capture);
  EXPECT_EQ(image.width, 330);
  EXPECT_EQ(image.height, 440);
  for (uint8_t p : image.pixels) ASSERT_EQ(p, 90);
  const PrintFeatures tiny = ExtractPrint(GreyImage{30, 300, std::vector<uint8_t>(30 * 300, 9)});
  EXPECT_EQ(tiny.status, PrintStatus::kSizeRefused);  // 30 pixels become 33 < 34
}

}  // namespace
}  // namespace ridgeline::eval
