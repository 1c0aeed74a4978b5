// One IMAP connection held in IDLE (RFC 2177) by the IDLE watcher: what it
// sends, what it reads without waiting, and where it stands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mailcheck/connection.h"

// What one line from a server in IDLE means to the watcher.
enum class IdleLine {
  kOther,
  kContinuation,  // "+ idling": the IDLE is under way
  kEvent,         // EXISTS, EXPUNGE or FETCH: the mailbox changed
  kBye,
  kTaggedOk,      // the tagged reply to our command
  kTaggedRefused, // NO or BAD to it
};
IdleLine classifyIdleLine(const std::string& line, const char* tag);
// The size of the literal a line ends with ("{12}" or "{12+}"), or -1.
int64_t trailingLiteral(const std::string& line);
// A BYE that says the OAuth2 access token has expired (Microsoft's servers
// end the session so): the link is made again at once.
bool byeSaysTokenExpired(const std::string& line);

struct IdleLink {
  enum State { kWaiting, kConnecting, kStarting, kIdling, kEnding, kChecking };

  explicit IdleLink(uint32_t id) : accountId(id) {}
  ~IdleLink();

  // Takes a connection that is logged in with INBOX selected.
  void attach(std::unique_ptr<Connection> c);
  // Sends "<tag> <verb>" with a new tag, or raw bytes; false (and the
  // connection closed) when it could not go out at once.
  bool command(const char* verb);
  bool sendRaw(const std::string& bytes);
  // Reads what has arrived, without waiting. Each whole line goes to
  // onLine; false when the connection failed or closed (then closed).
  template <class F>
  bool pump(F onLine);
  // DONE and LOGOUT without waiting for replies, then the close.
  void logoutNow();
  void close();
  bool open() const { return conn != nullptr; }
  // TLS holds bytes already taken from the socket.
  bool buffered() const;

  const uint32_t accountId;
  State state = kWaiting;
  std::unique_ptr<Connection> conn;
  LinkWatch watch;
  char tag[16] = "";
  unsigned tagNumber = 0;
  uint32_t uidValidity = 0;
  bool uidplus = false;
  uint64_t since = 0;     // the IDLE began (kIdling) or the command went out
  uint64_t retryAt = 0;   // kWaiting: when the next connect starts
  int retryStep = 0;
  bool eventPending = false;
  bool tokenExpired = false;
  bool movedOut = false;  // lent to a check

 private:
  int receiveNow();  // bytes, 0 for none yet, -1 failed
  std::string line_;
  int64_t literalLeft_ = 0;
};

template <class F>
bool IdleLink::pump(F onLine) {
  if (!conn) return false;
  for (;;) {
    int n = receiveNow();
    if (n < 0) {
      close();
      return false;
    }
    if (n == 0) return true;
    Connection& c = *conn;
    while (c.inStart < c.inEnd) {
      char b = c.inbox[c.inStart++];
      if (literalLeft_ > 0) {  // a literal's bytes are passed over
        --literalLeft_;
        continue;
      }
      if (line_.size() >= 8192) {  // no server in IDLE sends such a line
        close();
        return false;
      }
      line_ += b;
      if (b != '\n' || line_.size() < 2 || line_[line_.size() - 2] != '\r') continue;
      line_.resize(line_.size() - 2);
      literalLeft_ = trailingLiteral(line_);
      if (literalLeft_ >= 0) continue;  // the line goes on after it
      literalLeft_ = 0;
      std::string whole;
      whole.swap(line_);
      onLine(whole);
      if (!conn) return false;
    }
  }
}
