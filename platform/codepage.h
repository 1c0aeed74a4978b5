// Conversion between code pages through UTF-16, as the system's
// MultiByteToWideChar and WideCharToMultiByte do it. The display code page
// is Shift-JIS (932) in both builds.
#pragma once

#include <cstddef>

namespace platform {

enum CodePage { kDisplayCodePage = 0, kUtf8 = 65001 };

// Converts NUL-terminated `in` from `from` into the display code page, the
// NUL included, writing at most `capacity` bytes. Characters the display
// code page lacks become its default character (no best-fit substitutes).
// Returns the bytes written (NUL included), or 0 on failure.
size_t toDisplayCodePage(CodePage from, const char* in, char* out, size_t capacity);

}  // namespace platform
