// Capturing the debugger output of the loaded adapter: exception handler on Windows, the
// stand-in's file sink elsewhere.
#include "tools/wintest/debug_output_capture.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#ifdef _WIN32
#include "platform/win_types.h"
#else
#include <unistd.h>
#endif

namespace ridgeline::wintest {

#ifdef _WIN32

namespace {

std::mutex captured_mutex;
std::string captured;
PVOID handler_cookie = nullptr;

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the byte count (terminator included) and
// the address of the text; the wide form carries the same text as its second pair.
LONG CALLBACK CaptureDebugString(PEXCEPTION_POINTERS info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  size_t first = 0;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
    first = 0;
  } else if (record->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C && record->NumberParameters >= 4) {
    first = 2;
  } else {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const size_t bytes = static_cast<size_t>(record->ExceptionInformation[first]);
  const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[first + 1]);
  if (text != nullptr && bytes > 0) {
    std::lock_guard<std::mutex> lock(captured_mutex);
    captured.append(text, bytes - 1);
  }
  // Handled as a debugger would: the call returns without falling back to other channels.
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool DebugOutputCapture::Start(std::string* error) {
  if (started_) return true;
  handler_cookie = AddVectoredExceptionHandler(1, CaptureDebugString);
  if (handler_cookie == nullptr) {
    *error = "AddVectoredExceptionHandler failed";
    return false;
  }
  started_ = true;
  return true;
}

std::string DebugOutputCapture::Take() {
  std::lock_guard<std::mutex> lock(captured_mutex);
  std::string text;
  text.swap(captured);
  return text;
}

void DebugOutputCapture::Stop() {
  if (!started_) return;
  RemoveVectoredExceptionHandler(handler_cookie);
  handler_cookie = nullptr;
  started_ = false;
}

#else

bool DebugOutputCapture::Start(std::string* error) {
  if (started_) return true;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/ridgeline-wintest-trace-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) {
    *error = "cannot create a temporary file for the trace";
    return false;
  }
  close(fd);
  path_ = pattern;
  offset_ = 0;
  // The stand-in reads the switch once, when the library loads.
  setenv("RIDGELINE_TRACE", path_.c_str(), 1);
  started_ = true;
  return true;
}

std::string DebugOutputCapture::Take() {
  std::string text;
  if (!started_) return text;
  std::FILE* file = std::fopen(path_.c_str(), "rb");
  if (file == nullptr) return text;
  if (std::fseek(file, static_cast<long>(offset_), SEEK_SET) == 0) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
  }
  std::fclose(file);
  offset_ += static_cast<long long>(text.size());
  return text;
}

void DebugOutputCapture::Stop() {
  if (!started_) return;
  unsetenv("RIDGELINE_TRACE");
  std::remove(path_.c_str());
  started_ = false;
}

#endif

}  // namespace ridgeline::wintest
