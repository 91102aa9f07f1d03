// The `ridgeline` command run as a user runs it: bad input of every kind ends with a clear
// message and exit code 2, gallery trouble with 3, and on the shared prints (when present) the
// whole round of enroll, duplicate check, verify, identify, list and delete.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <nlohmann/json.hpp>
#include "tests/support/scratch_dir.h"
#include "tests/support/shared_data.h"
#include "tests/support/tool_run.h"

#include "image/print_image.h"
#include "tools/image/png_writer.h"
#include "tools/store/sqlite_handle.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

using ridgeline::testing::RunTool;
using ridgeline::testing::RunToolSplit;
using ridgeline::testing::ShellQuote;
using ridgeline::testing::ToolRun;

class RidgelineCommand : public ::testing::Test {
 protected:
  fs::path File(const std::string& name, const std::string& contents) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  std::string Db() const { return (dir_ / "gallery.db").string(); }

  ridgeline::testing::ScratchDir scratch_{"ridgeline_cli"};
  const fs::path dir_ = scratch_.path();
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
    EXPECT_EQ(run.exit_code, 2) << run.out;
    EXPECT_NE(run.out.find(path.filename().string()), std::string::npos) << run.out;
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
  EXPECT_NE(finger.out.find("right-index"), std::string::npos);
  EXPECT_EQ(RunTool({"verify", "--level", "8", "--subject", "a", "--finger", "right-index", "x"})
                .exit_code,
            2);
  EXPECT_EQ(RunTool({"identify", "--top", "0", "x.png"}).exit_code, 2);
  EXPECT_EQ(RunTool({"extract", "--frame", "sensor", "x.png"}).exit_code, 2);
  EXPECT_EQ(RunTool({"--help"}).exit_code, 0);
}

TEST_F(RidgelineCommand, MissingForeignAndCorruptGalleriesExitThree) {
  const ToolRun missing = RunTool({"list", "--db", Db()});
  EXPECT_EQ(missing.exit_code, 3);
  EXPECT_NE(missing.out.find("no gallery"), std::string::npos);
  const fs::path text = File("text.db", std::string(4096, 'q'));
  const ToolRun not_db = RunTool({"list", "--db", text.string()});
  EXPECT_EQ(not_db.exit_code, 3);
  EXPECT_NE(not_db.out.find("not a ridgeline gallery"), std::string::npos) << not_db.out;
  {
    Connection foreign((dir_ / "foreign.db").string(), true);
    foreign.Execute("CREATE TABLE accounts(id INTEGER, name TEXT)");
  }
  const ToolRun other =
      RunTool({"delete", "--db", (dir_ / "foreign.db").string(), "--subject", "x"});
  EXPECT_EQ(other.exit_code, 3);
  EXPECT_NE(other.out.find("another application"), std::string::npos) << other.out;
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
  EXPECT_NE(load.out.find("cannot load the adapter"), std::string::npos) << load.out;
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
  EXPECT_NE(enroll.out.find("WbioQueryEngineInterface\n"), std::string::npos) << enroll.out;
  EXPECT_NE(enroll.out.find("EngineAdapterAttach\n"), std::string::npos);
  EXPECT_NE(enroll.out.find("EngineAdapterDetach\n"), std::string::npos);
}

