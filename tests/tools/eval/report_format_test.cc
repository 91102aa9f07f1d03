// The plain forms of a run: CSV lines, JSON figures, the page's escaping and encoding.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/tools/eval/temp_folder.h"
#include "tools/eval/eval_summary.h"
#include "tools/eval/html_report.h"

namespace ridgeline::eval {
namespace {

// Two fingers of two impressions, the second finger's first print refused; no image is read.
EvalRun HandMadeRun() {
  EvalRun run;
  run.folder = "/prints/set";
  run.prints = {{"/prints/set/1_1.tif", {1, 1}},
                {"/prints/set/1_2.tif", {1, 2}},
                {"/prints/set/2,1.tif", {2, 1}},  // a comma to be quoted in the CSV
                {"/prints/set/2_2.tif", {2, 2}}};
  run.features.resize(4);
  const double times[] = {30, 10, 0, 20};
  for (size_t i = 0; i < 4; ++i) {
    run.features[i].status = i == 2 ? PrintStatus::kBadCapture : PrintStatus::kAccepted;
    run.features[i].extraction_ms = times[i];
  }
  run.features[2].reason = "flat";
  run.comparisons = FvcComparisons(run.prints);
  run.scores = {400, 0, 70};  // genuine 1_1/1_2, genuine 2,1/2_2, impostor 1_1/2,1
  run.threads = 2;
  return run;
}

TEST(EvalSummary, CountsFailuresRatesAndTheMedianTime) {
  const EvalRun run = HandMadeRun();
  const EvalSummary s = Summarize(run);
  EXPECT_EQ(s.images, 4);
  EXPECT_EQ(s.failures, 1);
  EXPECT_EQ(s.genuine, 2);
  EXPECT_EQ(s.impostor, 1);
  EXPECT_DOUBLE_EQ(s.median_extraction_ms, 20);  // of 10, 20, 30: the refused print never ran
  ASSERT_EQ(s.levels.size(), 7u);
  EXPECT_EQ(s.levels[0].threshold, 65);  // impostor 70 matches at level 1 ...
  EXPECT_DOUBLE_EQ(s.levels[0].fmr, 1.0);
  EXPECT_DOUBLE_EQ(s.levels[1].fmr, 0.0);  // ... and not from level 2 (115) on
  EXPECT_EQ(s.levels[3].threshold, 325);
  EXPECT_DOUBLE_EQ(s.levels[3].fnmr, 0.5);
  EXPECT_DOUBLE_EQ(s.levels[6].fnmr, 1.0);  // 400 < 820
  const nlohmann::json json = SummaryJson(run, s);
  EXPECT_EQ(json["failures"], 1);
  EXPECT_EQ(json["refused"][0]["file"], "2,1.tif");
  EXPECT_EQ(json["match_levels"][3]["threshold"], 325);
}

TEST(EvalSummary, ScoresCsvHasOneQuotedLinePerComparison) {
  testing::TempFolder folder;
  WriteScoresCsv(folder.path() / "scores.csv", HandMadeRun());
  std::ifstream in(folder.path() / "scores.csv");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "reference,probe,kind,score\n"
            "1_1.tif,1_2.tif,genuine,400\n"
            "\"2,1.tif\",2_2.tif,genuine,0\n"
            "1_1.tif,\"2,1.tif\",impostor,70\n");
  EXPECT_THROW(WriteScoresCsv(folder.path() / "absent" / "scores.csv", HandMadeRun()), EvalError);
}

TEST(HtmlReport, EscapesAndEncodes) {
  EXPECT_EQ(HtmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
  const auto bytes = [](const char* text) {
    return std::vector<uint8_t>(text, text + std::char_traits<char>::length(text));
  };
  EXPECT_EQ(Base64(bytes("")), "");
  EXPECT_EQ(Base64(bytes("f")), "Zg==");
  EXPECT_EQ(Base64(bytes("fo")), "Zm8=");
  EXPECT_EQ(Base64(bytes("foo")), "Zm9v");
  EXPECT_EQ(Base64(bytes("foobar")), "Zm9vYmFy");
  EXPECT_EQ(Base64({0xFB, 0xFF}), "+/8=");
}

}  // namespace
}  // namespace ridgeline::eval
