#include "mailcheck/login_delay.h"

#include <algorithm>

#include "app/application.h"
#include "mailcheck/pop3/capabilities.h"
#include "platform/monotonic.h"

namespace {
std::vector<LoginDelayTable::Entry>::iterator find(LoginDelayTable& t, const MailboxKey& box) {
  return std::find_if(t.entries.begin(), t.entries.end(), [&](const LoginDelayTable::Entry& e) { return e.box == box; });
}

uint64_t endOf(const LoginDelayTable::Entry& e) { return e.loginAtMs + static_cast<uint64_t>(e.delaySeconds) * 1000; }

uint32_t leftOf(const LoginDelayTable::Entry& e, uint64_t nowMs) {
  if (nowMs < e.loginAtMs || nowMs >= endOf(e)) return 0;
  return static_cast<uint32_t>((endOf(e) - nowMs + 999) / 1000);
}
}  // namespace

uint32_t loginDelayOf(const char* line, bool* perUser) {
  static const char word[] = "LOGIN-DELAY ";
  *perUser = false;
  if (!sameLetters(line, word, sizeof word - 1)) return 0;
  const char* p = line + sizeof word - 1;
  uint64_t n = 0;
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + static_cast<uint64_t>(*p - '0');
    if (n > kLoginDelayMaxSeconds) n = kLoginDelayMaxSeconds + 1;  // any longer one counts as the most
  }
  if (p == digits) return 0;
  while (*p == ' ') ++p;
  *perUser = sameLetters(p, "USER", 4);
  return n > kLoginDelayMaxSeconds ? kLoginDelayMaxSeconds : static_cast<uint32_t>(n);
}

uint64_t monotonicNow(const Kel& kel) {
  return kel.monotonicClock ? kel.monotonicClock() : platform::monotonicMs();
}

uint32_t loginDelayLeft(const LoginDelayTable& t, const Account& a, uint64_t nowMs) {
  const MailboxKey box = mailboxOf(a);
  for (const LoginDelayTable::Entry& e : t.entries)
    if (e.box == box) return leftOf(e, nowMs);
  return 0;
}

uint32_t holdForLoginDelay(LoginDelayTable& t, const Account& a, uint64_t nowMs) {
  auto e = find(t, mailboxOf(a));
  if (e == t.entries.end()) return 0;
  uint32_t left = leftOf(*e, nowMs);
  e->held = left != 0;
  return left;
}

uint64_t firstHeldLoginMs(const LoginDelayTable& t) {
  uint64_t first = kNoLoginDue;
  for (const LoginDelayTable::Entry& e : t.entries)
    if (e.held) first = std::min(first, endOf(e));
  return first;
}

std::vector<MailboxKey> takeEndedWaits(LoginDelayTable& t, uint64_t nowMs) {
  std::vector<MailboxKey> due;
  for (LoginDelayTable::Entry& e : t.entries) {
    if (!e.held || leftOf(e, nowMs) != 0) continue;
    e.held = false;
    due.push_back(e.box);
  }
  return due;
}

void rememberLogin(LoginDelayTable& t, const Account& a, uint32_t delaySeconds, uint64_t loginAtMs) {
  const MailboxKey box = mailboxOf(a);
  auto e = find(t, box);
  delaySeconds = std::min(delaySeconds, kLoginDelayMaxSeconds);
  if (delaySeconds == 0) {
    if (e != t.entries.end()) t.entries.erase(e);
  } else if (e == t.entries.end()) {
    t.entries.push_back({box, delaySeconds, loginAtMs, false});
  } else {
    e->delaySeconds = delaySeconds;
    e->loginAtMs = loginAtMs;
    e->held = false;
  }
}

void forgetUnconfigured(LoginDelayTable& t, const Account (&accounts)[kAccountSlots]) {
  t.entries.erase(std::remove_if(t.entries.begin(), t.entries.end(),
                                 [&](const LoginDelayTable::Entry& e) { return !mailboxConfigured(accounts, e.box); }),
                  t.entries.end());
}
