#include "tools/cli/default_gallery.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/store/sqlite_handle.h"

namespace ridgeline::tools {

namespace fs = std::filesystem;

fs::path DefaultGalleryPath() {
  auto absolute_env = [](const char* name) -> fs::path {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    return value;
  };
  if (fs::path data = absolute_env("XDG_DATA_HOME"); !data.empty()) {
    return data / "ridgeline" / "gallery.db";
  }
  if (fs::path home = absolute_env("HOME"); !home.empty()) {
    return home / ".local" / "share" / "ridgeline" / "gallery.db";
  }
  return {};
}

void PrepareGalleryFolder(const fs::path& gallery) {
  const fs::path folder = gallery.parent_path();
  if (folder.empty()) return;
  // mkdir with 0700 one level at a time, so that no folder we create is ever readable by
  // others, not even for a moment; existing ones are not touched.
  std::vector<fs::path> missing;
  for (fs::path p = folder; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    std::error_code error;
    if (fs::exists(p, error)) break;
    missing.push_back(p);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
      throw StoreError("cannot create the gallery folder " + it->string() + ": " +
                       std::strerror(errno));
    }
  }
}

}  // namespace ridgeline::tools
