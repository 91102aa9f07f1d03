// The `ridgeline` command run as a user runs it: bad input of every kind ends with a clear
// message and exit code 2, gallery trouble with 3, and on the shared prints (when present) the
// whole round of enroll, duplicate check, verify, identify, list and delete.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>
#include "tests/support/shared_data.h"

#include "tools/image/png_writer.h"
#include "tools/image/print_image.h"
#include "tools/store/sqlite_handle.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exit_code = -1;
  std::string output;  // stdout and stderr together
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ToolRun RunTool(const std::vector<std::string>& args) {
  std::string command = Quote(RIDGELINE_TOOL_PATH);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

class RidgelineCommand : public ::testing::Test {
 protected:
  RidgelineCommand()
      : dir_(fs::temp_directory_path() /
             ("ridgeline_cli_" + std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~RidgelineCommand() override { fs::remove_all(dir_); }

  fs::path File(const std::string& name, const std::string& contents) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  std::string Db() const { return (dir_ / "gallery.db").string(); }

  fs::path dir_;
};

TEST_F(RidgelineCommand, BadImagesAreRefusedWithExitTwo) {
  std::vector<uint8_t> pixels(64 * 64, 128);
  const std::vector<uint8_t> png = EncodePng(64, 64, 1, pixels);
  const std::string whole(png.begin(), png.end());
  const std::vector<std::pair<std::string, fs::path>> cases = {
      {"missing", dir_ / "missing.png"},
      {"directory", dir_},
      {"empty", File("empty.png", "")},
      {"truncated", File("truncated.png", whole.substr(0, whole.size() / 2))},
      {"wrong format", File("notes.png", "just some text, not an image at all")},
      {"huge", File("huge.pgm", "P5\n60000 60000\n255\n")},
      {"zero-sized", File("zero.pgm", "P5\n0 0\n255\n")},
      {"too small for the engine", File("tiny.pgm", "P5\n8 8\n255\n" + std::string(64, 'x'))},
  };
  for (const auto& [what, path] : cases) {
    SCOPED_TRACE(what);
    const ToolRun run = RunTool(
        {"enroll", "--db", Db(), "--subject", "alice", "--finger", "right-index", path.string()});
    EXPECT_EQ(run.exit_code, 2) << run.output;
    EXPECT_NE(run.output.find(path.filename().string()), std::string::npos) << run.output;
  }
  EXPECT_FALSE(fs::exists(Db()));  // nothing was created for input that never reached the engine
}

TEST_F(RidgelineCommand, UsageErrorsExitTwo) {
  EXPECT_EQ(RunTool({}).exit_code, 2);
  EXPECT_EQ(RunTool({"frobnicate"}).exit_code, 2);
  EXPECT_EQ(RunTool({"verify", "--db", Db(), "x.png"}).exit_code, 2);  // no subject
  const ToolRun finger =
      RunTool({"enroll", "--db", Db(), "--subject", "a", "--finger", "toe", "x"});
  EXPECT_EQ(finger.exit_code, 2);
  EXPECT_NE(finger.output.find("right-index"), std::string::npos);
  EXPECT_EQ(RunTool({"list"}).exit_code, 2);  // no --db
  EXPECT_EQ(RunTool({"--help"}).exit_code, 0);
}

TEST_F(RidgelineCommand, MissingForeignAndCorruptGalleriesExitThree) {
  const ToolRun missing = RunTool({"list", "--db", Db()});
  EXPECT_EQ(missing.exit_code, 3);
  EXPECT_NE(missing.output.find("no gallery"), std::string::npos);
  const fs::path text = File("text.db", std::string(4096, 'q'));
  const ToolRun not_db = RunTool({"list", "--db", text.string()});
  EXPECT_EQ(not_db.exit_code, 3);
  EXPECT_NE(not_db.output.find("not a ridgeline gallery"), std::string::npos) << not_db.output;
  {
    Connection foreign((dir_ / "foreign.db").string(), true);
    foreign.Execute("CREATE TABLE accounts(id INTEGER, name TEXT)");
  }
  const ToolRun other =
      RunTool({"delete", "--db", (dir_ / "foreign.db").string(), "--subject", "x"});
  EXPECT_EQ(other.exit_code, 3);
  EXPECT_NE(other.output.find("another application"), std::string::npos) << other.output;
}

TEST_F(RidgelineCommand, AWrongAdapterIsRefused) {
  const ToolRun run = RunTool({"identify", "--db", Db(), "--adapter", "/etc/hostname", "x.png"});
  EXPECT_NE(run.exit_code, 0);
  const fs::path fake = File("lib.so", "not a library");
  std::vector<uint8_t> pixels(100 * 100);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37);
  const fs::path image = dir_ / "noise.png";
  WritePng(image, 100, 100, 1, pixels);
  const ToolRun load = RunTool({"enroll", "--db", Db(), "--adapter", fake.string(), "--subject",
                                "a", "--finger", "right-index", image.string()});
  EXPECT_EQ(load.exit_code, 4);
  EXPECT_NE(load.output.find("cannot load the adapter"), std::string::npos) << load.output;
}

TEST_F(RidgelineCommand, TraceShowsTheAdaptersLines) {
  std::vector<uint8_t> pixels(100 * 100);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37);
  const fs::path image = dir_ / "noise.png";
  WritePng(image, 100, 100, 1, pixels);
  const ToolRun run = RunTool({"--trace", "verify", "--db", Db(), "--subject", "a", "--finger",
                               "right-index", image.string()});
  EXPECT_EQ(run.exit_code, 3);  // no gallery yet: the adapter is not even loaded
  const ToolRun enroll = RunTool({"--trace", "enroll", "--db", Db(), "--subject", "a", "--finger",
                                  "right-index", image.string()});
  EXPECT_NE(enroll.output.find("WbioQueryEngineInterface\n"), std::string::npos) << enroll.output;
  EXPECT_NE(enroll.output.find("EngineAdapterAttach\n"), std::string::npos);
  EXPECT_NE(enroll.output.find("EngineAdapterDetach\n"), std::string::npos);
}

// The whole round on real prints. Skips when the prints are absent, or while the adapter in this
// build still answers E_NOTIMPL for enrollment.
TEST_F(RidgelineCommand, EnrollDuplicateVerifyIdentifyListDeleteOnRealPrints) {
  const fs::path prints = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B";
  if (!fs::is_directory(prints)) GTEST_SKIP() << "no shared prints";
  auto print = [&](const std::string& name) { return (prints / (name + ".tif")).string(); };
  const ToolRun alice = RunTool({"enroll", "--db", Db(), "--subject", "alice", "--finger",
                                 "right-index", print("101_1"), print("101_2")});
  if (alice.exit_code == 4 && alice.output.find("E_NOTIMPL") != std::string::npos) {
    GTEST_SKIP() << "the adapter does not implement enrollment yet";
  }
  ASSERT_EQ(alice.exit_code, 0) << alice.output;
  EXPECT_NE(alice.output.find("2 impressions"), std::string::npos);
  ASSERT_EQ(RunTool({"enroll", "--db", Db(), "--subject", "bob", "--finger", "left-thumb",
                     print("102_1"), print("102_2")})
                .exit_code,
            0);

  // The same finger under another name is a duplicate, and says whose it is.
  const ToolRun duplicate = RunTool(
      {"enroll", "--db", Db(), "--subject", "mallory", "--finger", "right-index", print("101_3")});
  EXPECT_EQ(duplicate.exit_code, 1) << duplicate.output;
  EXPECT_NE(duplicate.output.find("alice right-index"), std::string::npos) << duplicate.output;
  // Enrolling alice's right index again is refused before the engine is asked.
  EXPECT_EQ(RunTool({"enroll", "--db", Db(), "--subject", "alice", "--finger", "right-index",
                     print("101_4")})
                .exit_code,
            2);

  const ToolRun genuine = RunTool(
      {"verify", "--db", Db(), "--subject", "alice", "--finger", "right-index", print("101_4")});
  EXPECT_EQ(genuine.exit_code, 0) << genuine.output;
  const ToolRun impostor = RunTool(
      {"verify", "--db", Db(), "--subject", "alice", "--finger", "right-index", print("102_4")});
  EXPECT_EQ(impostor.exit_code, 1) << impostor.output;
  EXPECT_EQ(RunTool({"verify", "--db", Db(), "--subject", "carol", "--finger", "right-index",
                     print("101_4")})
                .exit_code,
            1);

  const ToolRun who = RunTool({"identify", "--db", Db(), print("102_5")});
  EXPECT_EQ(who.exit_code, 0) << who.output;
  EXPECT_NE(who.output.find("bob's left-thumb"), std::string::npos) << who.output;
  EXPECT_EQ(RunTool({"identify", "--db", Db(), print("103_1")}).exit_code, 1);

  const ToolRun list = RunTool({"list", "--db", Db(), "--json"});
  ASSERT_EQ(list.exit_code, 0);
  EXPECT_NE(list.output.find("\"alice\""), std::string::npos);
  EXPECT_NE(list.output.find("\"impressions\": 2"), std::string::npos) << list.output;

  EXPECT_EQ(RunTool({"delete", "--db", Db(), "--subject", "bob"}).exit_code, 0);
  EXPECT_EQ(RunTool({"delete", "--db", Db(), "--subject", "bob"}).exit_code, 1);
  EXPECT_EQ(RunTool({"identify", "--db", Db(), print("102_5")}).exit_code, 1);
  const ToolRun after = RunTool({"list", "--db", Db()});
  EXPECT_EQ(after.output.find("bob"), std::string::npos);
  EXPECT_NE(after.output.find("alice"), std::string::npos);
}

// extract on a real print: stable JSON whose coordinates lie in the working image, and an overlay
// of the same size.
TEST_F(RidgelineCommand, ExtractWritesJsonAndOverlay) {
  const fs::path print = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B/101_1.tif";
  if (!fs::exists(print)) GTEST_SKIP() << "no shared prints";
  const fs::path overlay = dir_ / "overlay.png";
  const ToolRun run = RunTool({"extract", print.string(), "--json", "--overlay", overlay.string(),
                               "--stages", (dir_ / "stages").string()});
  if (run.exit_code == 4) GTEST_SKIP() << "no engine in this build: " << run.output;
  ASSERT_EQ(run.exit_code, 0) << run.output;
  const auto json = nlohmann::json::parse(run.output.substr(run.output.find('{')));
  EXPECT_EQ(json["resolution"], 550);
  const int width = json["width"];
  const int height = json["height"];
  ASSERT_GT(json["minutiae"].size(), 0u);
  for (const auto& minutia : json["minutiae"]) {
    EXPECT_GE(minutia["x"].get<int>(), 0);
    EXPECT_LT(minutia["x"].get<int>(), width);
    EXPECT_LT(minutia["y"].get<int>(), height);
    EXPECT_TRUE(minutia["type"] == "ending" || minutia["type"] == "bifurcation");
  }
  const PrintImage drawn = ReadPrintImage(overlay);
  EXPECT_EQ(drawn.width, width);
  EXPECT_EQ(drawn.height, height);
  for (const char* stage : {"input.png", "direction_field.png", "foreground.png", "binary.png"}) {
    EXPECT_TRUE(fs::exists(dir_ / "stages" / stage)) << stage;
  }
  // A flat image is a bad capture.
  const ToolRun flat = RunTool(
      {"extract", File("flat.pgm", "P5\n64 64\n255\n" + std::string(64 * 64, 'x')).string()});
  EXPECT_EQ(flat.exit_code, 2) << flat.output;
}

// Outputs named on the command line: a link another user planted in place of the overlay, or a
// folder of theirs given to --stages or synth --out, is refused with exit 2 and nothing is
// written through it; links the user made are followed.
TEST_F(RidgelineCommand, OutputsRefuseWhatAnotherUserPlanted) {
  if (geteuid() != 0) GTEST_SKIP() << "planting as another user needs root";
  const ToolRun synth = RunTool(
      {"synth", "--out", (dir_ / "prints").string(), "--fingers", "1", "--impressions", "1"});
  if (synth.exit_code != 0) GTEST_SKIP() << "no synthetic prints: " << synth.output;
  const fs::path print = *fs::directory_iterator(dir_ / "prints");
  const fs::path victim = File("victim", "precious");
  const fs::path planted = dir_ / "overlay.png";
  fs::create_symlink(victim, planted);
  ASSERT_EQ(lchown(planted.c_str(), 65534, 65534), 0);
  const ToolRun overlay = RunTool({"extract", print.string(), "--overlay", planted.string()});
  if (overlay.exit_code == 4) GTEST_SKIP() << "no engine in this build: " << overlay.output;
  EXPECT_EQ(overlay.exit_code, 2) << overlay.output;
  EXPECT_NE(overlay.output.find("another user"), std::string::npos) << overlay.output;
  std::ifstream in(victim);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");

  const fs::path theirs = dir_ / "theirs";
  fs::create_directory(theirs);
  ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
  EXPECT_EQ(RunTool({"extract", print.string(), "--stages", theirs.string()}).exit_code, 2);
  EXPECT_EQ(RunTool({"synth", "--out", theirs.string(), "--fingers", "1"}).exit_code, 2);
  EXPECT_TRUE(fs::is_empty(theirs));

  const fs::path mine = dir_ / "mine.png";
  fs::create_symlink(dir_ / "target.png", mine);
  EXPECT_EQ(RunTool({"extract", print.string(), "--overlay", mine.string()}).exit_code, 0);
  EXPECT_TRUE(fs::exists(dir_ / "target.png"));
}

// The demo's table and summary, on two fingers of the shared prints and on its default
// synthetic prints. Skips like the round above.
TEST_F(RidgelineCommand, DemoPrintsItsTableAndSummary) {
  std::vector<std::vector<std::string>> runs = {{"demo", "--fingers", "2"}};
  const fs::path prints = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B";
  if (fs::is_directory(prints)) {
    runs.push_back({"demo", "--fingers", "2", "--images", prints.string()});
  }
  int ran = 0;
  // Its temporary prints and gallery go into private folders that are gone when it ends.
  const fs::path temporary = dir_ / "tmp";
  fs::create_directory(temporary);
  setenv("TMPDIR", temporary.c_str(), 1);
  for (const auto& args : runs) {
    const ToolRun run = RunTool(args);
    EXPECT_TRUE(fs::is_empty(temporary)) << run.output;
    if (run.output.find("E_NOTIMPL") != std::string::npos ||
        run.output.find("no synthetic prints") != std::string::npos) {
      continue;
    }
    ++ran;
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("FINGER"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("genuine accept:"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("duplicate check: refused"), std::string::npos) << run.output;
  }
  unsetenv("TMPDIR");
  if (ran == 0) GTEST_SKIP() << "no prints, or the adapter does not implement enrollment yet";
}

}  // namespace
}  // namespace ridgeline::tools
