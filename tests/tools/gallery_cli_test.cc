// The gallery as a user meets it through `ridgeline`, on the shared prints: a mixed-finger
// enrollment refused with the odd impression named, concurrent enrollments of one print under
// many names storing exactly one, names that look the same being one subject, unsafe names
// refused, a damaged record skipped by identify and flagged by list and check, and an
// encrypted gallery without its key refused without loss.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/support/scratch_dir.h"
#include "tests/support/shared_data.h"
#include "tests/support/tool_run.h"
#include "tools/store/sqlite_handle.h"
#include "tools/store/subject_name.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

using ridgeline::testing::RunTool;
using ridgeline::testing::ToolCommand;
using ridgeline::testing::ToolRun;

class GalleryCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    prints_ = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B";
    if (!fs::exists(prints_ / "101_1.tif")) GTEST_SKIP() << "no shared prints";
  }
  std::string Print(const std::string& name) const { return (prints_ / (name + ".tif")).string(); }
  std::string Db() const { return (dir_ / "gallery.db").string(); }
  ToolRun Enroll(const std::string& subject, std::vector<std::string> images) {
    std::vector<std::string> args = {"--db",  Db(),       "enroll",     "--subject",
                                     subject, "--finger", "right-index"};
    for (const std::string& image : images) args.push_back(Print(image));
    return RunTool(args);
  }
  size_t Stored() {
    const ToolRun list = RunTool({"--db", Db(), "--json", "list"});
    if (list.exit_code != 0) return 0;
    return nlohmann::json::parse(list.out.substr(list.out.find('{')))["records"].size();
  }

  fs::path prints_;
  ridgeline::testing::ScratchDir scratch_{"ridgeline_gallery_cli"};
  const fs::path dir_ = scratch_.path();
};

TEST_F(GalleryCommand, MixedFingerEnrollmentIsRefusedNamingTheOddImpression) {
  const ToolRun mixed = Enroll("carol", {"105_1", "106_1"});
  EXPECT_EQ(mixed.exit_code, 1) << mixed.out;
  EXPECT_NE(mixed.out.find("impression 2 (" + Print("106_1") + ") does not match impression 1"),
            std::string::npos)
      << mixed.out;
  EXPECT_FALSE(fs::exists(Db()));  // nothing stored, not even an empty gallery
  // Three impressions, the middle one foreign: it is the one named.
  const ToolRun middle = Enroll("carol", {"105_1", "106_1", "105_2"});
  EXPECT_EQ(middle.exit_code, 1);
  EXPECT_NE(
      middle.out.find("impression 2 (" + Print("106_1") + ") does not match impressions 1 or 3"),
      std::string::npos)
      << middle.out;
  // The caller may vouch for the prints.
  std::vector<std::string> args = {
      "--db",  Db(),       "enroll",      "--no-consistency-check", "--subject",
      "carol", "--finger", "right-index", Print("105_1"),           Print("106_1")};
  EXPECT_EQ(RunTool(args).exit_code, 0);
  EXPECT_EQ(Enroll("dave", {"107_1", "107_2"}).exit_code, 0);
  EXPECT_EQ(Stored(), 2u);
}

TEST_F(GalleryCommand, ConcurrentEnrollmentsOfOnePrintStoreExactlyOne) {
  constexpr int kWriters = 4;
  constexpr int kRounds = 4;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<FILE*> running;
    for (int w = 0; w < kWriters; ++w) {
      const std::string command =
          ToolCommand({"--db", Db(), "enroll", "--subject", "name" + std::to_string(w), "--finger",
                       "right-index", Print("103_1")}) +
          " >/dev/null 2>&1";
      running.push_back(popen(command.c_str(), "r"));
    }
    int stored = 0;
    for (FILE* process : running) {
      const int status = pclose(process);
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      EXPECT_TRUE(code == 0 || code == 1) << "exit " << code;
      stored += code == 0;
    }
    EXPECT_EQ(stored, 1) << "round " << round;
    const ToolRun list = RunTool({"--db", Db(), "--json", "list"});
    const auto records = nlohmann::json::parse(list.out.substr(list.out.find('{')))["records"];
    ASSERT_EQ(records.size(), 1u) << "round " << round << ": " << list.out;
    // Name and template were stored together: the record carries its subject's name.
    EXPECT_EQ(records[0]["subject"].get<std::string>().rfind("name", 0), 0u) << list.out;
    EXPECT_EQ(
        RunTool({"--db", Db(), "delete", "--subject", records[0]["subject"].get<std::string>()})
            .exit_code,
        0);
  }
}

TEST_F(GalleryCommand, NamesThatLookTheSameAreOneSubjectAndUnsafeNamesAreRefused) {
  ASSERT_EQ(Enroll(" Zo\xC3\xAB  ", {"104_1"}).exit_code, 0);
  // Trailing space, NFD: the same subject.
  const ToolRun verify = RunTool({"--db", Db(), "verify", "--subject", "Zoe\xCC\x88", "--finger",
                                  "right-index", Print("104_2")});
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  const ToolRun again = Enroll("Zo\xC3\xAB", {"104_3"});
  EXPECT_EQ(again.exit_code, 1) << again.out;  // already enrolled
  for (const std::string& bad : {std::string("ev\x1B[2Jil"), std::string(5000, 'x'),
                                 std::string("   "), std::string("a\nb")}) {
    const ToolRun refused = Enroll(bad, {"105_1"});
    EXPECT_EQ(refused.exit_code, 2) << PrintableText(bad);
    EXPECT_EQ(refused.out.find('\x1B'), std::string::npos);  // never echoed raw
  }
  // A wide name keeps the columns aligned by display width.
  ASSERT_EQ(Enroll("\xE5\xB1\xB1\xE7\x94\xB0", {"106_1"}).exit_code, 0);  // two CJK letters
  const ToolRun list = RunTool({"--db", Db(), "list"});
  std::vector<size_t> finger_columns;
  size_t start = 0;
  while (start < list.out.size()) {
    const size_t end = list.out.find('\n', start);
    const std::string line = list.out.substr(start, end - start);
    const size_t at = line.find("right-index") != std::string::npos ? line.find("right-index")
                                                                    : line.find("FINGER");
    if (at != std::string::npos) finger_columns.push_back(DisplayWidth(line.substr(0, at)));
    start = end == std::string::npos ? list.out.size() : end + 1;
  }
  ASSERT_EQ(finger_columns.size(), 3u) << list.out;
  EXPECT_EQ(finger_columns[0], finger_columns[1]) << list.out;
  EXPECT_EQ(finger_columns[0], finger_columns[2]) << list.out;
}

