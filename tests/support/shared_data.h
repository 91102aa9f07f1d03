// Locating the shared design data (golden vectors, sample prints) beside the repository.
// Tests that need it call GTEST_SKIP() when it is absent.
#pragma once

#include <cstdlib>
#include <filesystem>

namespace ridgeline::testing {

// RIDGELINE_SHARED_DIR from the environment wins over the path compiled in.
inline std::filesystem::path SharedDir() {
  if (const char* env = std::getenv("RIDGELINE_SHARED_DIR"); env != nullptr && *env != '\0') {
    return env;
  }
  return RIDGELINE_SHARED_DIR;
}

inline std::filesystem::path GoldenDir() { return SharedDir() / "golden"; }
inline bool HaveGolden() { return std::filesystem::is_directory(GoldenDir()); }

}  // namespace ridgeline::testing
