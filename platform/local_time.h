// The local time of day, as the trace stamps read it. Tests replace the clock with a fixed one.
#pragma once

namespace ridgeline::platform {

struct LocalTimeOfDay {
  int Hour;    // 0..23
  int Minute;  // 0..59
  int Second;  // 0..59 (60 in a leap second)
};

using LocalClock = LocalTimeOfDay (*)();

// The current local time of day, from the installed clock or else from the system.
LocalTimeOfDay GetLocalTimeOfDay();

// Installs clock in place of the system's (null restores the system's); safe from any thread.
void SetLocalClock(LocalClock clock);

}  // namespace ridgeline::platform
