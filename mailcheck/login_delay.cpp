#include "mailcheck/login_delay.h"

#include <cstring>

#include "app/application.h"
#include "mailcheck/capabilities.h"
#include "platform/monotonic.h"

namespace {

bool sameAccount(const LoginDelayTable::Entry& e, const Account& a) {
  return e.port == a.port && strncmp(e.server, a.pop3server, sizeof e.server) == 0 &&
         strncmp(e.user, a.user, sizeof e.user) == 0;
}

LoginDelayTable::Entry* find(LoginDelayTable& t, const Account& a) {
  for (int i = 0; i < t.used; ++i)
    if (sameAccount(t.entries[i], a)) return &t.entries[i];
  return nullptr;
}

void remove(LoginDelayTable& t, int i) {
  t.entries[i] = t.entries[--t.used];
}

}  // namespace

uint64_t monotonicNow(const Kel& kel) {
  return kel.monotonicClock ? kel.monotonicClock() : platform::monotonicMs();
}

uint32_t loginDelayOf(const char* line, bool* perUser) {
  static const char word[] = "LOGIN-DELAY ";
  *perUser = false;
  if (!sameLetters(line, word, sizeof word - 1)) return 0;
  const char* p = line + sizeof word - 1;
  uint64_t n = 0;
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + static_cast<uint64_t>(*p - '0');
    if (n > 0xFFFFFFFFu) return 0;
  }
  if (p == digits) return 0;
  while (*p == ' ') ++p;
  *perUser = sameLetters(p, "USER", 4);
  return static_cast<uint32_t>(n);
}

uint32_t loginDelayLeft(const LoginDelayTable& t, const Account& a, uint64_t nowMs) {
  for (int i = 0; i < t.used; ++i) {
    const LoginDelayTable::Entry& e = t.entries[i];
    if (!sameAccount(e, a)) continue;
    uint64_t wait = static_cast<uint64_t>(e.delaySeconds) * 1000;
    uint64_t since = nowMs - e.loginAtMs;
    if (nowMs < e.loginAtMs || since >= wait) return 0;
    return static_cast<uint32_t>((wait - since + 999) / 1000);
  }
  return 0;
}

void rememberLogin(LoginDelayTable& t, const Account& a, uint32_t delaySeconds, uint64_t loginAtMs) {
  LoginDelayTable::Entry* e = find(t, a);
  if (delaySeconds == 0) {
    if (e) remove(t, static_cast<int>(e - t.entries));
    return;
  }
  if (!e) {
    if (t.used == kAccountSlots) remove(t, 0);  // only when accounts changed faster than checks ran
    e = &t.entries[t.used++];
    memcpy(e->server, a.pop3server, sizeof e->server);
    e->server[sizeof e->server - 1] = '\0';
    e->port = a.port;
    memcpy(e->user, a.user, sizeof e->user);
    e->user[sizeof e->user - 1] = '\0';
  }
  e->delaySeconds = delaySeconds;
  e->loginAtMs = loginAtMs;
}

void forgetUnconfigured(LoginDelayTable& t, const Account (&accounts)[kAccountSlots]) {
  for (int i = t.used - 1; i >= 0; --i) {
    bool named = false;
    for (const Account& a : accounts) named = named || (a.mailaddr[0] != '\0' && sameAccount(t.entries[i], a));
    if (!named) remove(t, i);
  }
}
