// The adapter's diagnostic trace: printf-style messages on the debugger output, each new line
// opened with the local time of day as "[hh:mm:ss] ". Safe to call from any thread; messages
// are written whole and in the order their calls took the trace lock.
#pragma once

#if defined(__GNUC__)
#define RIDGELINE_TRACE_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define RIDGELINE_TRACE_FORMAT(f, a)
#endif

namespace ridgeline {

// Capacity of one formatted message, terminator included: longer messages are cut to 511
// characters.
constexpr int kTraceMessageBytes = 512;

// Formats the message and passes it to OutputDebugStringA, stamped when it starts a new line.
// A message that contains a newline anywhere makes the next message start a new line.
void TraceLog(const char* format, ...) RIDGELINE_TRACE_FORMAT(1, 2);

// Makes the next message start a new line again, as right after the library loads. For tests.
void ResetTraceLineStart();

}  // namespace ridgeline
