// LOGIN-DELAY (RFC 2449 section 6.5): the least time a server allows
// between two logins of the same user. Kept per mailbox (server, port and
// user), in memory only, by the check cycle; a check that comes sooner
// does not connect.
#pragma once

#include <cstdint>
#include <vector>

#include "mailcheck/mailbox_key.h"
#include "settings/settings.h"

class Kel;

struct LoginDelayTable {
  struct Entry {
    MailboxKey box;
    uint32_t delaySeconds;
    uint64_t loginAtMs;  // monotonic: the wall clock may be set by SNTP
    bool held;           // a check found the wait running: it is due when the wait ends
  };
  std::vector<Entry> entries;
};

// A server may ask for an hour at most: a longer wait would silence the
// account for good.
constexpr uint32_t kLoginDelayMaxSeconds = 3600;

// The value of a "LOGIN-DELAY n [USER]" capability line: n up to
// kLoginDelayMaxSeconds (0 when the line is not one, or n is no number),
// and whether the value may differ per user once logged in.
uint32_t loginDelayOf(const char* capabilityLine, bool* perUser);

// Seconds left before the account may log in again; 0 when it may now.
uint32_t loginDelayLeft(const LoginDelayTable& t, const Account& a, uint64_t nowMs);

// The same for a check about to log in: one that is held is checked again
// as soon as the wait ends; one that goes ahead is no longer due.
uint32_t holdForLoginDelay(LoginDelayTable& t, const Account& a, uint64_t nowMs);

constexpr uint64_t kNoLoginDue = UINT64_MAX;
// When the first wait that held a check ends, or kNoLoginDue.
uint64_t firstHeldLoginMs(const LoginDelayTable& t);

// The mailboxes whose held checks may log in now; no longer held.
std::vector<MailboxKey> takeEndedWaits(LoginDelayTable& t, uint64_t nowMs);

// After a session that logged in: the delay its server asked for (0 when
// it asks none), counted from loginAtMs.
void rememberLogin(LoginDelayTable& t, const Account& a, uint32_t delaySeconds, uint64_t loginAtMs);

// Now on the clock the delays are counted on: the Kel's own when a test
// gave it one, else platform::monotonicMs.
uint64_t monotonicNow(const Kel& kel);

// Drops what no configured account names any more: a change of server,
// port or user, or a deleted account, forgets its delay.
void forgetUnconfigured(LoginDelayTable& t, const Account (&accounts)[kAccountSlots]);
