#include <windows.h>

#include "platform/clock.h"

namespace platform {
bool setSystemClock(const UtcTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.millisecond);
  return SetSystemTime(&st) == TRUE;
}

LocalTime localNow() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return {st.wMonth, st.wDay, st.wHour, st.wMinute};
}
}  // namespace platform
