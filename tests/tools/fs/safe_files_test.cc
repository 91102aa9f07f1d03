// Output safety against another local user: links planted in place of an output, folders made
// first by someone else, and temporary folders that must vanish on exit and on signals.
// Planting a link "by another user" needs root (to give the link away); those cases skip
// without it.
#include "tools/fs/safe_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;  // nobody

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(PrivateTempDir, IsFreshPrivateAndRemovedWithItsFiles) {
  fs::path kept;
  {
    PrivateTempDir a("ridgeline-test");
    PrivateTempDir b("ridgeline-test");
    EXPECT_NE(a.path(), b.path());
    struct stat info {};
    ASSERT_EQ(stat(a.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    UniqueFile file = CreatePrivateFile(a.path() / "x");
    WriteAll(file.get(), Bytes("data"), a.path() / "x");
    ASSERT_EQ(stat((a.path() / "x").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Nothing in a private folder may exist already, link or file.
    EXPECT_THROW(CreatePrivateFile(a.path() / "x"), OutputError);
    fs::create_symlink("/nonexistent-target", a.path() / "link");
    EXPECT_THROW(CreatePrivateFile(a.path() / "link"), OutputError);
    EXPECT_FALSE(fs::exists("/nonexistent-target"));
    kept = a.path();
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(PrivateTempDir, SignalRemovesTheFolderAndEndsTheProcessAsTheSignalWould) {
  for (const int signal_number : {SIGINT, SIGTERM}) {
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(channel[0]);
      PrivateTempDir dir("ridgeline-signal");
      CreatePrivateFile(dir.path() / "work");
      const std::string path = dir.path().string() + "\n";
      (void)!write(channel[1], path.data(), path.size());
      for (;;) pause();
    }
    close(channel[1]);
    std::string path;
    char c;
    while (read(channel[0], &c, 1) == 1 && c != '\n') path += c;
    close(channel[0]);
    ASSERT_TRUE(fs::exists(path));
    kill(child, signal_number);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number);
    EXPECT_FALSE(fs::exists(path)) << path;
  }
}

class OutputFiles : public ::testing::Test {
 protected:
  // A pre-created folder standing for a shared place such as /tmp.
  OutputFiles() : dir_("ridgeline-output-test") {
    victim_ = dir_.path() / "victim";
    std::ofstream(victim_) << "precious";
  }
  // A link at `name` pointing to the victim, given to another user when we can.
  fs::path Plant(const std::string& name, bool other_user) {
    const fs::path link = dir_.path() / name;
    fs::create_symlink(victim_, link);
    if (other_user && lchown(link.c_str(), kOtherUser, kOtherUser) != 0) return {};
    return link;
  }
  PrivateTempDir dir_;
  fs::path victim_;
};

TEST_F(OutputFiles, LinkPlantedByAnotherUserIsNeverFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
  const fs::path planted = Plant("overlay.png", true);
  ASSERT_FALSE(planted.empty());
  try {
    WriteOutputFile(planted, Bytes("overwritten"));
    ADD_FAILURE() << "followed a planted link";
  } catch (const OutputError& error) {
    EXPECT_NE(std::string(error.what()).find("another user"), std::string::npos);
  }
  EXPECT_EQ(Contents(victim_), "precious");
}

TEST_F(OutputFiles, LinkTheUserMadeIsFollowedAndPlainFilesAreReplaced) {
  WriteOutputFile(Plant("mine.png", false), Bytes("new"));
  EXPECT_EQ(Contents(victim_), "new");
  const fs::path plain = dir_.path() / "plain.png";
  std::ofstream(plain) << "a much longer old content";
  WriteOutputFile(plain, Bytes("short"));
  EXPECT_EQ(Contents(plain), "short");  // truncated, not overlaid
  ASSERT_EQ(mkfifo((dir_.path() / "fifo").c_str(), 0600), 0);
  EXPECT_THROW(WriteOutputFile(dir_.path() / "fifo", Bytes("x")), OutputError);
  EXPECT_THROW(WriteOutputFile(dir_.path(), Bytes("x")), OutputError);
}

TEST_F(OutputFiles, FoldersOfOtherUsersOrOpenToAllAreRefused) {
  const fs::path made = dir_.path() / "stages" / "deeper";
  PrepareOutputFolder(made);
  struct stat info {};
  ASSERT_EQ(stat(made.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  PrepareOutputFolder(made);  // an existing folder of ours is fine

  const fs::path open_to_all = dir_.path() / "shared";
  fs::create_directory(open_to_all);
  chmod(open_to_all.c_str(), 0777);
  EXPECT_THROW(PrepareOutputFolder(open_to_all), OutputError);
  std::ofstream(dir_.path() / "file") << "x";
  EXPECT_THROW(PrepareOutputFolder(dir_.path() / "file"), OutputError);

  if (geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
  const fs::path theirs = dir_.path() / "theirs";
  fs::create_directory(theirs);
  ASSERT_EQ(chown(theirs.c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_THROW(PrepareOutputFolder(theirs), OutputError);
  const fs::path link_to_theirs = dir_.path() / "link";
  fs::create_directory_symlink(made, link_to_theirs);
  ASSERT_EQ(lchown(link_to_theirs.c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_THROW(PrepareOutputFolder(link_to_theirs), OutputError);
}

}  // namespace
}  // namespace ridgeline::tools
