// The network transport: a connection to a POP3 server over TCP, or TLS
// from the first byte.
// Sockets are non-blocking: every wait is a readiness wait in short slices
// that ends when the connection's watch is cancelled.
#pragma once

#include <cstddef>

#include "mailcheck/connection.h"
#include "mailcheck/error_code.h"

constexpr int kLineBudget = 8191;  // a line is at most 8190 bytes, CR LF included
constexpr int kWaitSliceMs = 250;

// What a TLS handshake learned of the server's key.
struct ServerKey {
  bool verified;   // the chain and the name checked out
  char pin[65];    // SHA-256 of its SubjectPublicKeyInfo, 64 hexadecimal digits
};

// kErrorNone connected, or kErrorNameNotFound, kErrorConnectFailed (also
// when the watch was cancelled), kErrorTlsFailed. c.watch is kept; the rest
// is set anew. With useTls, key (when given) receives the server's key.
ErrorCode connectServer(Connection& c, const char* host, int port, int useTls, ServerKey* key = nullptr);
// The TLS handshake over the connected c.sock (for STLS, after its +OK),
// naming host to the server when it is a name: kErrorNone, or
// kErrorTlsFailed. key (when given) receives the server's key.
ErrorCode startTls(Connection& c, const char* host, ServerKey* key);
// What the last failure of c met (the last address tried, the system's
// error number, OpenSSL's reason), for the account's reason.
const LinkFailure& linkFailure(const Connection& c);
// Receives into the inbox (after moving its unread bytes to the front):
// the count, or -1 for a failure, a closed peer, a cancel or a full inbox.
int receiveMore(Connection& c);
// Sends all of it, however many calls that takes: length, or -1.
int sendAll(Connection& c, const char* data, int length);
// Reads up to and including CR LF into buf (at least 8191 bytes; not
// NUL-terminated). The length, or -1 (also for a line that does not fit).
int readLine(Connection& c, char* buf);
// Closes what connect opened; safe to call on a closed connection.
void closeConnection(Connection& c);
// Releases this thread's TLS library state; a worker calls it last.
void endNetworkThread();
// Name lookups still running on their threads (given up ones included).
int lookupsRunning();
