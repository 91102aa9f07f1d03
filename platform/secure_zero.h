// Zero-filling memory that is about to be released: stores the compiler may not remove as dead.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/win_types.h"

#ifndef _WIN32

// The Windows routine of the same name and contract. Returns destination.
inline PVOID SecureZeroMemory(PVOID destination, SIZE_T length) {
  if (length == 0) return destination;
  std::memset(destination, 0, length);
  // The empty assembly statement may read the whole block, so the memset above stays live
  // even when the memory is freed right after.
  __asm__ __volatile__("" : : "r"(destination) : "memory");
  return destination;
}

#endif  // !_WIN32
