// A POP3 server of the tests' own on loopback, for the replies a real
// server won't give. Each accepted connection runs the given script on a
// thread of its own.
#pragma once

#include <atomic>
#include <functional>
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
  // True when the client has sent more that is not read yet, within ms.
  bool pending(int ms);
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

 private:
  SOCKET listener_ = kNoSocket;
  int port_ = 0;
  std::vector<SOCKET> queued_;
};
