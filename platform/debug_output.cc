// The Linux stand-in for the debugger output: an optional capture hook and the sink chosen by
// RIDGELINE_TRACE when the library is loaded.
#ifndef _WIN32

#include "platform/debug_output.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ridgeline::platform {
namespace {

// Plain constant-initialised state with no destructor: the unload hook's trace still finds it
// intact, and nothing is left allocated when the library is unloaded.
pthread_mutex_t output_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_once_t sink_once = PTHREAD_ONCE_INIT;
DebugOutputHook hook = nullptr;
void* hook_user = nullptr;
std::FILE* sink = nullptr;

void OpenSinkFromEnvironment() {
  const char* target = std::getenv("RIDGELINE_TRACE");
  if (target == nullptr || *target == '\0') return;
  if (std::strcmp(target, "stderr") == 0) {
    sink = stderr;
  } else {
    sink = std::fopen(target, "a");  // an unwritable path leaves the output silent
  }
}

// Reads the switch when the library loads, so that a later change of the environment has no
// effect on a running process. Whichever load hook writes first triggers the same read.
void EnsureSink() { pthread_once(&sink_once, OpenSinkFromEnvironment); }
__attribute__((constructor)) void ReadTraceSwitchAtLoad() { EnsureSink(); }

// Priority 101 runs after the default-priority unload hooks, whose traces still reach the file.
__attribute__((destructor(101))) void CloseSinkAtUnload() {
  pthread_mutex_lock(&output_mutex);
  if (sink != nullptr && sink != stderr) std::fclose(sink);
  sink = nullptr;
  pthread_mutex_unlock(&output_mutex);
}

class OutputLock {
 public:
  OutputLock() { pthread_mutex_lock(&output_mutex); }
  ~OutputLock() { pthread_mutex_unlock(&output_mutex); }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;
};

}  // namespace

void SetDebugOutputHook(DebugOutputHook new_hook, void* user) {
  OutputLock lock;
  hook = new_hook;
  hook_user = user;
}

void WriteDebugOutput(const char* text) {
  EnsureSink();
  OutputLock lock;
  if (hook != nullptr) hook(hook_user, text);
  if (sink != nullptr) {
    std::fputs(text, sink);
    std::fflush(sink);
  }
}

}  // namespace ridgeline::platform

void WINAPI OutputDebugStringA(LPCSTR OutputString) {
  if (OutputString == nullptr) return;
  ridgeline::platform::WriteDebugOutput(OutputString);
}

#endif  // !_WIN32
