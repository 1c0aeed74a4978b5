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

// "SASL m1 m2 ...": whether a mechanism is among the words after it.
bool listsMechanism(const char* line, const char* mechanism) {
  const size_t n = strlen(mechanism);
  for (const char* p = strchr(line, ' '); p; p = strchr(p, ' ')) {
    ++p;
    if (sameLetters(p, mechanism, n) && (p[n] == ' ' || p[n] == '\r' || p[n] == '\n' || p[n] == '\0')) return true;
  }
  return false;
}
}  // namespace

void noteCapability(const char* line, Capabilities& caps) {
  if (listsCapability(line, "PIPELINING")) caps.pipelining = true;
  if (listsCapability(line, "STLS")) caps.stls = true;
  if (listsCapability(line, "UIDL")) caps.uidl = true;
  if (listsCapability(line, "SASL")) {
    caps.saslXoauth2 = listsMechanism(line, "XOAUTH2");
    caps.saslOauthbearer = listsMechanism(line, "OAUTHBEARER");
  }
  if (listsCapability(line, "LOGIN-DELAY")) caps.loginDelay = loginDelayOf(line, &caps.loginDelayPerUser);
}
