// `eval --reference-records`: records found by the print's name, the engine's own records scoring
// exactly as the prints' own templates, foreign records imported, missing ones scoring 0, and a
// squashed record brought back onto its print.
#include "tools/eval/record_references.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "engine/record_export.h"
#include "tests/support/shared_data.h"
#include "tests/tools/eval/temp_folder.h"
#include "tools/eval/evaluation.h"
#include "tools/host/capture_preparation.h"

namespace ridgeline::eval {
namespace {

std::filesystem::path FvcFolder() {
  return ridgeline::testing::SharedDir() / "data" / "fvc2002" / "DB1_B";
}

// The record `ridgeline extract --template` writes of a print (same preparation, same frame).
void WriteRecord(const std::filesystem::path& print, const std::filesystem::path& out,
                 bool engine_item) {
  const tools::Capture capture = tools::PrepareCapture(print, {0, true}, nullptr);
  auto engine = Engine::Create();
  AcceptedSample sample;
  ASSERT_EQ(
      engine->Accept(capture.image.pixels, capture.image.width, capture.image.height, &sample),
      AcceptStatus::kAccepted);
  RecordExportOptions options;
  options.format = RecordFormat::kAnsi378_2009;
  options.frame.ppi = capture.frame.source_dpi;
  options.frame.trim_x = capture.frame.trim_left;
  options.frame.trim_y = capture.frame.trim_top;
  options.input_width = capture.frame.source_width;
  options.input_height = capture.frame.source_height;
  options.engine_item = engine_item;
  StandardRecord record;
  RecordExportReport report;
  std::string error;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ExportRecord(*engine, sample, options, &record, &report, &error)) << error;
  ASSERT_TRUE(WriteStandardRecord(record, &bytes, &error)) << error;
  std::ofstream(out, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class RecordReferences : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(FvcFolder())) GTEST_SKIP() << "no FVC prints";
    for (const auto& [source, name] : {std::pair{"101_1.tif", "1_1.tif"},
                                       {"101_2.tif", "1_2.tif"},
                                       {"101_3.tif", "1_3.tif"},
                                       {"102_1.tif", "2_1.tif"},
                                       {"102_2.tif", "2_2.tif"}}) {
      std::filesystem::create_symlink(FvcFolder() / source, prints_.path() / name);
    }
    options_.folder = prints_.path();
    options_.progress = false;
    options_.threads = 2;
  }
  void WriteRecords(bool engine_item, const char* extension) {
    for (const char* name : {"1_1", "1_2", "1_3", "2_1", "2_2"}) {
      WriteRecord(prints_.path() / (std::string(name) + ".tif"),
                  records_.path() / (std::string(name) + extension), engine_item);
    }
  }
  testing::TempFolder prints_;
  testing::TempFolder records_;
  EvalOptions options_;
};

TEST_F(RecordReferences, OurOwnRecordsScoreExactlyAsOurTemplates) {
  const EvalRun own = RunEvaluation(options_);
  WriteRecords(/*engine_item=*/true, ".fmr");
  options_.reference_records = records_.path();
  const EvalRun records = RunEvaluation(options_);
  EXPECT_EQ(records.records_imported, 5);
  EXPECT_EQ(records.records_with_item, 5);
  EXPECT_TRUE(records.record_problems.empty());
  EXPECT_EQ(records.scores, own.scores);
}

TEST_F(RecordReferences, ForeignRecordsAreImportedAndMissingOnesScoreZero) {
  WriteRecords(/*engine_item=*/false, ".iso");
  std::filesystem::remove(records_.path() / "2_1.iso");
  options_.reference_records = records_.path();
  const EvalRun run = RunEvaluation(options_);
  EXPECT_EQ(run.records_imported, 4);
  EXPECT_EQ(run.records_with_item, 0);
  ASSERT_EQ(run.record_problems.size(), 1u);
  EXPECT_NE(run.record_problems[0].find("2_1.tif: no record"), std::string::npos);
  int genuine_best = 0, impostor_best = 0;
  for (size_t i = 0; i < run.comparisons.size(); ++i) {
    const Comparison& c = run.comparisons[i];
    if (c.reference == 3) {
      EXPECT_EQ(run.scores[i], 0) << i;  // 2_1 has no record
    }
    (c.genuine ? genuine_best : impostor_best) =
        std::max(c.genuine ? genuine_best : impostor_best, run.scores[i]);
  }
  EXPECT_GT(genuine_best, Engine::Threshold(4));
  EXPECT_LT(impostor_best, genuine_best);

  // Two records of one print are refused rather than one picked silently.
  std::filesystem::copy_file(records_.path() / "1_1.iso", records_.path() / "1_01.fmr");
  EXPECT_THROW(RunEvaluation(options_), EvalError);
}

TEST(RecordReferenceMapping, ASquashedViewReturnsOntoItsPrint) {
  FingerView squashed;
  squashed.width = 300;
  squashed.height = 400;
  RecordMinutia corner, centre, diagonal;
  corner.x = 0, corner.y = 399;
  centre.x = 150, centre.y = 200, centre.angle = 90;
  diagonal.x = 299, diagonal.y = 0, diagonal.angle = 45;
  squashed.minutiae = {corner, centre, diagonal};
  const PrintSource print{388, 374, 500};
  const FingerView back = UnresizeView(squashed, print);
  EXPECT_EQ(back.width, 388);
  EXPECT_EQ(back.height, 374);
  EXPECT_EQ(back.x_resolution, 197);
  EXPECT_EQ(back.minutiae[0].x, 0);  // pixel centres map onto pixel centres, within the image
  EXPECT_EQ(back.minutiae[0].y, 373);
  EXPECT_EQ(back.minutiae[1].x, 194);  // (150.5 * 388 / 300 - 0.5)
  EXPECT_EQ(back.minutiae[1].y, 187);
  EXPECT_EQ(back.minutiae[2].x, 387);
  EXPECT_NEAR(back.minutiae[1].angle, 90, 1e-9);  // straight up stays straight up
  // (cos 45, -sin 45) stretched by (1.293, 0.935): atan(0.935 / 1.293) = 35.9 degrees.
  EXPECT_NEAR(back.minutiae[2].angle, std::atan2(374.0 / 400, 388.0 / 300) * 180 / M_PI, 1e-9);
  // A view without a declared size has nothing to undo.
  FingerView unsized = squashed;
  unsized.width = 0;
  EXPECT_EQ(UnresizeView(unsized, print).minutiae[1].x, 150);
}

}  // namespace
}  // namespace ridgeline::eval
