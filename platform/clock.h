// Setting the system clock. The windows build calls SetSystemTime; the
// native build never touches this machine's clock (tests hand the clock
// synchronisation a setter of their own).
#pragma once

#include <cstdint>

namespace platform {

struct UtcTime {
  int year, month, day, hour, minute, second, millisecond;
};

bool setSystemClock(const UtcTime& t);

}  // namespace platform
