// Whether this test binary is built with AddressSanitizer (g++ says so with a macro, clang with a
// feature test). Such a build runs several times slower: long tests size their work down there,
// and the runs over the shared print databases wait to be asked for.
#pragma once

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define RIDGELINE_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RIDGELINE_TEST_ASAN 1
#endif
#endif

namespace ridgeline::testing {

#ifdef RIDGELINE_TEST_ASAN
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif

// False in a sanitizer build unless RIDGELINE_REAL_PRINTS is set (non-empty).
inline bool RunRealPrints() {
  const char* wanted = std::getenv("RIDGELINE_REAL_PRINTS");
  return !kSanitizedBuild || (wanted != nullptr && *wanted != '\0');
}

}  // namespace ridgeline::testing
