// The program's text is Shift-JIS bytes; Windows is given UTF-16. These
// convert with code page 932 itself, never the ANSI code page, so the text
// reads the same on a Windows of any language or with UTF-8 as its code page.
// File paths are UTF-8 inside the program and UTF-16 at the file system.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Shift-JIS to UTF-16. A null pointer gives an empty text.
std::wstring widen(const char* sjis);
// The first `bytes` bytes only, which must not end inside a character.
std::wstring widen(const char* sjis, size_t bytes);

enum class Narrowed { kOk, kTooLong, kNotShiftJis };

// UTF-16 to Shift-JIS into out[0..capacity), NUL included. A character that
// Shift-JIS cannot hold is refused (kNotShiftJis), never turned into '?'; a
// text whose bytes and NUL do not fit is refused too (kTooLong). On refusal
// out holds an empty text.
Narrowed narrow(const wchar_t* text, char* out, size_t capacity);

// UTF-8 path to UTF-16 and back.
std::wstring widenPath(const char* utf8);
std::string narrowPath(const wchar_t* wide);

}  // namespace platform
