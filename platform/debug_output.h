// The debugger output the adapter's trace goes to. On Windows it is the system's
// OutputDebugStringA. Elsewhere this layer provides it as a sink that is silent by default; the
// environment variable RIDGELINE_TRACE, read once when the library loads, turns it on:
// "stderr" writes to the standard error stream, any other non-empty value names a file that is
// appended to. Every string is written exactly as given (no newline added) and flushed at once.
// Tests capture the strings through a hook. Every call may come from any thread.
#pragma once

#include "platform/win_types.h"

#ifndef _WIN32

void WINAPI OutputDebugStringA(LPCSTR OutputString);

namespace ridgeline::platform {

// Receives each string passed to OutputDebugStringA, before it reaches the sink.
using DebugOutputHook = void (*)(void* user, const char* text);

// Installs hook (null removes it); calls are serialised with the hook's own invocations, so
// after this returns the previous hook is no longer running and will not be called again.
void SetDebugOutputHook(DebugOutputHook hook, void* user);

// The body of OutputDebugStringA. REQUIRES: text != nullptr.
void WriteDebugOutput(const char* text);

}  // namespace ridgeline::platform

#endif  // !_WIN32
