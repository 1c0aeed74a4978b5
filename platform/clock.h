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

// The date and time now on the user's clock, in their time zone.
struct LocalTime {
  int month, day, hour, minute;  // month 0: no time at all
};
LocalTime localNow();

}  // namespace platform
