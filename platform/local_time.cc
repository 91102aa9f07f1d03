// The local time of day from the system, or from a clock a test installed.
#include "platform/local_time.h"

#include <atomic>

#ifdef _WIN32
#include "platform/win_types.h"
#else
#include <ctime>
#endif

namespace ridgeline::platform {
namespace {

std::atomic<LocalClock> installed_clock{nullptr};

LocalTimeOfDay SystemLocalTimeOfDay() {
#ifdef _WIN32
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wHour, now.wMinute, now.wSecond};
#else
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {0, 0, 0};
  return {local.tm_hour, local.tm_min, local.tm_sec};
#endif
}

}  // namespace

LocalTimeOfDay GetLocalTimeOfDay() {
  const LocalClock clock = installed_clock.load(std::memory_order_acquire);
  return clock != nullptr ? clock() : SystemLocalTimeOfDay();
}

void SetLocalClock(LocalClock clock) { installed_clock.store(clock, std::memory_order_release); }

}  // namespace ridgeline::platform
