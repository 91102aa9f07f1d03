// `ridgeline extract --template`, `template show` and `template convert` end to end: the record
// written is private and reads back, conversion keeps the minutiae and the core/delta data, and
// bad records and options are refused with exit code 2 and a reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/shared_data.h"
#include "tests/support/tool_run.h"

namespace ridgeline {
namespace {

namespace fs = std::filesystem;

using ridgeline::testing::ToolRun;

// The tool with `args`, shell text quoted by the caller; stdout only.
ToolRun RunTool(const std::string& args) {
  return ridgeline::testing::RunShell(ridgeline::testing::ShellQuote(RIDGELINE_TOOL_PATH) + " " +
                                      args);
}

class TemplateCommand : public ::testing::Test {
 protected:
  ridgeline::testing::ScratchDir scratch_{"ridgeline_template"};
  const fs::path dir_ = scratch_.path();
};

TEST_F(TemplateCommand, ExtractWritesAPrivateRecordThatShowsAndConverts) {
  const fs::path print = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B/101_1.tif";
  if (!fs::exists(print)) GTEST_SKIP() << "no print " << print;
  const fs::path record = dir_ / "101_1.ist";
  ToolRun run = RunTool("extract '" + print.string() + "' --template iso19794-2:2005 --finger " +
                        "left-index -o '" + record.string() + "' 2>/dev/null");
  ASSERT_EQ(run.exit_code, 0) << run.out;
  struct stat info {};
  ASSERT_EQ(::stat(record.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  run = RunTool("template show --json '" + record.string() + "'");
  ASSERT_EQ(run.exit_code, 0) << run.out;
  const nlohmann::json shown = nlohmann::json::parse(run.out);
  EXPECT_EQ(shown["format"], "iso19794-2:2005");
  ASSERT_EQ(shown["views"].size(), 1u);
  const nlohmann::json& view = shown["views"][0];
  EXPECT_EQ(view["finger_position"], 7);
  EXPECT_EQ(view["width"], 388);
  EXPECT_EQ(view["height"], 374);
  EXPECT_EQ(view["resolution_ppcm"][0], 197);
  EXPECT_GT(view["minutiae"].size(), 10u);
  ASSERT_EQ(view["extended"].size(), 1u);
  EXPECT_EQ(view["extended"][0]["type"], 0x524C);

  const fs::path converted = dir_ / "101_1.fmr";
  run = RunTool("template convert '" + record.string() + "' --to ansi378-2009 -o '" +
                converted.string() + "'");
  ASSERT_EQ(run.exit_code, 0) << run.out;
  run = RunTool("template show --json '" + converted.string() + "'");
  const nlohmann::json again = nlohmann::json::parse(run.out);
  EXPECT_EQ(again["format"], "ansi378-2009");
  const nlohmann::json& minutiae = again["views"][0]["minutiae"];
  ASSERT_EQ(minutiae.size(), view["minutiae"].size());
  for (size_t i = 0; i < minutiae.size(); ++i) {
    EXPECT_EQ(minutiae[i]["x"], view["minutiae"][i]["x"]);
    const double gap =
        std::abs(minutiae[i]["angle"].get<double>() - view["minutiae"][i]["angle"].get<double>());
    EXPECT_TRUE(gap <= 1.0 || gap >= 359.0) << i;
    EXPECT_EQ(minutiae[i]["quality"], 254);  // "not reported" in the 2009 edition
  }
}

TEST_F(TemplateCommand, ConversionBetweenFamiliesKeepsCoresAndDeltas) {
  const fs::path source = ridgeline::testing::SharedDir() / "interop/libbiomeval/fmr.iso2005";
  if (!fs::exists(source)) GTEST_SKIP() << "no record " << source;
  const fs::path ansi = dir_ / "fmr.ansi";
  ASSERT_EQ(RunTool("template convert '" + source.string() + "' --to ansi378-2004 -o '" +
                    ansi.string() + "' 2>/dev/null")
                .exit_code,
            0);
  const nlohmann::json shown =
      nlohmann::json::parse(RunTool("template show --json '" + ansi.string() + "'").out);
  const nlohmann::json& view = shown["views"][1];
  ASSERT_EQ(view["cores"].size(), 2u);
  EXPECT_EQ(view["cores"][0]["x"], 150);
  ASSERT_EQ(view["deltas"].size(), 4u);
  EXPECT_EQ(view["deltas"][3]["x"], 130);
}

TEST_F(TemplateCommand, BadRecordsAndOptionsAreRefused) {
  const fs::path cut = ridgeline::testing::SharedDir() /
                       "interop/openafis/invalid/fvc2004/DB_1B/101_1_truncate_1_byte.iso";
  if (fs::exists(cut)) {
    const ToolRun run = RunTool("template show '" + cut.string() + "' 2>&1");
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.out.find("truncated"), std::string::npos) << run.out;
  }
  const fs::path junk = dir_ / "junk";
  FILE* f = std::fopen(junk.c_str(), "wb");
  std::fputs("not a record at all", f);
  std::fclose(f);
  ToolRun run = RunTool("template show '" + junk.string() + "' 2>&1");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.out.find("not a finger minutiae record"), std::string::npos);
  run = RunTool("template convert '" + junk.string() + "' --to iso19794-2:2099 -o x 2>&1");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.out.find("unknown record format"), std::string::npos);
  run = RunTool("extract '" + junk.string() + "' --template ansi378-2004 2>&1");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.out.find("-o"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace ridgeline
