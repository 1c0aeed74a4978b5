#include "mailcheck/pop3/capabilities.h"

#include <cstring>

#include "mailcheck/login_delay.h"

bool sameLetters(const char* text, const char* word, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
    if (c != word[i]) return false;
  }
  return true;
}

namespace {
// A capability line: its first word, in any letter case.
bool listsCapability(const char* line, const char* word) {
  size_t n = strlen(word);
  return sameLetters(line, word, n) && (line[n] == '\r' || line[n] == ' ');
}
}  // namespace

void noteCapability(const char* line, Capabilities& caps) {
  if (listsCapability(line, "PIPELINING")) caps.pipelining = true;
  if (listsCapability(line, "STLS")) caps.stls = true;
  if (listsCapability(line, "UIDL")) caps.uidl = true;
  if (listsCapability(line, "LOGIN-DELAY")) caps.loginDelay = loginDelayOf(line, &caps.loginDelayPerUser);
}
