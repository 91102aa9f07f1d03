// Whether this test binary is built with AddressSanitizer (g++ says so with a macro, clang with a
// feature test). Such a build runs several times slower: long tests size their work down there.
#pragma once

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

}  // namespace ridgeline::testing