// The whole round on real prints. Skips when the prints are absent, or while the adapter in this
// build still answers E_NOTIMPL for enrollment.
TEST_F(RidgelineCommand, EnrollDuplicateVerifyIdentifyListDeleteOnRealPrints) {
  const fs::path prints = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B";
  if (!fs::is_directory(prints)) GTEST_SKIP() << "no shared prints";
  auto print = [&](const std::string& name) { return (prints / (name + ".tif")).string(); };
  const ToolRun alice = RunTool({"enroll", "--db", Db(), "--subject", "alice", "--finger",
                                 "right-index", print("101_1"), print("101_2")});
  if (alice.exit_code == 4 && alice.out.find("E_NOTIMPL") != std::string::npos) {
    GTEST_SKIP() << "the adapter does not implement enrollment yet";
  }
  ASSERT_EQ(alice.exit_code, 0) << alice.out;
  EXPECT_NE(alice.out.find("2 impressions"), std::string::npos);
  ASSERT_EQ(RunTool({"enroll", "--db", Db(), "--subject", "bob", "--finger", "left-thumb",
                     print("102_1"), print("102_2")})
                .exit_code,
            0);

  // The same finger under another name is a duplicate, and says whose it is.
  const ToolRun duplicate = RunTool(
      {"enroll", "--db", Db(), "--subject", "mallory", "--finger", "right-index", print("101_3")});
  EXPECT_EQ(duplicate.exit_code, 1) << duplicate.out;
  EXPECT_NE(duplicate.out.find("alice right-index"), std::string::npos) << duplicate.out;
  // Enrolling alice's right index again is refused before the engine is asked.
  EXPECT_EQ(RunTool({"enroll", "--db", Db(), "--subject", "alice", "--finger", "right-index",
                     print("101_4")})
                .exit_code,
            1);

  const ToolRun genuine = RunTool(
      {"verify", "--db", Db(), "--subject", "alice", "--finger", "right-index", print("101_4")});
  EXPECT_EQ(genuine.exit_code, 0) << genuine.out;
  const ToolRun impostor = RunTool(
      {"verify", "--db", Db(), "--subject", "alice", "--finger", "right-index", print("102_4")});
  EXPECT_EQ(impostor.exit_code, 1) << impostor.out;
  EXPECT_EQ(RunTool({"verify", "--db", Db(), "--subject", "carol", "--finger", "right-index",
                     print("101_4")})
                .exit_code,
            1);

  const ToolRun who = RunTool({"identify", "--db", Db(), print("102_5")});
  EXPECT_EQ(who.exit_code, 0) << who.out;
  EXPECT_NE(who.out.find("bob's left-thumb"), std::string::npos) << who.out;
  EXPECT_EQ(RunTool({"identify", "--db", Db(), print("103_1")}).exit_code, 1);

  const ToolRun list = RunTool({"list", "--db", Db(), "--json"});
  ASSERT_EQ(list.exit_code, 0);
  EXPECT_NE(list.out.find("\"alice\""), std::string::npos);
  EXPECT_NE(list.out.find("\"impressions\": 2"), std::string::npos) << list.out;

  EXPECT_EQ(RunTool({"delete", "--db", Db(), "--subject", "bob"}).exit_code, 0);
  EXPECT_EQ(RunTool({"delete", "--db", Db(), "--subject", "bob"}).exit_code, 1);
  EXPECT_EQ(RunTool({"identify", "--db", Db(), print("102_5")}).exit_code, 1);
  const ToolRun after = RunTool({"list", "--db", Db()});
  EXPECT_EQ(after.out.find("bob"), std::string::npos);
  EXPECT_NE(after.out.find("alice"), std::string::npos);
}

// extract on a real print: stable JSON whose coordinates lie in the working image, and an overlay
// of the same size.
TEST_F(RidgelineCommand, ExtractWritesJsonAndOverlay) {
  const fs::path print = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B/101_1.tif";
  if (!fs::exists(print)) GTEST_SKIP() << "no shared prints";
  const fs::path overlay = dir_ / "overlay.png";
  const ToolRun run = RunTool({"extract", print.string(), "--json", "--overlay", overlay.string(),
                               "--stages", (dir_ / "stages").string()});
  if (run.exit_code == 4) GTEST_SKIP() << "no engine in this build: " << run.out;
  ASSERT_EQ(run.exit_code, 0) << run.out;
  const auto json = nlohmann::json::parse(run.out.substr(run.out.find('{')));
  EXPECT_EQ(json["frame"], "input");
  EXPECT_EQ(json["resolution"], 500);
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
  const PrintImage input = ReadPrintImage(print);
  EXPECT_EQ(drawn.width, input.width);  // drawn on the file as given
  EXPECT_EQ(drawn.height, input.height);
  EXPECT_EQ(width, input.width);
  EXPECT_EQ(height, input.height);
  for (const char* stage : {"input.png", "direction_field.png", "foreground.png", "binary.png"}) {
    EXPECT_TRUE(fs::exists(dir_ / "stages" / stage)) << stage;
  }
  // A flat image is a bad capture.
  const ToolRun flat = RunTool(
      {"extract", File("flat.pgm", "P5\n64 64\n255\n" + std::string(64 * 64, 'x')).string()});
  EXPECT_EQ(flat.exit_code, 2) << flat.out;
}

