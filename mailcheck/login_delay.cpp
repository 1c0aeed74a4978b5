#include "mailcheck/login_delay.h"

#include <algorithm>

#include "app/application.h"
#include "mailcheck/pop3/capabilities.h"
#include "platform/monotonic.h"

namespace {
std::vector<LoginDelayTable::Entry>::iterator find(LoginDelayTable& t, const MailboxKey& box) {
  return std::find_if(t.entries.begin(), t.entries.end(), [&](const LoginDelayTable::Entry& e) { return e.box == box; });
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
  const MailboxKey box = mailboxOf(a);
  for (const LoginDelayTable::Entry& e : t.entries) {
    if (!(e.box == box)) continue;
    uint64_t wait = static_cast<uint64_t>(e.delaySeconds) * 1000;
    uint64_t since = nowMs - e.loginAtMs;
    if (nowMs < e.loginAtMs || since >= wait) return 0;
    return static_cast<uint32_t>((wait - since + 999) / 1000);
  }
  return 0;
}

void rememberLogin(LoginDelayTable& t, const Account& a, uint32_t delaySeconds, uint64_t loginAtMs) {
  const MailboxKey box = mailboxOf(a);
  auto e = find(t, box);
  if (delaySeconds == 0) {
    if (e != t.entries.end()) t.entries.erase(e);
  } else if (e == t.entries.end()) {
    t.entries.push_back({box, delaySeconds, loginAtMs});
  } else {
    e->delaySeconds = delaySeconds;
    e->loginAtMs = loginAtMs;
  }
}

void forgetUnconfigured(LoginDelayTable& t, const Account (&accounts)[kAccountSlots]) {
  t.entries.erase(std::remove_if(t.entries.begin(), t.entries.end(),
                                 [&](const LoginDelayTable::Entry& e) { return !mailboxConfigured(accounts, e.box); }),
                  t.entries.end());
}
