// The library's single export: the query that hands the service the constant interface table.
#pragma once

#include "platform/winbio_types.h"

#if defined(_WIN32)
#define RIDGELINE_EXPORT __declspec(dllexport)
#else
#define RIDGELINE_EXPORT __attribute__((visibility("default")))
#endif

// Stores the address of the constant engine interface table (version 1.0, 360 bytes, slots 1
// to 21 filled) in *EngineInterface and returns S_OK; a null argument gives E_POINTER. The
// table is read-only: the service must not write through the pointer.
extern "C" RIDGELINE_EXPORT HRESULT WINAPI
WbioQueryEngineInterface(PWINBIO_ENGINE_INTERFACE* EngineInterface);

namespace ridgeline {

// The adapter's own fixed identifiers: the AdapterId of the interface table and the vendor
// format reported by EngineAdapterQueryPreferredFormat.
constexpr GUID kEngineAdapterId = {
    0xdb0111e7, 0x1f7a, 0x41c8, {0x9c, 0xad, 0x26, 0x53, 0x20, 0x16, 0x53, 0x44}};
constexpr GUID kVendorFormatId = {
    0x395bb53b, 0x0360, 0x48cc, {0xa6, 0x16, 0x5c, 0xfa, 0x66, 0x05, 0xf8, 0x68}};

}  // namespace ridgeline
