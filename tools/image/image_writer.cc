#include "tools/image/image_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ridgeline::tools {

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  const std::string name = path.string();
  auto fail = [&](const std::string& what) {
    return InputError(name + ": cannot write the file (" + what + ")");
  };
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw fail("it is a directory");
  const std::filesystem::path directory =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  // mkstemp creates the file new (never through an existing name) with mode 0600.
  // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on "." + a moved string.
  std::string leaf = ".";
  leaf += path.filename().string();
  leaf += ".XXXXXX";
  std::string temporary = (directory / leaf).string();
  const int fd = mkstemp(temporary.data());
  if (fd < 0) throw fail(std::strerror(errno));
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string reason = std::strerror(errno);
      ::close(fd);
      ::unlink(temporary.c_str());
      throw fail(reason);
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || std::rename(temporary.c_str(), name.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    ::unlink(temporary.c_str());
    throw fail(reason);
  }
}

}  // namespace ridgeline::tools
