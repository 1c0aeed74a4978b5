// Conversion between code pages through UTF-16, as the system's
// MultiByteToWideChar and WideCharToMultiByte do it. The display code page
// is Shift-JIS (932) in both builds, whatever the system's ANSI code page.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A Windows code page number.
using CodePage = unsigned;
constexpr CodePage kShiftJis = 932;
constexpr CodePage kDisplayCodePage = kShiftJis;
constexpr CodePage kUtf8 = 65001;

// Converts NUL-terminated `in` from `from` into the display code page, the
// NUL included, writing at most `capacity` bytes. A code page the system
// cannot read is taken as Shift-JIS. Characters the display code page lacks
// become its default character (no best-fit substitutes).
// Returns the bytes written (NUL included), or 0 on failure.
size_t toDisplayCodePage(CodePage from, const char* in, char* out, size_t capacity);

// Shift-JIS text as UTF-8 (what IMAP sends for a user name or password).
std::string toUtf8(const char* shiftJis);

}  // namespace platform
