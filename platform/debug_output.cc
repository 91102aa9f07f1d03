// The Linux stand-in for the debugger output: an optional capture hook and the sink chosen by
// RIDGELINE_TRACE when the library is loaded.
#ifndef _WIN32

#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace ridgeline::platform {
namespace {

struct DebugOutputState {
  std::mutex mutex;
  DebugOutputHook hook = nullptr;
  void* hook_user = nullptr;
  std::FILE* sink = nullptr;
};

std::FILE* OpenSinkFromEnvironment() {
  const char* target = std::getenv("RIDGELINE_TRACE");
  if (target == nullptr || *target == '\0') return nullptr;
  if (std::strcmp(target, "stderr") == 0) return stderr;
  return std::fopen(target, "a");  // an unwritable path leaves the sink silent
}

// Never destroyed: traces written from the unload hook must still find it after the static
// destructors have run. The file is never closed either; every write is flushed.
DebugOutputState& State() {
  static DebugOutputState* const state = [] {
    auto* created = new DebugOutputState;
    created->sink = OpenSinkFromEnvironment();
    return created;
  }();
  return *state;
}

// Reads the switch when the library loads, so that a later change of the environment has no
// effect on a running process.
__attribute__((constructor)) void ReadTraceSwitchAtLoad() { State(); }

}  // namespace

void SetDebugOutputHook(DebugOutputHook hook, void* user) {
  DebugOutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.hook = hook;
  state.hook_user = user;
}

}  // namespace ridgeline::platform

void WINAPI OutputDebugStringA(LPCSTR OutputString) {
  if (OutputString == nullptr) return;
  auto& state = ridgeline::platform::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.hook != nullptr) state.hook(state.hook_user, OutputString);
  if (state.sink != nullptr) {
    std::fputs(OutputString, state.sink);
    std::fflush(state.sink);
  }
}

#endif  // !_WIN32
