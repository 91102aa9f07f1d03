// The Windows base types, result codes and calling convention the adapter is written against.
// On Windows they come from the system headers; elsewhere this header declares them with the
// widths of 64-bit Windows (LLP64: a Windows LONG is 32 bits, never a C++ long).
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

// Only the base system headers, and no min/max macros to break std::min and std::max.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else  // !_WIN32

// x64 compilers ignore __stdcall and a 64-bit process has a single calling convention.
#define WINAPI

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint32_t ULONG32;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint8_t UCHAR;
typedef uint8_t BYTE;
typedef char CHAR;
typedef uint8_t BOOLEAN;
typedef int32_t BOOL;
typedef uint64_t ULONG64;
typedef uint64_t ULONGLONG;
typedef int64_t LONGLONG;
typedef std::size_t SIZE_T;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef void* HANDLE;
typedef void* HINSTANCE;
typedef void* PVOID;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char16_t WCHAR;
typedef const char16_t* LPCWSTR;

typedef ULONG* PULONG;
typedef UCHAR* PUCHAR;
typedef BOOLEAN* PBOOLEAN;
typedef SIZE_T* PSIZE_T;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

// The SDK's anonymous member struct is left out: it is not standard C++.
union LARGE_INTEGER {
  struct {
    uint32_t LowPart;
    int32_t HighPart;
  } u;
  int64_t QuadPart;
};

// All bits set, as ((HANDLE)(LONG_PTR)-1).
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// Reason codes of the library entry routine.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

// Typed constants: a bare 0x80004001L would be a positive 64-bit long here and never equal a
// negative HRESULT.
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

#endif  // _WIN32

#ifndef ARGUMENT_PRESENT
#define ARGUMENT_PRESENT(p) ((p) != nullptr)
#endif

static_assert(sizeof(HRESULT) == 4 && sizeof(ULONG) == 4 && sizeof(USHORT) == 2 &&
              sizeof(UCHAR) == 1);
static_assert(sizeof(BOOLEAN) == 1 && sizeof(BOOL) == 4 && sizeof(SIZE_T) == 8 &&
              sizeof(HANDLE) == 8);
static_assert(sizeof(GUID) == 16 && alignof(GUID) == 4 && sizeof(LARGE_INTEGER) == 8 &&
              alignof(LARGE_INTEGER) == 8);
static_assert(sizeof(ULONG64) == 8 && alignof(ULONG64) == 8);
