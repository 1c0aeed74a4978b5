// Setting the system clock. The windows build calls SetSystemTime; the
// native build never touches this machine's clock (tests hand the clock
// synchronisation a setter of their own).
#pragma once

#include <cstdint>

namespace platform {

struct UtcTime {
  int year, month, day, hour, minute, second, millisecond;
};

// Setting the clock answers 0, or the system's reason for refusing it.
constexpr uint32_t kClockSet = 0;
// What Windows answers a token without the right to set the clock.
constexpr uint32_t kPrivilegeNotHeld = 1314;  // ERROR_PRIVILEGE_NOT_HELD

uint32_t setSystemClock(const UtcTime& t);
// This computer's local date and time now, in the same fields.
UtcTime localNow();

// The minute now on the user's clock, in their time zone.
struct LocalTime {
  int month, day, hour, minute;  // month 0: no time at all
};
inline LocalTime localMinute() {
  UtcTime t = localNow();
  return {t.month, t.day, t.hour, t.minute};
}

}  // namespace platform
