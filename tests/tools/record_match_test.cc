// `ridgeline match` and `ridgeline identify` with standard minutiae records in place of images, as
// a user runs them: told by content (whatever the file is called), on either side, our own
// records scoring exactly as the images they were made from, foreign ones imported, damaged ones
// refused with exit code 2.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "template/standard_record.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/shared_data.h"
#include "tests/support/tool_run.h"

namespace ridgeline {
namespace {

namespace fs = std::filesystem;

using ridgeline::testing::ShellQuote;
using ridgeline::testing::ToolRun;

class RecordMatch : public ::testing::Test {
 protected:
  // The tool on this test's own plaintext gallery; `args` is shell text, quoted by the caller.
  ToolRun Tool(const std::string& args) {
    return ridgeline::testing::RunShellSplit(ShellQuote(RIDGELINE_TOOL_PATH) + " --db " +
                                             ShellQuote((dir_ / "gallery.db").string()) +
                                             " --plaintext " + args);
  }
  // `match --json` and its score (-1 when there is none).
  nlohmann::json Match(const fs::path& probe, const fs::path& reference) {
    const ToolRun run = Tool("match --json '" + probe.string() + "' '" + reference.string() + "'");
    EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1) << run.out << run.err;
    return nlohmann::json::parse(run.out, nullptr, false);
  }
  fs::path Write(const std::string& name, const StandardRecord& record) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(WriteStandardRecord(record, &bytes, &error)) << error;
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  ridgeline::testing::ScratchDir scratch_{"ridgeline_record_match"};
  const fs::path dir_ = scratch_.path();
};

// A plausible foreign record: a grid of minutiae with varied directions on a 400 x 400 image.
StandardRecord Foreign(RecordFormat format, int shift) {
  StandardRecord record;
  record.format = format;
  FingerView view;
  view.width = view.height = 400;
  for (int i = 0; i < 40; ++i) {
    RecordMinutia m;
    m.x = 60 + (i % 8) * 37 + shift;
    m.y = 50 + (i / 8) * 61 + (i * 7) % 13;
    m.angle = (i * 47) % 360;
    m.kind = i % 3 == 0 ? MinutiaKind::kBifurcation : MinutiaKind::kEnding;
    view.minutiae.push_back(m);
  }
  record.views = {view};
  return record;
}

TEST_F(RecordMatch, ForeignRecordsMatchByContentOnEitherSideAndDamageIsRefused) {
  // Named like an image: the content decides.
  const fs::path a = Write("a.png", Foreign(RecordFormat::kIso19794_2_2011, 0));
  const fs::path a_ansi = Write("a.fmr", Foreign(RecordFormat::kAnsi378_2004, 0));
  const fs::path shifted = Write("b.ist", Foreign(RecordFormat::kAnsi378_2009, 9));
  nlohmann::json same = Match(a, a_ansi);
  ASSERT_TRUE(same.is_object());
  EXPECT_EQ(same["decided_by"], "engine");
  EXPECT_EQ(same["probe_record"]["format"], "iso19794-2:2011");
  EXPECT_EQ(same["reference_record"]["format"], "ansi378-2004");
  EXPECT_EQ(same["reference_record"]["with_engine_item"], 0);
  EXPECT_EQ(same["match"], true) << same;
  // A translated copy still matches (the matcher aligns); the score is the best over views.
  const nlohmann::json moved = Match(shifted, a);
  EXPECT_GT(moved["score"].get<int>(), same["threshold"].get<int>()) << moved;

  // Truncated, and a record whose only view cannot be imported: exit 2 with a reason.
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(WriteStandardRecord(Foreign(RecordFormat::kIso19794_2_2005, 0), &bytes, &error));
  bytes.resize(bytes.size() - 5);
  std::ofstream(dir_ / "cut.iso", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  ToolRun run = Tool("match '" + (dir_ / "cut.iso").string() + "' '" + a.string() + "'");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("truncated"), std::string::npos) << run.err;
  // Several views: the best pair of views counts (the matching finger is the second view).
  StandardRecord two = Foreign(RecordFormat::kIso19794_2_2005, 0);
  FingerView other = two.views[0];
  for (RecordMinutia& m : other.minutiae) m.angle = std::fmod(m.angle * 3 + 100, 360.0);
  other.finger_position = 3;
  two.views.insert(two.views.begin(), other);
  two.views[1].finger_position = 2;
  const nlohmann::json best = Match(a, Write("two.iso", two));
  EXPECT_EQ(best["reference_record"]["views"], 2);
  const nlohmann::json single =
      Match(a, Write("one.iso", Foreign(RecordFormat::kIso19794_2_2005, 0)));
  EXPECT_EQ(best["score"], single["score"]) << best;
}

TEST_F(RecordMatch, OurRecordsScoreAsTheirImagesInMatchAndIdentify) {
  const fs::path folder = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B";
  if (!fs::exists(folder / "101_1.tif")) GTEST_SKIP() << "no shared prints";
  const fs::path p1 = folder / "101_1.tif", p2 = folder / "101_2.tif", q1 = folder / "102_1.tif";
  const fs::path r1 = dir_ / "r1.bin", r2 = dir_ / "r2.bin", plain1 = dir_ / "plain1.bin";
  ASSERT_EQ(
      Tool("extract '" + p1.string() + "' --template iso19794-2:2005 -o '" + r1.string() + "'")
          .exit_code,
      0);
  ASSERT_EQ(Tool("extract '" + p2.string() + "' --template ansi378-2009 -o '" + r2.string() + "'")
                .exit_code,
            0);
  ASSERT_EQ(Tool("extract '" + p1.string() + "' --template ansi378-2004 --no-engine-item -o '" +
                 plain1.string() + "'")
                .exit_code,
            0);
  // The image pair's score, with the reference image replaced by its record: the same number.
  const nlohmann::json images = Match(p2, p1);
  const nlohmann::json with_record = Match(p2, r1);
  ASSERT_TRUE(images.is_object() && with_record.is_object());
  EXPECT_EQ(with_record["score"], images["score"]);
  EXPECT_EQ(with_record["match"], true);
  // Records on both sides, and a foreign-style record: genuine above impostor.
  EXPECT_EQ(Match(r2, r1)["match"], true);
  const int genuine = Match(p2, plain1)["score"].get<int>();
  const int impostor = Match(q1, plain1)["score"].get<int>();
  EXPECT_GT(genuine, impostor);
  EXPECT_EQ(Match(plain1, p2)["probe_record"]["with_engine_item"], 0);

  // identify --top with a record as the probe ranks the right finger first.
  ASSERT_EQ(Tool("enroll --subject one --finger right-index '" + p1.string() + "'").exit_code, 0);
  ASSERT_EQ(Tool("enroll --subject two --finger right-index '" + q1.string() + "'").exit_code, 0);
  ToolRun run = Tool("identify --json --top 2 '" + r2.string() + "'");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  nlohmann::json identified = nlohmann::json::parse(run.out);
  EXPECT_EQ(identified["subject"], "one");
  ASSERT_EQ(identified["candidates"].size(), 2u);
  EXPECT_EQ(identified["candidates"][0]["subject"], "one");
  EXPECT_EQ(identified["record"]["with_engine_item"], 1);
  // The same ranking as the image the record was made from.
  run = Tool("identify --json --top 2 '" + p2.string() + "'");
  const nlohmann::json from_image = nlohmann::json::parse(run.out);
  EXPECT_EQ(identified["candidates"][0]["score"], from_image["candidates"][0]["score"]);
  // Plain identify decides by the engine's best score and says so.
  run = Tool("identify '" + plain1.string() + "'");
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("identified:"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("does not go through the adapter"), std::string::npos) << run.err;
}

TEST_F(RecordMatch, AnotherProducersRecordsOfTheSamePrintsCompare) {
  const fs::path records = ridgeline::testing::SharedDir() / "interop/openafis/valid/fvc2002/DB1_B";
  if (!fs::exists(records / "101_1.iso")) GTEST_SKIP() << "no openafis records";
  const nlohmann::json genuine = Match(records / "101_2.iso", records / "101_1.iso");
  const nlohmann::json impostor = Match(records / "102_1.iso", records / "101_1.iso");
  ASSERT_TRUE(genuine.is_object() && impostor.is_object());
  EXPECT_GT(genuine["score"].get<int>(), impostor["score"].get<int>());
  EXPECT_EQ(genuine["reference_record"]["format"], "iso19794-2:2005");
}

}  // namespace
}  // namespace ridgeline
