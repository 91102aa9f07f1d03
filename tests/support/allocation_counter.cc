// The test binary's replacement of the plain and array operator new and delete: malloc and free,
// with a count. Kept in a file of its own so no caller inlines the pairing of new with free.
#include "tests/support/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/support/sanitizer_build.h"

// AddressSanitizer keeps its own operator new and checks that each block is released by the
// matching form; a replacement here would pair its blocks with free. Under it nothing is counted.
#ifndef RIDGELINE_TEST_ASAN
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace ridgeline::testing {

#ifdef RIDGELINE_TEST_ASAN
long AllocationCount() { return -1; }
#else
long AllocationCount() { return g_allocations.load(); }
#endif

}  // namespace ridgeline::testing
