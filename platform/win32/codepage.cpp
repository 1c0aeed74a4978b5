// Code-page conversion for the windows build: the system's own tables,
// through UTF-16, into code page 932 itself. The ANSI code page plays no part:
// on an English or a UTF-8 Windows it is not Shift-JIS.
#include "platform/codepage.h"

#include <windows.h>

#include <climits>
#include <vector>

namespace platform {
namespace {

// The pseudo code pages (CP_ACP, CP_OEMCP, CP_THREAD_ACP, CP_SYMBOL...) lie
// below 100 and depend on the system; a page it lacks is read as Shift-JIS.
UINT readableCodePage(CodePage from) {
  if (from >= 100 && IsValidCodePage(from)) return from;
  // GB18030's one- and two-byte part is GBK; Wine lacks 54936, Windows has it.
  if (from == 54936 && IsValidCodePage(936)) return 936;
  return kShiftJis;
}

}  // namespace

std::string toUtf8(const char* shiftJis) {
  int units = MultiByteToWideChar(kShiftJis, 0, shiftJis, -1, nullptr, 0);
  if (units <= 1) return std::string();
  std::vector<wchar_t> wide(units);
  MultiByteToWideChar(kShiftJis, 0, shiftJis, -1, wide.data(), units);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &out[0], bytes, nullptr, nullptr);
  out.resize(static_cast<size_t>(bytes - 1));
  return out;
}

size_t toDisplayCodePage(CodePage from, const char* in, char* out, size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  // Both steps get capacity - 1 units; fewer than one leaves no room for the
  // NUL, and a size of 0 would only ask for the length.
  if (capacity < 2) return 0;
  int limit = capacity - 1 > INT_MAX ? INT_MAX : static_cast<int>(capacity - 1);
  std::vector<wchar_t> wide(limit);
  int units = MultiByteToWideChar(readableCodePage(from), 0, in, -1, wide.data(), limit);
  if (units <= 0) return 0;
  // A UTF-8 sequence cut short by the end can swallow the NUL; put it back
  // so that the result is always a terminated string.
  if (wide[units - 1] != L'\0') {
    if (units == limit) return 0;
    wide[units++] = L'\0';
  }
  int bytes = WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, wide.data(), units, out, limit,
                                  nullptr, nullptr);
  if (bytes <= 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(bytes);
}

}  // namespace platform
