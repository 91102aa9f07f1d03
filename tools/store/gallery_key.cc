#include "tools/store/gallery_key.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace ridgeline::tools {
namespace {

void InitialiseSodium() {
  if (sodium_init() < 0) throw StoreError("the cryptographic library cannot start");
}

std::string Reason(int error) { return std::strerror(error); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

void WipeBytes(void* data, size_t size) { sodium_memzero(data, size); }

void GalleryKey::Randomise() {
  InitialiseSodium();
  randombytes_buf(bytes_.data(), bytes_.size());
}

std::array<uint8_t, 32> GalleryKey::CheckValue() const {
  static constexpr char kText[] = "ridgeline gallery key check 1";
  std::array<uint8_t, 32> check{};
  crypto_generichash(check.data(), check.size(), reinterpret_cast<const uint8_t*>(kText),
                     sizeof kText - 1, bytes_.data(), bytes_.size());
  return check;
}

void ReadKeyFile(const std::filesystem::path& path, GalleryKey* key) {
  const std::string name = path.string();
  FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    const int error = errno;
    if (error == ENOENT) throw KeyFileError(name + ": the gallery's key file is missing");
    if (error == EACCES) throw KeyFileError(name + ": permission denied reading the key file");
    throw KeyFileError(name + ": cannot open the key file (" + Reason(error) + ")");
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw KeyFileError(name + ": the key file is not a regular file");
  }
  if (info.st_size != static_cast<off_t>(kGalleryKeyBytes)) {
    throw KeyFileError(name + ": the key file is damaged or truncated (" +
                       std::to_string(info.st_size) + " bytes; a key has " +
                       std::to_string(kGalleryKeyBytes) + ")");
  }
  size_t have = 0;
  while (have < kGalleryKeyBytes) {
    const ssize_t got = ::read(fd.get(), key->data() + have, kGalleryKeyBytes - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw KeyFileError(name + ": cannot read the key file");
    have += static_cast<size_t>(got);
  }
}

void WriteNewKeyFile(const std::filesystem::path& path, const GalleryKey& key) {
  const std::string name = path.string();
  FileDescriptor fd(
      ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    const int error = errno;
    if (error == EACCES) throw KeyFileError(name + ": permission denied creating the key file");
    throw KeyFileError(name + ": cannot create the key file (" + Reason(error) + ")");
  }
  size_t done = 0;
  while (done < kGalleryKeyBytes) {
    const ssize_t wrote = ::write(fd.get(), key.data() + done, kGalleryKeyBytes - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      ::unlink(name.c_str());
      throw KeyFileError(name + ": cannot write the key file");
    }
    done += static_cast<size_t>(wrote);
  }
  if (::fsync(fd.get()) != 0) {
    ::unlink(name.c_str());
    throw KeyFileError(name + ": cannot write the key file to disk");
  }
  // The gallery will name this file once its transaction commits: the name must be durable too.
  const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace ridgeline::tools
