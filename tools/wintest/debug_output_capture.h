// Reading what the adapter writes to the debugger output, from inside the process that loaded
// it. On Windows a vectored exception handler receives the exception that OutputDebugStringA
// raises for an attached debugger and keeps the text (so nothing reaches a real debugger). On
// Linux the library's stand-in sink is pointed at a temporary file through RIDGELINE_TRACE.
// Either way capture must start before the library is loaded, so that its load routine's trace
// is seen too. One capture per process.
#pragma once

#include <string>

namespace ridgeline::wintest {

class DebugOutputCapture {
 public:
  DebugOutputCapture() = default;
  ~DebugOutputCapture() { Stop(); }
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  // Starts capturing; false with a message in *error when it cannot.
  bool Start(std::string* error);

  // Everything written to the debugger output since the previous call, in order.
  std::string Take();

  // Stops capturing and releases what Start set up; harmless when not started.
  void Stop();

 private:
  bool started_ = false;
#ifndef _WIN32
  std::string path_;
  long long offset_ = 0;  // bytes of the sink file already taken
#endif
};

}  // namespace ridgeline::wintest
