// Setting the system clock. The windows build calls SetSystemTime; the
// native build never touches this machine's clock (tests put their own
// setter in place).
#pragma once

#include <cstdint>

namespace platform {

struct UtcTime {
  int year, month, day, hour, minute, second, millisecond;
};

using SetClockFn = bool (*)(const UtcTime& t);
extern SetClockFn setSystemClock;

}  // namespace platform