// Outputs named on the command line: a link another user planted in place of the overlay, or a
// folder of theirs given to --stages or synth --out, is refused with exit 2 and nothing is
// written through it; links the user made are followed.
TEST_F(RidgelineCommand, OutputsRefuseWhatAnotherUserPlanted) {
  if (geteuid() != 0) GTEST_SKIP() << "planting as another user needs root";
  const ToolRun synth = RunTool(
      {"synth", "--out", (dir_ / "prints").string(), "--fingers", "1", "--impressions", "1"});
  if (synth.exit_code != 0) GTEST_SKIP() << "no synthetic prints: " << synth.out;
  const fs::path print = *fs::directory_iterator(dir_ / "prints");
  const fs::path victim = File("victim", "precious");
  const fs::path planted = dir_ / "overlay.png";
  fs::create_symlink(victim, planted);
  ASSERT_EQ(lchown(planted.c_str(), 65534, 65534), 0);
  const ToolRun overlay = RunTool({"extract", print.string(), "--overlay", planted.string()});
  if (overlay.exit_code == 4) GTEST_SKIP() << "no engine in this build: " << overlay.out;
  EXPECT_EQ(overlay.exit_code, 2) << overlay.out;
  EXPECT_NE(overlay.out.find("another user"), std::string::npos) << overlay.out;
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
    EXPECT_TRUE(fs::is_empty(temporary)) << run.out;
    if (run.out.find("E_NOTIMPL") != std::string::npos ||
        run.out.find("no synthetic prints") != std::string::npos) {
      continue;
    }
    ++ran;
    EXPECT_EQ(run.exit_code, 0) << run.out;
    EXPECT_NE(run.out.find("FINGER"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("genuine accept:"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("duplicate check: refused"), std::string::npos) << run.out;
  }
  unsetenv("TMPDIR");
  if (ran == 0) GTEST_SKIP() << "no prints, or the adapter does not implement enrollment yet";
}

}  // namespace
}  // namespace ridgeline::tools

