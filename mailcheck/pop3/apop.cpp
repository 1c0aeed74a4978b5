#include <cstring>

#include "mailcheck/pop3/apop.h"

bool apopDigestInput(const char* greeting, const char* pass, char (&out)[kApopInputSize]) {
  out[0] = '\0';
  const char* open = strchr(greeting, '<');
  if (!open) return false;
  const char* close = strchr(open, '>');
  if (!close) return false;
  size_t stamp = static_cast<size_t>(close - open) + 1;
  size_t passLength = strnlen(pass, 31);
  if (stamp > kApopInputSize - 1 - passLength) stamp = kApopInputSize - 1 - passLength;  // longer than any line
  memcpy(out, open, stamp);
  memcpy(out + stamp, pass, passLength);
  out[stamp + passLength] = '\0';
  return true;
}
