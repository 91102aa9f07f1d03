// The key that seals a gallery's templates: 32 random bytes in a key file of their own, created
// private (0600) beside the gallery unless the user names another place. The key never enters
// the gallery; the gallery records only where the key file is and a check value that tells the
// right key from a wrong one without decrypting anything.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "tools/store/sqlite_handle.h"

namespace ridgeline::tools {

constexpr size_t kGalleryKeyBytes = 32;

// Overwrites size bytes at data in a way the compiler may not drop.
void WipeBytes(void* data, size_t size);

// A key held in memory; wiped when destroyed.
class GalleryKey {
 public:
  GalleryKey() = default;
  ~GalleryKey() { WipeBytes(bytes_.data(), bytes_.size()); }
  GalleryKey(const GalleryKey&) = delete;
  GalleryKey& operator=(const GalleryKey&) = delete;

  // Fills the key with random bytes.
  void Randomise();
  const uint8_t* data() const { return bytes_.data(); }
  uint8_t* data() { return bytes_.data(); }

  // A value derived from the key (a keyed hash of a fixed text): equal for the same key, and
  // useless to anyone who wants the key back.
  std::array<uint8_t, 32> CheckValue() const;

 private:
  std::array<uint8_t, kGalleryKeyBytes> bytes_{};
};

// A key file that is missing, unreadable, of the wrong size or not the gallery's key. The
// gallery itself is untouched when this is thrown.
class KeyFileError : public StoreError {
 public:
  using StoreError::StoreError;
};

// Reads the key at path. Throws KeyFileError naming the file and the trouble.
void ReadKeyFile(const std::filesystem::path& path, GalleryKey* key);

// Writes key to a new file at path, 0600, refusing to follow a symbolic link or to replace an
// existing file, and makes it durable (the file and its folder synced) before returning.
// Throws KeyFileError.
void WriteNewKeyFile(const std::filesystem::path& path, const GalleryKey& key);

}  // namespace ridgeline::tools