namespace ridgeline::tools {
namespace {

// The JSON schema of every command, as the README documents it: field -> the JSON types it may
// have. Fields outside the list are refused, so the schema cannot drift unnoticed.
using Fields = std::map<std::string, std::set<std::string>>;
const std::map<std::string, Fields>& Schema() {
  static const Fields decision = {{"score", {"number", "null"}},
                                  {"threshold", {"number"}},
                                  {"level", {"number"}},
                                  {"decided_by", {"string"}}};
  auto with_decision = [&](Fields fields) {
    fields.insert(decision.begin(), decision.end());
    return fields;
  };
  static const std::map<std::string, Fields> schema = {
      {"enroll",
       {{"subject", {"string"}},
        {"finger", {"string"}},
        {"gallery", {"string"}},
        {"enrolled", {"boolean"}},
        {"impressions", {"number"}},
        {"reason", {"string", "null"}},
        {"duplicate_check", {"object", "null"}}}},
      {"verify", with_decision({{"subject", {"string"}},
                                {"finger", {"string"}},
                                {"image", {"string"}},
                                {"match", {"boolean"}},
                                {"reason", {"string", "null"}},
                                {"adapter", {"object"}}})},
      {"identify", with_decision({{"image", {"string"}},
                                  {"identified", {"boolean"}},
                                  {"subject", {"string", "null"}},
                                  {"finger", {"string", "null"}},
                                  {"gallery_size", {"number"}},
                                  {"adapter", {"object"}},
                                  {"candidates", {"array"}}})},
      {"match",
       with_decision({{"probe", {"string"}}, {"reference", {"string"}}, {"match", {"boolean"}}})},
      {"list", {{"gallery", {"string"}}, {"encrypted", {"boolean"}}, {"records", {"array"}}}},
      {"check",
       {{"gallery", {"string"}},
        {"schema", {"number"}},
        {"encrypted", {"boolean"}},
        {"key_file", {"string", "null"}},
        {"records", {"number"}},
        {"intact", {"number"}},
        {"damaged", {"array"}},
        {"file_faults", {"array"}},
        {"ok", {"boolean"}}}},
      {"rekey",
       {{"gallery", {"string"}}, {"key_file", {"string"}}, {"old_key_file", {"string", "null"}}}},
      {"export",
       {{"gallery", {"string"}},
        {"out", {"string"}},
        {"records", {"number"}},
        {"key_file", {"string", "null"}}}},
      {"import", {{"gallery", {"string"}}, {"from", {"string"}}, {"imported", {"number"}}}},
      {"delete",
       {{"subject", {"string"}}, {"finger", {"string", "null"}}, {"deleted", {"number"}}}},
      {"extract",
       {{"file", {"string"}},
        {"frame", {"string"}},
        {"width", {"number"}},
        {"height", {"number"}},
        {"resolution", {"number"}},
        {"quality", {"number"}},
        {"boundary_density", {"number"}},
        {"block_grid", {"object"}},
        {"minutiae", {"array"}},
        {"singular_points", {"array"}}}},
      {"synth",
       {{"out", {"string"}},
        {"fingers", {"number"}},
        {"impressions", {"number"}},
        {"seed", {"number"}},
        {"size", {"string"}},
        {"files", {"number"}}}},
      {"version", {{"version", {"string"}}, {"template_format", {"object"}}}},
  };
  return schema;
}

// Fields every object may carry, whatever the command.
const std::set<std::string> kOptionalFields = {"message", "notes", "warnings"};
// Fields that only some answers of a command carry.
const std::set<std::string> kSometimesFields = {"adapter", "candidates"};

std::string TypeName(const nlohmann::json& value) {
  if (value.is_null()) return "null";
  if (value.is_boolean()) return "boolean";
  if (value.is_number()) return "number";
  if (value.is_string()) return "string";
  if (value.is_array()) return "array";
  return "object";
}

// `text` (from `stream`) parsed as one JSON object naming its command and exit code; null, after
// a failure, when it is not JSON.
nlohmann::json CommandObject(const std::string& text, const char* stream,
                             const std::string& command, int exit_code) {
  nlohmann::json json;
  try {
    json = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& error) {
    ADD_FAILURE() << stream << " is not one JSON object: " << error.what() << "\n" << text;
    return nullptr;
  }
  EXPECT_EQ(json.value("command", ""), command);
  EXPECT_EQ(json.value("exit_code", -1), exit_code);
  return json;
}

// Parses one command's answer (stdout, exit 0 or 1) and checks it against the schema.
nlohmann::json Answer(const ToolRun& run, const std::string& command) {
  EXPECT_LE(run.exit_code, 1) << run.out << run.err;
  const nlohmann::json json = CommandObject(run.out, "stdout", command, run.exit_code);
  if (json.is_null()) return json;
  const Fields& fields = Schema().at(command);
  for (const auto& [name, types] : fields) {
    if (!json.contains(name)) {
      if (!kSometimesFields.contains(name)) ADD_FAILURE() << command << ": no field " << name;
      continue;
    }
    EXPECT_TRUE(types.contains(TypeName(json[name])))
        << command << "." << name << " is a " << TypeName(json[name]);
  }
  for (const auto& [name, value] : json.items()) {
    EXPECT_TRUE(fields.contains(name) || kOptionalFields.contains(name) || name == "command" ||
                name == "exit_code")
        << command << ": field " << name << " is not in the schema";
  }
  return json;
}

// Parses the error object on stderr (exit 2, 3 or 4).
nlohmann::json Error(const ToolRun& run, const std::string& command, int exit_code) {
  EXPECT_EQ(run.exit_code, exit_code) << run.out << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;
  const nlohmann::json json = CommandObject(run.err, "stderr", command, exit_code);
  if (json.is_null()) return json;
  const std::map<int, std::string> names = {
      {2, "bad_input"}, {3, "gallery_error"}, {4, "adapter_error"}};
  EXPECT_EQ(json.value("error", ""), names.at(exit_code));
  EXPECT_FALSE(json.value("message", "").empty());
  EXPECT_EQ(json.size(), 4u) << json.dump();
  return json;
}

class RidgelineTranscript : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prints_ = new fs::path(fs::temp_directory_path() /
                           ("ridgeline_transcript_" + std::to_string(::getpid())));
    const ToolRun made =
        RunToolSplit({"synth", "--out", prints_->string(), "--fingers", "3", "--impressions", "3"});
    have_prints_ = made.exit_code == 0;
  }
  static void TearDownTestSuite() {
    fs::remove_all(*prints_);
    delete prints_;
  }
  void SetUp() override {
    if (!have_prints_) GTEST_SKIP() << "no synthetic prints in this build";
    db_ = (*prints_ / (std::string("gallery_") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db"))
              .string();
  }
  static std::string Print(int finger, int impression) {
    char name[32];
    std::snprintf(name, sizeof name, "%03d_%02d.png", finger, impression);
    return (*prints_ / name).string();
  }
  ToolRun Json(std::vector<std::string> args) {
    args.insert(args.begin(), {"--json", "--db", db_});
    return RunToolSplit(args);
  }

  static fs::path* prints_;
  static bool have_prints_;
  std::string db_;
};
fs::path* RidgelineTranscript::prints_ = nullptr;
bool RidgelineTranscript::have_prints_ = false;

TEST_F(RidgelineTranscript, GalleryCommandsAnswerWithTheirExitCodesAndSchema) {
  // enroll: 0, then already enrolled and duplicate alike 1, each with its reason.
  nlohmann::json json = Answer(
      Json({"enroll", "--subject", "alice", "--finger", "right-index", Print(1, 1)}), "enroll");
  EXPECT_EQ(json["enrolled"], true);
  EXPECT_TRUE(json["duplicate_check"]["score"].is_null());  // nothing stored to compare with
  json =
      Answer(Json({"enroll", "--subject", "bob", "--finger", "left-thumb", Print(2, 1)}), "enroll");
  EXPECT_EQ(json["enrolled"], true);
  EXPECT_EQ(json["duplicate_check"]["duplicate"], false);
  EXPECT_LT(json["duplicate_check"]["score"].get<int>(), 325);
  ToolRun run = Json({"enroll", "--subject", "alice", "--finger", "right-index", Print(3, 1)});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(Answer(run, "enroll")["reason"], "already_enrolled");
  run = Json({"enroll", "--subject", "mallory", "--finger", "right-index", Print(1, 2)});
  EXPECT_EQ(run.exit_code, 1);
  json = Answer(run, "enroll");
  EXPECT_EQ(json["reason"], "duplicate");
  EXPECT_EQ(json["duplicate_check"]["duplicate_of"]["subject"], "alice");
  EXPECT_GE(json["duplicate_check"]["score"].get<int>(), 325);  // a real duplicate, not a guess

  // verify: the decision, its score and threshold; at the default level the adapter's answer
  // and the engine's score agree.
  run = Json({"verify", "--subject", "alice", "--finger", "right-index", Print(1, 3)});
  EXPECT_EQ(run.exit_code, 0);
  json = Answer(run, "verify");
  EXPECT_EQ(json["decided_by"], "adapter");
  EXPECT_GE(json["score"].get<int>(), json["threshold"].get<int>());
  run = Json({"verify", "--subject", "alice", "--finger", "right-index", Print(2, 2)});
  EXPECT_EQ(run.exit_code, 1);
  json = Answer(run, "verify");
  EXPECT_LT(json["score"].get<int>(), json["threshold"].get<int>());
  // At level 1 a low impostor score still fails; at level 7 the decision is the engine's.
  for (const char* level : {"1", "7"}) {
    run = Json(
        {"--level", level, "verify", "--subject", "alice", "--finger", "right-index", Print(1, 3)});
    json = Answer(run, "verify");
    EXPECT_EQ(json["decided_by"], "engine");
    EXPECT_EQ(json["match"], json["score"].get<int>() >= json["threshold"].get<int>());
    EXPECT_EQ(run.exit_code, json["match"] ? 0 : 1);
  }
  run = Json({"verify", "--subject", "carol", "--finger", "right-index", Print(1, 3)});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(Answer(run, "verify")["reason"], "not_enrolled");

  // identify: the adapter's answer, and with --top the ranking of every record.
  run = Json({"identify", Print(2, 3)});
  EXPECT_EQ(run.exit_code, 0);
  json = Answer(run, "identify");
  EXPECT_EQ(json["subject"], "bob");
  EXPECT_EQ(json["finger"], "left-thumb");
  EXPECT_GE(json["score"].get<int>(), 325);
  run = Json({"identify", "--top", "5", Print(1, 3)});
  EXPECT_EQ(run.exit_code, 0);
  json = Answer(run, "identify");
  EXPECT_EQ(json["decided_by"], "engine");
  ASSERT_EQ(json["candidates"].size(), 2u);  // all the gallery holds
  EXPECT_EQ(json["candidates"][0]["subject"], "alice");
  EXPECT_GE(json["candidates"][0]["score"].get<int>(), json["candidates"][1]["score"].get<int>());
  EXPECT_EQ(json["candidates"][0]["score"], json["score"]);
  run = Json({"identify", Print(3, 2)});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(Answer(run, "identify")["identified"], false);

  // list, check, export, import, rekey, delete.
  json = Answer(Json({"list"}), "list");
  EXPECT_EQ(json["records"].size(), 2u);
  EXPECT_EQ(json["encrypted"], true);
  run = Json({"check"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Answer(run, "check")["ok"], true);
  const std::string copy = db_ + ".copy";
  run = Json({"export", copy});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Answer(run, "export")["records"], 2);
  run = RunToolSplit({"--json", "--db", db_ + ".second", "import", copy});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Answer(run, "import")["imported"], 2);
  run = RunToolSplit({"--json", "--db", db_ + ".second", "rekey"});
  EXPECT_EQ(run.exit_code, 0);
  const std::string new_key = Answer(run, "rekey")["key_file"];
  for (const std::string& file : {copy, db_ + ".second", db_ + ".second.key", new_key}) {
    fs::remove(file);
  }
  run = Json({"delete", "--subject", "bob"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Answer(run, "delete")["deleted"], 1);
  run = Json({"delete", "--subject", "bob"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(Answer(run, "delete")["deleted"], 0);

  // match, version and synth.
  run = Json({"match", Print(1, 2), Print(1, 1)});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Answer(run, "match")["match"], true);
  run = Json({"match", Print(1, 2), Print(2, 1)});
  EXPECT_EQ(run.exit_code, 1);
  Answer(run, "match");
  json = Answer(RunToolSplit({"--version", "--json"}), "version");
  EXPECT_EQ(json["template_format"]["container_version"], 0);
  EXPECT_EQ(json["template_format"]["template_type"], 2001);
  Answer(Json({"synth", "--out", (*prints_ / "more").string(), "--fingers", "1", "--impressions",
               "1"}),
         "synth");
}

TEST_F(RidgelineTranscript, FailuresAreJsonErrorsWithTheirExitCodes) {
  Error(Json({"verify", "--subject", "alice", "--finger", "right-index", Print(1, 1)}), "verify",
        3);  // no gallery yet
  Error(Json({"enroll", "--subject", "alice", "--finger", "toe", Print(1, 1)}), "enroll", 2);
  Error(Json({"enroll", "--subject", "alice", "--finger", "right-index",
              (*prints_ / "missing.png").string()}),
        "enroll", 2);
  Error(Json({"frobnicate"}), "ridgeline", 2);
  Error(Json({"--level", "0", "identify", Print(1, 1)}), "identify", 2);
  Error(Json({"--adapter", "/etc/hostname", "enroll", "--subject", "a", "--finger", "right-index",
              Print(1, 1)}),
        "enroll", 4);
  // Output files that cannot be written are the user's input problem, named, never a raw
  // library exception.
  const std::string blocked = (*prints_ / "001_01.png" / "sub").string();  // under a file
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"extract", Print(1, 1), "--overlay", blocked + "/o.png"},
        std::vector<std::string>{"extract", Print(1, 1), "--stages", blocked},
        std::vector<std::string>{"synth", "--out", blocked, "--fingers", "1"}}) {
    const nlohmann::json json = Error(Json(args), args[0], 2);
    EXPECT_NE(json.value("message", "").find("001_01.png"), std::string::npos) << json.dump();
    EXPECT_EQ(json.value("message", "").find("filesystem error"), std::string::npos);
    const ToolRun text = RunToolSplit(args);
    EXPECT_EQ(text.exit_code, 2);
    EXPECT_EQ(text.err.find("filesystem error"), std::string::npos) << text.err;
  }
  // A damaged stored template is a gallery error, not a bad capture.
  ASSERT_EQ(
      Json({"enroll", "--subject", "alice", "--finger", "right-index", Print(1, 1)}).exit_code, 0);
  {
    Connection db(db_, false);
    db.Execute("UPDATE templates SET template = x'00000000000101d1'");
  }
  const nlohmann::json damaged = Error(
      Json({"verify", "--subject", "alice", "--finger", "right-index", Print(1, 2)}), "verify", 3);
  EXPECT_NE(damaged.value("message", "").find("damaged"), std::string::npos) << damaged.dump();
}

