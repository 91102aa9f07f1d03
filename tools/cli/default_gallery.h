// Where the gallery lives when --db is not given: $XDG_DATA_HOME/ridgeline/gallery.db when that
// variable holds an absolute path (the XDG rule: a relative one is ignored), else
// ~/.local/share/ridgeline/gallery.db.
#pragma once

#include <filesystem>

namespace ridgeline::tools {

// Empty when neither XDG_DATA_HOME nor HOME gives an absolute path.
std::filesystem::path DefaultGalleryPath();

// Creates the gallery's folder (and any missing parent) for a new gallery; the folders it
// creates are private (0700). A folder that exists is left as it is. Throws StoreError naming
// the folder when it cannot be made.
void PrepareGalleryFolder(const std::filesystem::path& gallery);

}  // namespace ridgeline::tools
