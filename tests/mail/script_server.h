// POP3 servers of the tests' own on loopback, for the replies a real
// server won't give: ScriptServer runs a script of the test's on each
// connection; ScriptMaildrop answers as a maildrop of the test's messages,
// with the twists a test asks for.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/os_types.h"

class ScriptConnection {
 public:
  explicit ScriptConnection(SOCKET s) : sock_(s) {}
  void send(const std::string& bytes);
  // The next line without its CR LF; "" when the peer has gone.
  std::string readLine();
  // Reads lines until one starts with `prefix`; false when the peer has gone.
  // A UIDL on the way is refused, as by a server without it.
  bool expect(const std::string& prefix);
  // The greeting, then the reply to the client's CAPA (a server of RFC 1939
  // alone refuses it).
  void greet(const std::string& greeting, const std::string& capabilities = "-ERR\r\n");
  // Each reply leaves at once, not once the one before is acknowledged.
  void noDelay();
  // "+OK ready", the reply to CAPA, then USER and PASS taken with +OK.
  void login(const std::string& capabilities = "-ERR\r\n");
  // True when the client has sent more that is not read yet, within ms.
  bool pending(int ms);
  // Whole lines the client has sent that are not read yet.
  int linesWaiting();
  // Waits until the client closes (or the server stops).
  void waitForClose();
  void close();
  SOCKET socket() const { return sock_; }

 private:
  SOCKET sock_;
};

class ScriptServer {
 public:
  using Script = std::function<void(ScriptConnection&)>;
  explicit ScriptServer(Script script, bool ipv6 = false);
  ~ScriptServer();
  int port() const { return port_; }
  // Takes one queued connection off, so that the next SYN is answered.
  void makeRoom();

 private:
  SOCKET listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  Script script_;
  std::thread acceptor_;
  std::vector<std::thread> workers_;
  std::vector<SOCKET> open_;
};

// A port on loopback that refuses connections.
int refusedPort();

// A listener on loopback whose queue of connections is full, so that it
// answers no SYN: to a client, an address on a route that loses them.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  int port() const { return port_; }
  // Takes one queued connection off, so that the next SYN is answered.
  void makeRoom();

 private:
  SOCKET listener_ = kNoSocket;
  int port_ = 0;
  std::vector<SOCKET> queued_;
};

// A TOP reply of a message with these headers and a one-line body.
std::string topReply(const std::string& from, const std::string& subject);

// A maildrop holding the messages a test sets, which may change between
// checks. It greets "+OK ready", answers CAPA with `capabilities`, STAT with
// the count, "TOP n ..." with message n's From and Subject (-ERR past the
// last), UIDL with ids made from each message's text when its capabilities
// list UIDL (as servers that hash their messages make them; else -ERR), QUIT with "+OK bye" (and hangs up), and anything else (USER, PASS,
// DELE, NOOP, ...) with "+OK". Every command is recorded. For example:
//
//   ScriptMaildrop drop;                          // lists PIPELINING
//   drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
//   drop.answer("DELE 2", "-ERR locked\r\n");   // one command, its own reply
//   drop.answer("PASS", "-ERR [IN-USE] busy\r\n");  // every PASS
//   auto kel = kelWithAccount("127.0.0.1", drop.port(), "user", "pw");
//   ... check ...
//   EXPECT_EQ("QUIT", drop.commands().back());
//
// A command the maildrop should handle otherwise (UIDL of its own, say) is the
// business of onCommand: its handler sees each command first and returns
// true when it has answered it itself.
class ScriptMaildrop {
 public:
  struct Message {
    std::string from;
    std::string subject;
  };
  static constexpr const char* kPipelining = "+OK\r\nPIPELINING\r\n.\r\n";
  static constexpr const char* kPipeliningAndIds = "+OK\r\nPIPELINING\r\nUIDL\r\n.\r\n";
  static constexpr const char* kNoCapa = "-ERR unknown command\r\n";  // RFC 1939 alone

  explicit ScriptMaildrop(std::string capabilities = kPipeliningAndIds);
  void set(std::vector<Message> messages);
  // `reply` (CR LF included) to every command that is `command` or starts
  // with it and a blank: "PASS" takes every PASS, "DELE 7" only DELE 7.
  void answer(const std::string& command, const std::string& reply);
  using Handler = std::function<bool(ScriptConnection&, const std::string& command)>;
  void onCommand(Handler handler);
  // Counts the commands that arrive within `ms` after the one before, while
  // its reply is held back: the client sent them ahead (pipelining). Each
  // reply waits that long.
  void watchAhead(int ms);
  std::vector<std::string> commands() const;
  int sentAhead() const { return ahead_; }
  // The most commands seen unanswered at once, the one at hand included.
  int mostInFlight() const { return most_; }
  int port() const { return server_.port(); }

 private:
  void serve(ScriptConnection& c);
  std::string reply(const std::string& command);

  const std::string capabilities_;
  mutable std::mutex lock_;
  std::vector<Message> messages_;
  std::vector<std::pair<std::string, std::string>> answers_;
  std::vector<std::string> commands_;
  Handler handler_;
  int watchMs_ = 0;
  std::atomic<int> ahead_{0};
  std::atomic<int> most_{0};
  ScriptServer server_;  // last: its connections use the members above
};
