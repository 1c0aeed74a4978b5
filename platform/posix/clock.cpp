#include "platform/clock.h"

#include <ctime>

namespace platform {
bool setSystemClock(const UtcTime&) { return false; }

LocalTime localNow() {
  time_t now = time(nullptr);
  tm t{};
  if (!localtime_r(&now, &t)) return {};
  return {t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min};
}
}  // namespace platform
