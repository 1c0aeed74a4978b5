// Hexadecimal digits as text stores and mail encodings write them.
#pragma once

namespace platform {

// The value of one digit of either case, or -1 for any other character.
inline int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace platform
