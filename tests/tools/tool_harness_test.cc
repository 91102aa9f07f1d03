// The harness the end-to-end tests stand on: an argument reaches the tool as one word whatever it
// holds (a quoting fault would run part of a file name as a command), scratch folders never
// collide and go away whole, and a writer that finishes before it is killed fails the test
// instead of passing it without having shown anything.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/killed_child.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tool_run.h"

namespace ridgeline::testing {
namespace {

namespace fs = std::filesystem;

TEST(ToolHarness, EveryArgumentReachesTheCommandAsOneWord) {
  ScratchDir dir("ridgeline_harness");
  const fs::path planted = dir / "planted";
  for (const std::string& word :
       {std::string("plain"), std::string("two words"), std::string("it's"),
        std::string("'; touch ") + planted.string() + "; '", std::string("$(touch x) `y` \\ \"z\""),
        std::string("line\nbreak"), std::string()}) {
    SCOPED_TRACE(word);
    const ToolRun run = RunShell("printf '[%s]' " + ShellQuote(word));
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "[" + word + "]");
  }
  EXPECT_FALSE(fs::exists(planted));
}

TEST(ToolHarness, StderrIsKeptApartAndExitCodesAndSignalsComeBack) {
  const ToolRun run = RunShellSplit("echo out; echo err >&2; exit 3");
  EXPECT_EQ(run.out, "out\n");
  EXPECT_EQ(run.err, "err\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(RunShell("kill -9 $$").exit_code, 128 + 9);
}

TEST(ToolHarness, ScratchFoldersAreDistinctAndRemovedWithTheirFiles) {
  fs::path first;
  {
    ScratchDir a("ridgeline_harness");
    ScratchDir b("ridgeline_harness");
    EXPECT_NE(a.path(), b.path());
    EXPECT_TRUE(fs::is_directory(a.path()));
    fs::create_directories(a / "deep" / "er");
    std::ofstream(a.path() / "deep" / "er" / "file") << "x";
    first = a.path();
  }
  EXPECT_FALSE(fs::exists(first));
}

TEST(ToolHarness, KilledWorkMustStillBeRunningWhenKilled) {
  EXPECT_TRUE(KillOnceUnderWay([](int ready) {
    (void)!write(ready, "x", 1);
    for (;;) pause();
  }));
  // Work that ends before it says it is under way shows nothing about an interrupted writer.
  EXPECT_FALSE(KillOnceUnderWay([](int) {}));
}

}  // namespace
}  // namespace ridgeline::testing
