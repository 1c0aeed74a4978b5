// IMAP IDLE (RFC 2177): after a check of an IMAP account whose server lists
// IDLE, its connection stays open in IDLE on INBOX. One thread watches every
// such connection; a change the server announces makes it check that account
// on that connection through the check of one account. The interval check
// still runs for every account.
#pragma once

#include <cstdint>

class Kel;
struct CheckEffects;
struct CheckTiming;
struct SessionTask;

struct IdleTiming {
  int renewMs;     // 600000: DONE and IDLE again, so that a dead link is found
  int answerMs;    // 20500: for the "+" to IDLE, the OK to DONE, a connect's silence
  int sliceMs;     // 250: the longest wait of the watcher
  int retryMs[6];  // 15 s, 30 s, 1, 2, 5 min, then every 15 min
};
extern const IdleTiming kIdleTiming;
constexpr int kIdleLinks = 9;

// Starts the watcher thread (once, at start-up); false when it could not.
bool startIdleWatch(Kel& kel, const CheckEffects& fx, const CheckTiming& check, const IdleTiming& timing = kIdleTiming);
// Ends every IDLE connection (DONE and LOGOUT, or closed) and the thread.
// kel.stopping is set first.
void stopIdleWatch(Kel& kel);

// From the check of an account, under the check lock when a session is
// begun: lends it the account's connection when the watcher asked for this
// check, or asks it to keep its connection when the account has none.
void idlePrepareSession(Kel& kel, SessionTask& task);
// After its worker was joined: a connection the session kept goes to the
// watcher, or is closed.
void idleTakeConnection(Kel& kel, SessionTask& task);

// After waking: links waiting to be made again are made at once, and those
// in IDLE are renewed at once (the network under them may be gone).
void idleAfterWake(Kel& kel);
// The account's OAuth2 access token has expired: its link is made again at
// once with a fresh one.
void idleTokenExpired(Kel& kel, uint32_t accountId);
// Checks made on IDLE connections so far (for tests).
uint32_t idleChecksMade(const Kel& kel);
