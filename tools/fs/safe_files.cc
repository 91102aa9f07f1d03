#include "tools/fs/safe_files.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

std::string Reason() { return std::strerror(errno); }

// The folders to remove if a signal stops the process. A watcher thread takes the signals
// with sigwait, so the removal runs as ordinary code rather than inside a signal handler.
class SignalCleanup {
 public:
  static SignalCleanup& Instance() {
    static SignalCleanup* instance = new SignalCleanup;  // lives until the process ends
    instance->EnsureWatcher();
    return *instance;
  }
  void Add(const fs::path& path) {
    std::lock_guard lock(mutex_);
    folders_.insert(path);
  }
  void Remove(const fs::path& path) {
    std::lock_guard lock(mutex_);
    folders_.erase(path);
  }

 private:
  // One watcher per process: a child made by fork has no threads but its parent's caller, and
  // the parent's folders are not its own to remove.
  void EnsureWatcher() {
    std::lock_guard lock(mutex_);
    if (watcher_pid_ == getpid()) return;
    watcher_pid_ = getpid();
    folders_.clear();
    // Threads started from here on inherit the mask; the watcher is the one that takes them.
    sigset_t signals = Signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([this] { Watch(); }).detach();
  }
  static sigset_t Signals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
  }
  void Watch() {
    const sigset_t signals = Signals();
    int signal_number = 0;
    while (sigwait(&signals, &signal_number) != 0) {
    }
    {
      std::lock_guard lock(mutex_);
      for (const fs::path& folder : folders_) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
      }
    }
    // End as the signal would have: default action, unblocked, raised again.
    std::signal(signal_number, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);
  }

  std::mutex mutex_;
  pid_t watcher_pid_ = 0;
  std::set<fs::path> folders_;
};

// A symbolic link or folder the user may rely on: made by them or by root.
bool OwnedByUserOrRoot(const struct stat& info) {
  return info.st_uid == geteuid() || info.st_uid == 0;
}

UniqueFile Adopt(int fd, const fs::path& path) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    throw OutputError(path.string() + ": not a regular file; refusing to write to it");
  }
  // Opened non-blocking so that a FIFO could not stall the open; plain writes from here on.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
    throw OutputError(path.string() + ": cannot open for writing (" + Reason() + ")");
  }
  return UniqueFile(file);
}

}  // namespace

PrivateTempDir::PrivateTempDir(const std::string& prefix) {
  SignalCleanup::Instance();  // before the folder exists, so no signal can strand it
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw OutputError("cannot make a private temporary folder " + pattern + " (" + Reason() + ")");
  }
  path_ = pattern;
  SignalCleanup::Instance().Add(path_);
}

PrivateTempDir::~PrivateTempDir() {
  SignalCleanup::Instance().Remove(path_);
  if (keep_) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void PrivateTempDir::Keep() {
  keep_ = true;
  SignalCleanup::Instance().Remove(path_);
}

UniqueFile CreatePrivateFile(const fs::path& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw OutputError(path.string() + ": cannot create (" + Reason() + ")");
  return Adopt(fd, path);
}

UniqueFile OpenOutputFile(const fs::path& path) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path.c_str(), kFlags | O_NOFOLLOW, 0600);
  if (fd < 0 && errno == ELOOP) {
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
      throw OutputError(path.string() + ": cannot open for writing (" + Reason() + ")");
    }
    if (!OwnedByUserOrRoot(link)) {
      throw OutputError(path.string() +
                        ": is a symbolic link made by another user; refusing to follow it");
    }
    fd = open(path.c_str(), kFlags, 0600);
  }
  if (fd < 0) throw OutputError(path.string() + ": cannot open for writing (" + Reason() + ")");
  UniqueFile file = Adopt(fd, path);
  if (ftruncate(fileno(file.get()), 0) != 0) {
    throw OutputError(path.string() + ": cannot truncate (" + Reason() + ")");
  }
  return file;
}

void PrepareOutputFolder(const fs::path& path) {
  if (mkdir(path.c_str(), 0700) == 0) return;
  if (errno == ENOENT) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (!error && mkdir(path.c_str(), 0700) == 0) return;
  }
  if (errno != EEXIST) {
    throw OutputError(path.string() + ": cannot make the folder (" + Reason() + ")");
  }
  struct stat link {};
  struct stat folder {};
  if (lstat(path.c_str(), &link) != 0 || stat(path.c_str(), &folder) != 0) {
    throw OutputError(path.string() + ": cannot use the folder (" + Reason() + ")");
  }
  if (S_ISLNK(link.st_mode) && !OwnedByUserOrRoot(link)) {
    throw OutputError(path.string() +
                      ": is a symbolic link made by another user; refusing to follow it");
  }
  if (!S_ISDIR(folder.st_mode)) throw OutputError(path.string() + ": exists and is not a folder");
  if (!OwnedByUserOrRoot(folder) || (folder.st_mode & S_IWOTH) != 0) {
    throw OutputError(path.string() +
                      ": the folder belongs to another user or others may write into it; "
                      "name a folder of your own");
  }
}

void WriteAll(std::FILE* file, std::span<const uint8_t> bytes, const fs::path& path) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0) {
    throw OutputError(path.string() + ": cannot write (" + Reason() + ")");
  }
}

void WriteOutputFile(const fs::path& path, std::span<const uint8_t> bytes) {
  UniqueFile file = OpenOutputFile(path);
  WriteAll(file.get(), bytes, path);
}

}  // namespace ridgeline::tools
