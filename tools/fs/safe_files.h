// Where the tools write: private temporary folders and output files that cannot be redirected
// by another local user. The rules, in one place for every tool:
//
// - Temporary work goes into a folder made by mkdtemp (mode 0700, a fresh unpredictable name),
//   removed with everything in it when its owner goes out of scope, and also when the process
//   is stopped by SIGINT, SIGTERM or SIGHUP. Files in it are created with O_EXCL and
//   O_NOFOLLOW: nothing there can already exist.
// - An output the user names (--overlay FILE, --stages DIR, --out DIR) may be a symbolic link
//   only when the link belongs to the user running the tool (or to root): then the user made
//   it, and following it is what they asked for. A link owned by anyone else is refused as
//   planted. A folder the user names must be theirs (or root's) and not writable by every
//   user, since otherwise anyone could plant links inside it.
// - Every file is created with mode 0600 and must be a regular file (never a FIFO or device).
//
// Failures throw OutputError with a message naming the path.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

namespace ridgeline::tools {

// An output that cannot be written safely; the tool reports it as bad input (exit 2).
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A folder made by mkdtemp under the system's temporary folder, named PREFIX-XXXXXX. Removed on
// destruction (unless Keep()) and on SIGINT/SIGTERM/SIGHUP, after which the process ends with
// the signal's usual status.
class PrivateTempDir {
 public:
  explicit PrivateTempDir(const std::string& prefix);
  ~PrivateTempDir();
  PrivateTempDir(const PrivateTempDir&) = delete;
  PrivateTempDir& operator=(const PrivateTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Leaves the folder in place (the user asked to keep it).
  void Keep();

 private:
  std::filesystem::path path_;
  bool keep_ = false;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Creates a new file in a folder the process made itself: O_CREAT | O_EXCL | O_NOFOLLOW, 0600.
UniqueFile CreatePrivateFile(const std::filesystem::path& path);

// Opens a user-named output file for writing (truncating it), under the rules above.
UniqueFile OpenOutputFile(const std::filesystem::path& path);

// Makes a user-named output folder (0700) or checks an existing one under the rules above.
void PrepareOutputFolder(const std::filesystem::path& path);

// Writes `bytes` to a user-named output file and checks that they all reached it.
void WriteOutputFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// Writes and flushes, throwing OutputError naming `path` on any failure.
void WriteAll(std::FILE* file, std::span<const uint8_t> bytes, const std::filesystem::path& path);

}  // namespace ridgeline::tools
