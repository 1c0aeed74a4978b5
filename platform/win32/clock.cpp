#include <windows.h>

#include "platform/clock.h"

namespace platform {
uint32_t setSystemClock(const UtcTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.millisecond);
  // The call enables the right to set the clock itself when the token holds
  // it; a program not run as administrator is refused with 1314.
  if (SetSystemTime(&st)) return kClockSet;
  DWORD error = GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

UtcTime localNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}
}  // namespace platform
