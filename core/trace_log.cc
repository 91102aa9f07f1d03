// TraceLog: formats a message, stamps the first message of each line with the local time of
// day and hands the line to the debugger output.
#include "core/trace_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/debug_output.h"
#include "platform/local_time.h"

namespace ridgeline {
namespace {

// The process-wide trace state, shared by every unit. The lock makes the stamp, the line that
// carries it and the line-start flag one step, so that concurrent calls cannot mix them.
std::mutex trace_mutex;
bool LineStart = true;        // the next message begins a line and gets a stamp
char TimeStampText[16] = "";  // "hh:mm:ss" of the last stamp

}  // namespace

void TraceLog(const char* format, ...) {
  char message[kTraceMessageBytes];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  message[kTraceMessageBytes - 1] = '\0';

  std::lock_guard<std::mutex> lock(trace_mutex);
  if (LineStart) {
    const platform::LocalTimeOfDay now = platform::GetLocalTimeOfDay();
    std::snprintf(TimeStampText, sizeof(TimeStampText), "%02d:%02d:%02d", now.Hour, now.Minute,
                  now.Second);
    // Room for the longest stamp text and the whole message: the line is never cut.
    char line[sizeof(TimeStampText) + 3 + kTraceMessageBytes];
    std::snprintf(line, sizeof(line), "[%s] %s", TimeStampText, message);
    OutputDebugStringA(line);
  } else {
    OutputDebugStringA(message);
  }
  LineStart = std::strchr(message, '\n') != nullptr;
}

void ResetTraceLineStart() {
  std::lock_guard<std::mutex> lock(trace_mutex);
  LineStart = true;
}

}  // namespace ridgeline
