#include "platform/win32/wide_text.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <vector>

namespace platform {
namespace {

constexpr UINT kShiftJis = 932;

std::wstring toWide(UINT codePage, const char* text, size_t bytes) {
  if (!text || bytes == 0 || bytes > INT_MAX) return std::wstring();
  int n = static_cast<int>(bytes);
  int units = MultiByteToWideChar(codePage, 0, text, n, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(codePage, 0, text, n, &wide[0], units);
  return wide;
}

std::wstring toWide(UINT codePage, const char* text) { return text ? toWide(codePage, text, strlen(text)) : std::wstring(); }

}  // namespace

std::wstring widen(const char* sjis) { return toWide(kShiftJis, sjis); }

std::wstring widen(const char* sjis, size_t bytes) { return toWide(kShiftJis, sjis, bytes); }

Narrowed narrow(const wchar_t* text, char* out, size_t capacity) {
  if (capacity == 0) return Narrowed::kTooLong;
  out[0] = '\0';
  if (!text || !*text) return Narrowed::kOk;
  BOOL usedDefault = FALSE;
  int bytes = WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr,
                                  &usedDefault);
  if (bytes <= 0 || usedDefault) return Narrowed::kNotShiftJis;
  if (static_cast<size_t>(bytes) > capacity) return Narrowed::kTooLong;
  WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, text, -1, out, bytes, nullptr, nullptr);
  return Narrowed::kOk;
}

std::wstring widenPath(const char* utf8) { return toWide(CP_UTF8, utf8); }

std::string narrowPath(const wchar_t* wide) {
  if (!wide || !*wide) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::vector<char> out(bytes);
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), bytes, nullptr, nullptr);
  return std::string(out.data());
}

}  // namespace platform