TEST_F(GalleryCommand, DamagedRecordIsSkippedFlaggedAndChecked) {
  ASSERT_EQ(Enroll("alice", {"101_1", "101_2"}).exit_code, 0);
  ASSERT_EQ(Enroll("bob", {"102_1", "102_2"}).exit_code, 0);
  {
    Connection raw(Db(), false);
    raw.Execute(
        "UPDATE templates SET template = x'01020304' WHERE identity = "
        "(SELECT identity FROM subjects WHERE name = 'alice')");
  }
  const ToolRun identify = RunTool({"--db", Db(), "identify", Print("102_3")});
  EXPECT_EQ(identify.exit_code, 0) << identify.out;
  EXPECT_NE(identify.out.find("bob"), std::string::npos);
  size_t warnings = 0;
  for (size_t at = 0;
       (at = identify.out.find("damaged record of alice right-index", at)) != std::string::npos;
       ++at) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 1u) << identify.out;
  EXPECT_EQ(RunTool({"--db", Db(), "identify", Print("101_3")}).exit_code, 1);
  const ToolRun verify = RunTool(
      {"--db", Db(), "verify", "--subject", "alice", "--finger", "right-index", Print("101_3")});
  EXPECT_EQ(verify.exit_code, 3) << verify.out;
  EXPECT_EQ(RunTool({"--db", Db(), "verify", "--subject", "bob", "--finger", "right-index",
                     Print("102_3")})
                .exit_code,
            0);
  const ToolRun list = RunTool({"--db", Db(), "list"});
  EXPECT_NE(list.out.find("DAMAGED"), std::string::npos) << list.out;
  const ToolRun check = RunTool({"--db", Db(), "check"});
  EXPECT_EQ(check.exit_code, 3);
  EXPECT_NE(check.out.find("damaged: alice right-index"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("ridgeline delete"), std::string::npos) << check.out;
  // After the advice is followed the gallery checks clean.
  EXPECT_EQ(
      RunTool({"--db", Db(), "delete", "--subject", "alice", "--finger", "right-index"}).exit_code,
      0);
  EXPECT_EQ(RunTool({"--db", Db(), "check"}).exit_code, 0);
}

TEST_F(GalleryCommand, KeylessGalleryIsRefusedAndRekeyExportImportRoundTrip) {
  ASSERT_EQ(Enroll("alice", {"101_1", "101_2"}).exit_code, 0);
  fs::rename(Db() + ".key", dir_ / "moved.key");
  const ToolRun keyless = RunTool({"--db", Db(), "list"});
  EXPECT_EQ(keyless.exit_code, 3);
  EXPECT_NE(keyless.out.find("key file is missing"), std::string::npos) << keyless.out;
  const std::string moved_key = (dir_ / "moved.key").string();
  EXPECT_EQ(RunTool({"--db", Db(), "--key-file", moved_key, "check"}).exit_code, 0);
  setenv("RIDGELINE_KEY_FILE", moved_key.c_str(), 1);
  EXPECT_EQ(RunTool({"--db", Db(), "verify", "--subject", "alice", "--finger", "right-index",
                     Print("101_3")})
                .exit_code,
            0);
  unsetenv("RIDGELINE_KEY_FILE");

  // A plaintext gallery is encrypted by rekey; export and import move its subjects.
  const std::string plain = (dir_ / "plain.db").string();
  ASSERT_EQ(RunTool({"--db", plain, "--plaintext", "enroll", "--subject", "bob", "--finger",
                     "left-thumb", Print("102_1")})
                .exit_code,
            0);
  EXPECT_FALSE(fs::exists(plain + ".key"));
  EXPECT_EQ(RunTool({"--db", plain, "rekey"}).exit_code, 0);
  EXPECT_TRUE(fs::exists(plain + ".key"));
  const std::string copy = (dir_ / "copy.db").string();
  EXPECT_EQ(RunTool({"--db", plain, "export", copy}).exit_code, 0);
  EXPECT_EQ(RunTool({"--db", plain, "export", copy}).exit_code,
            2);  // never overwrites: an output problem
  EXPECT_EQ(RunTool({"--db", Db(), "--key-file", moved_key, "import", copy}).exit_code, 0);
  EXPECT_EQ(RunTool({"--db", Db(), "--key-file", moved_key, "import", copy}).exit_code, 1);
  EXPECT_EQ(RunTool({"--db", Db(), "--key-file", moved_key, "verify", "--subject", "bob",
                     "--finger", "left-thumb", Print("102_2")})
                .exit_code,
            0);
}

}  // namespace
}  // namespace ridgeline::tools
