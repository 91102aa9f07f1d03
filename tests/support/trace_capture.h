// Test fixtures for the adapter's trace: capturing what reaches OutputDebugStringA and fixing
// the clock that stamps it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "core/trace_log.h"
#include "platform/debug_output.h"
#include "platform/local_time.h"

namespace ridgeline::testing {

// Collects every string passed to OutputDebugStringA while it lives. Starting a capture also
// makes the next trace message start a new line, as after the library loads.
class TraceCapture {
 public:
  TraceCapture() {
    ResetTraceLineStart();
    platform::SetDebugOutputHook(&Append, this);
  }
  ~TraceCapture() { platform::SetDebugOutputHook(nullptr, nullptr); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  // The strings as written, stamps included.
  const std::vector<std::string>& strings() const { return strings_; }
  // The strings with a leading "[hh:mm:ss] " stamp removed: the messages as traced.
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const std::string& s : strings_) out.push_back(StripStamp(s));
    return out;
  }
  void clear() { strings_.clear(); }

  static std::string StripStamp(const std::string& s) {
    const bool stamped =
        s.size() >= 11 && s[0] == '[' && s[3] == ':' && s[6] == ':' && s[9] == ']' && s[10] == ' ';
    return stamped ? s.substr(11) : s;
  }

 private:
  static void Append(void* user, const char* text) {
    static_cast<TraceCapture*>(user)->strings_.emplace_back(text);
  }
  std::vector<std::string> strings_;
};

// Replaces the local clock with a fixed time of day while it lives; Reads() counts the reads.
class FixedClock {
 public:
  FixedClock(int hour, int minute, int second) {
    now_ = {hour, minute, second};
    reads_ = 0;
    platform::SetLocalClock(&Now);
  }
  ~FixedClock() { platform::SetLocalClock(nullptr); }
  FixedClock(const FixedClock&) = delete;
  FixedClock& operator=(const FixedClock&) = delete;

  void Set(int hour, int minute, int second) { now_ = {hour, minute, second}; }
  int Reads() const { return reads_; }

 private:
  static platform::LocalTimeOfDay Now() {
    ++reads_;
    return now_;
  }
  static inline platform::LocalTimeOfDay now_{};
  static inline std::atomic<int> reads_{0};
};

}  // namespace ridgeline::testing
