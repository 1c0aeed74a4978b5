#include "platform/clock.h"

#include <sys/time.h>

#include <ctime>

namespace platform {
// The native build never sets this machine's clock.
uint32_t setSystemClock(const UtcTime&) { return kPrivilegeNotHeld; }

UtcTime localNow() {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm tm{};
  localtime_r(&now.tv_sec, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          static_cast<int>(now.tv_usec / 1000)};
}
}  // namespace platform
