// Byte rules of Shift-JIS, the display code page: which bytes begin a
// two-byte character, and cuts that keep such characters whole.
#pragma once

#include <cstddef>
#include <cstring>

namespace platform {

// Shift-JIS lead bytes; the byte after one belongs to the same character
// (and may be 0x5C, which is then no backslash).
inline bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// How a cut may fall: between whole characters of Shift-JIS text, or after
// any byte for bytes that are not Shift-JIS text (a raw mail address).
enum class Cut { kWholeChars, kAnyByte };

// Copies at most `limit` bytes of `src` into `dst` (which holds limit + 1).
// With kWholeChars it never ends on the first byte of a two-byte character;
// a lead byte right before the NUL counts as one byte.
inline void copyCut(char* dst, const char* src, size_t limit, Cut cut = Cut::kWholeChars) {
  size_t n = 0;
  while (src[n] != '\0' && n < limit) {
    bool pair = cut == Cut::kWholeChars && isLeadByte(static_cast<unsigned char>(src[n])) && src[n + 1] != '\0';
    if (pair && n + 2 > limit) break;
    n += pair ? 2 : 1;
  }
  memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace platform
