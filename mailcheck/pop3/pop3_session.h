// The conversation with one account's POP3 server during one check.
#pragma once

#include <atomic>

#include <cstdint>

#include "mailcheck/connection.h"
#include "mailcheck/server_trust.h"
#include "settings/oauth.h"
#include "settings/settings.h"

class Kel;
struct ServerKey;

constexpr int kSessionBufferSize = 8192;
constexpr int kPipelineWindow = 64;  // commands in flight when the server allows

// One session, shared by the check cycle and the worker that runs it. The
// worker owns the connection; once the session is given up it writes
// nothing the rest of the program can see, its waits end within a slice,
// and it closes its connection itself.
struct SessionTask {
  // Stamps the slot's results with an identity when they have none; the
  // caller holds the check lock when other threads run.
  SessionTask(Kel& k, int index);
  // A connection still open (one kept for IDLE that nobody took) is closed.
  ~SessionTask();

  Kel& kel;
  const int index;  // the account's slot when the session was made
  const uint32_t accountId;  // whose results the session writes
  Account account;  // taken when the session is made; dialogs may change the original
  LinkWatch watch;
  Connection connection;
  std::atomic<bool> abandoned{false};
  // Commands sent ahead of their replies when the server lists PIPELINING;
  // 1 keeps to one command at a time.
  int maxInFlight = kPipelineWindow;
  // A key to trust from now on, for the window thread to store; written by
  // the worker, read by the check cycle once the worker has ended.
  PinOffer pinOffer{};
  // What the check cost: TOP commands sent (the bytes received are
  // watch.received). Written by the worker.
  std::atomic<int> topsSent{0};
  // The LOGIN-DELAY its server stated (0: none) and when the login it
  // counts from was accepted; like the pin offer, for the check cycle.
  bool loggedIn = false;
  uint32_t loginDelaySeconds = 0;
  uint64_t loginAtMs = 0;
  // The account's OAuth2 settings when the session was made, and what its
  // token calls learned since: the session's own copy.
  OAuthSettings oauth;
  // A refresh token the endpoint rotated, for the window thread to store;
  // like the pin offer, read once the worker has ended.
  TokenOffer tokenOffer{};
  // The worker waits for the token endpoint, not for the mail server: the
  // check cycle does not count that as the server's silence.
  std::atomic<bool> takingToken{false};
  // For the tests: sees (and may change) what a handshake learned of the
  // server's key before it is judged. Null in the program.
  void (*inspectKey)(ServerKey& key) = nullptr;

  // IDLE (mailcheck/imap/idle_watch.h). keepForIdle: a completed IMAP
  // session whose server lists IDLE leaves its connection logged in with
  // INBOX selected (keptOpen) instead of logging out. idleResume: the
  // connection came from an IDLE under idleTag, ended here with DONE.
  // quiet: the watcher's own connect, which writes nothing shared and stops
  // after SELECT. joined: the worker has ended and its thread was joined.
  bool keepForIdle = false;
  bool idleResume = false;
  bool quiet = false;
  char idleTag[16] = "";
  uint32_t uidValidity = 0;
  bool uidplus = false;
  bool keptOpen = false;
  bool joined = false;
  // The mailbox changed after the search (EXISTS, EXPUNGE, or flags).
  bool mailboxChanged = false;

  // From the check cycle: no more writes from the worker, and every wait
  // of its connection ends.
  void giveUp();
};

// The slot whose results carry this identity, or -1 once the account was
// deleted or changed. Under the check lock.
int accountSlot(const Kel& kel, uint32_t accountId);

// The account's protocol decides: POP3, or IMAP (mailcheck/imap/).
// Returns 0 when the session completed, 1 when it failed (or was given up).
int runSession(SessionTask& task);
// The same after the connect step, on a connected socket already in
// task.connection.sock (the fuzz target makes one of its own).
int runSessionOnConnection(SessionTask& task);
