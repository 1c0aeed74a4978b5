// The transport record of one session: a socket, optionally a TLS session
// over it, and the bytes received but not yet read.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/os_types.h"

struct ssl_ctx_st;
struct ssl_st;

// What the check cycle sees of a session's connection: the signal that
// ends every wait, and the bytes received so far (progress, not content).
struct LinkWatch {
  std::atomic<bool> cancel{false};
  std::atomic<uint32_t> received{0};
};

constexpr int kInboxSize = 16384;

// What the connection met when it last failed, for the account's reason.
struct LinkFailure {
  int systemError;   // the system's error number, 0 when there is none
  bool peerClosed;   // a receive met the server's orderly close
  char address[48];  // the last address a connection was tried to, as digits
  int port;
  char tls[128];     // OpenSSL's reason for a failed handshake, or the chain's error
};

struct Connection {
  int32_t useTls;
  SOCKET sock;
  ssl_ctx_st* ctx;
  ssl_st* tls;
  LinkWatch* watch;  // null: the waits end only with the peer
  int inStart;       // the unread bytes are inbox[inStart, inEnd)
  int inEnd;
  char inbox[kInboxSize];
  LinkFailure failure;
};

// Whether the session has been given up: every wait ends on it.
inline bool linkCancelled(const Connection& c) { return c.watch && c.watch->cancel.load(); }
