// Reversible scrambling of stored passwords: each byte XORed with a table
// entry, written as two upper-case hexadecimal digits.
#include <cstring>

#include "platform/hex.h"
#include "settings/settings.h"

const uint8_t passwordKeyTable[256] = {
#include "settings/password_key.inc"
};

void scramblePassword(const char* plain, char* out) {
  static const char digits[] = "0123456789ABCDEF";
  size_t n = strlen(plain);
  size_t k = n / 2;
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = static_cast<uint8_t>(plain[i]) ^ passwordKeyTable[k];
    out[2 * i] = digits[x >> 4];
    out[2 * i + 1] = digits[x & 15];
    k = k + 1 > 255 ? 0 : k + 1;
  }
  out[2 * n] = '\0';
}

bool unscramblePassword(const char* stored, char* out, uint32_t outSize) {
  size_t m = strlen(stored);
  out[0] = '\0';
  if (m % 2 != 0 || m / 2 > outSize - 1) return false;
  size_t k = m / 4;
  for (size_t i = 0; i < m / 2; ++i) {
    int h = platform::hexDigitValue(stored[2 * i]);
    int l = platform::hexDigitValue(stored[2 * i + 1]);
    if (h < 0 || l < 0) {
      out[0] = '\0';
      return false;
    }
    out[i] = static_cast<char>((h * 16 + l) ^ passwordKeyTable[k]);
    k = k + 1 > 255 ? 0 : k + 1;
  }
  out[m / 2] = '\0';
  return true;
}