TEST_F(RidgelineTranscript, WithoutDbTheGalleryIsPrivateInTheUsersDataFolder) {
  const fs::path data = *prints_ / "xdg";
  const std::vector<std::string> env = {"XDG_DATA_HOME=" + ShellQuote(data.string())};
  EXPECT_EQ(
      RunToolSplit({"enroll", "--subject", "alice", "--finger", "right-index", Print(1, 1)}, env)
          .exit_code,
      0);
  const fs::path gallery = data / "ridgeline" / "gallery.db";
  ASSERT_TRUE(fs::exists(gallery));
  EXPECT_EQ(fs::status(data).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(gallery.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(gallery).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const ToolRun verified =
      RunToolSplit({"verify", "--subject", "alice", "--finger", "right-index", Print(1, 2)}, env);
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
  EXPECT_NE(RunToolSplit({"list"}, env).out.find("alice"), std::string::npos);
}

// rekey, export and import: each answer in its documented fields, with the keys named as the
// README says (null for plaintext), new files never written over (exit 2), a refused import
// answering with exit 1, and a missing gallery exit 3.
TEST_F(RidgelineTranscript, RekeyExportAndImportAnswerInTheSchemaWithTheirExitCodes) {
  ASSERT_EQ(
      Json({"--plaintext", "enroll", "--subject", "alice", "--finger", "right-index", Print(1, 1)})
          .exit_code,
      0);
  const std::string plain_copy = db_ + ".plain";
  ToolRun run = Json({"export", plain_copy});
  EXPECT_EQ(run.exit_code, 0);
  nlohmann::json json = Answer(run, "export");
  EXPECT_EQ(json["gallery"], db_);
  EXPECT_EQ(json["out"], plain_copy);
  EXPECT_EQ(json["records"], 1);
  EXPECT_TRUE(json["key_file"].is_null());
  const auto copy_size = fs::file_size(plain_copy);
  Error(Json({"export", plain_copy}), "export", 2);
  EXPECT_EQ(fs::file_size(plain_copy), copy_size);
  Error(Json({"export", db_ + ".no-folder/copy.db"}), "export", 2);

  run = Json({"rekey"});
  EXPECT_EQ(run.exit_code, 0);
  json = Answer(run, "rekey");
  EXPECT_EQ(json["gallery"], db_);
  EXPECT_EQ(json["key_file"], db_ + ".key");
  EXPECT_TRUE(json["old_key_file"].is_null());
  Error(Json({"rekey", "--new-key-file", plain_copy}), "rekey", 2);
  EXPECT_EQ(fs::file_size(plain_copy), copy_size);  // not overwritten by a key
  const std::string second_key = db_ + ".key2";
  json = Answer(Json({"rekey", "--new-key-file", second_key}), "rekey");
  EXPECT_EQ(json["key_file"], second_key);
  EXPECT_EQ(json["old_key_file"], db_ + ".key");
  const std::string sealed_copy = db_ + ".sealed";
  json = Answer(Json({"export", sealed_copy}), "export");
  EXPECT_EQ(json["key_file"], second_key);  // the key the copy needs

  const std::string other = db_ + ".other";
  run = RunToolSplit({"--json", "--db", other, "import", plain_copy});
  EXPECT_EQ(run.exit_code, 0);
  json = Answer(run, "import");
  EXPECT_EQ(json["gallery"], other);
  EXPECT_EQ(json["from"], plain_copy);
  EXPECT_EQ(json["imported"], 1);
  run = RunToolSplit({"--json", "--db", other, "import", sealed_copy});  // alice is there already
  EXPECT_EQ(run.exit_code, 1);
  json = Answer(run, "import");
  EXPECT_EQ(json["imported"], 0);
  EXPECT_NE(json.value("message", "").find("alice"), std::string::npos) << json.dump();
  const std::string never = db_ + ".never";
  Error(RunToolSplit({"--json", "--db", never, "import", db_ + ".missing"}), "import", 3);
  EXPECT_FALSE(fs::exists(never));
  Error(RunToolSplit({"--json", "--db", db_ + ".missing", "rekey"}), "rekey", 3);
  Error(RunToolSplit({"--json", "--db", db_ + ".missing", "export", db_ + ".out"}), "export", 3);
  for (const std::string& file :
       {plain_copy, sealed_copy, other, other + ".key", db_ + ".key", second_key}) {
    fs::remove(file);
  }
}

// import, like enroll, may create the default gallery: its folders private, nothing made when
// the import fails.
TEST_F(RidgelineTranscript, ImportIntoTheDefaultGalleryMakesItsFolderPrivately) {
  ASSERT_EQ(
      Json({"enroll", "--subject", "alice", "--finger", "right-index", Print(1, 1)}).exit_code, 0);
  const fs::path data = *prints_ / "xdg-import";
  const std::vector<std::string> env = {"XDG_DATA_HOME=" + ShellQuote(data.string())};
  EXPECT_EQ(RunToolSplit({"import", db_ + ".missing"}, env).exit_code, 3);
  EXPECT_FALSE(fs::exists(data));
  const ToolRun run = RunToolSplit({"--json", "import", db_}, env);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const fs::path gallery = data / "ridgeline" / "gallery.db";
  const nlohmann::json json = Answer(run, "import");
  EXPECT_EQ(json["gallery"], gallery.string());
  EXPECT_EQ(json["imported"], 1);
  EXPECT_EQ(fs::status(data).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(gallery.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(gallery).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const ToolRun verified =
      RunToolSplit({"verify", "--subject", "alice", "--finger", "right-index", Print(1, 2)}, env);
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
  fs::remove_all(data);
}

// extract --frame: the input frame undoes the host's resampling and trimming. A print doubled
// in size and declared (by --dpi) at 1000 dpi reaches the engine as the same capture, so its
// minutiae lie at twice the coordinates of the original's.
TEST_F(RidgelineTranscript, ExtractCoordinatesAreInTheInputFilesPixels) {
  const PrintImage original = ReadPrintImage(Print(1, 1));
  std::vector<uint8_t> doubled(original.pixels.size() * 4);
  for (int y = 0; y < original.height * 2; ++y) {
    for (int x = 0; x < original.width * 2; ++x) {
      doubled[static_cast<size_t>(y) * original.width * 2 + x] = original.at(x / 2, y / 2);
    }
  }
  const fs::path big = *prints_ / "doubled.png";
  WritePng(big, original.width * 2, original.height * 2, 1, doubled);
  const nlohmann::json small = Answer(RunToolSplit({"--json", "extract", Print(1, 1)}), "extract");
  const nlohmann::json large =
      Answer(RunToolSplit({"--json", "--dpi", "1000", "extract", big.string()}), "extract");
  const nlohmann::json engine =
      Answer(RunToolSplit({"--json", "extract", "--frame", "engine", Print(1, 1)}), "extract");
  EXPECT_EQ(small["width"], original.width);
  EXPECT_EQ(large["width"], original.width * 2);
  EXPECT_EQ(large["resolution"], 1000);
  EXPECT_EQ(engine["frame"], "engine");
  EXPECT_EQ(engine["resolution"], 550);
  ASSERT_GT(small["minutiae"].size(), 10u);
  // The same capture reaches the engine, give or take the resampling's rounding: compare the
  // minutiae both keep by their engine-frame neighbours.
  int near = 0;
  for (const auto& a : small["minutiae"]) {
    bool found = false;
    for (const auto& b : large["minutiae"]) {
      found |= std::abs(2 * a["x"].get<int>() - b["x"].get<int>()) <= 6 &&
               std::abs(2 * a["y"].get<int>() - b["y"].get<int>()) <= 6;
    }
    near += found;
  }
  EXPECT_GE(near * 10, static_cast<int>(small["minutiae"].size()) * 8);
  // Every input-frame minutia lies inside the file, and the engine frame is the larger image.
  for (const auto& m : small["minutiae"]) {
    EXPECT_TRUE(m["x"].get<int>() >= 0 && m["x"].get<int>() < original.width) << m.dump();
    EXPECT_TRUE(m["y"].get<int>() >= 0 && m["y"].get<int>() < original.height) << m.dump();
  }
  EXPECT_GT(engine["width"].get<int>(), 0);
}

}  // namespace
}  // namespace ridgeline::tools
