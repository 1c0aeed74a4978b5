#include "tests/mail/script_server.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <cstring>

#include "platform/net.h"

#ifdef _WIN32
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#define closesocket close
#endif

namespace {

SOCKET listenOn(bool ipv6, int* port, int backlog = 8) {
  SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (s == kNoSocket) return kNoSocket;
  sockaddr_storage addr{};
  socklen_t len;
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&addr);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *a;
  }
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(s, backlog) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  return s;
}

}  // namespace

void ScriptConnection::send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    int n = platform::socketSend(sock_, bytes.data() + done, static_cast<int>(bytes.size() - done));
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string ScriptConnection::readLine() {
  std::string line;
  char c;
  while (platform::socketReceive(sock_, &c, 1) == 1) {
    line += c;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
      line.resize(line.size() - 2);
      return line;
    }
  }
  return "";
}

bool ScriptConnection::expect(const std::string& prefix) {
  for (;;) {
    std::string line = readLine();
    if (line.empty()) return false;
    if (line.compare(0, prefix.size(), prefix) == 0) return true;
    if (line == "UIDL") send("-ERR\r\n");  // a server of RFC 1939 alone may lack it
  }
}

void ScriptConnection::greet(const std::string& greeting, const std::string& capabilities) {
  send(greeting);
  if (expect("CAPA")) send(capabilities);
}

void ScriptConnection::noDelay() {
  int on = 1;
  setsockopt(sock_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void ScriptConnection::login(const std::string& capabilities) {
  greet("+OK ready\r\n", capabilities);
  expect("USER");
  send("+OK\r\n");
  expect("PASS");
  send("+OK\r\n");
}

bool ScriptConnection::pending(int ms) { return platform::waitSocket(sock_, false, ms) == 1; }

int ScriptConnection::linesWaiting() {
  std::vector<char> peeked(1 << 17);
  int n = static_cast<int>(recv(sock_, peeked.data(), static_cast<int>(peeked.size()), MSG_PEEK));
  return n <= 0 ? 0 : static_cast<int>(std::count(peeked.begin(), peeked.begin() + n, '\n'));
}

void ScriptConnection::waitForClose() {
  char c;
  while (platform::socketReceive(sock_, &c, 1) == 1) {
  }
}

void ScriptConnection::close() { platform::shutdownSocket(sock_); }

ScriptServer::ScriptServer(Script script, bool ipv6) : script_(std::move(script)) {
  listener_ = listenOn(ipv6, &port_);
  acceptor_ = std::thread([this] {
    for (;;) {
      SOCKET c = accept(listener_, nullptr, nullptr);
      if (c == kNoSocket || stopping_) {
        if (c != kNoSocket) closesocket(c);
        return;
      }
      open_.push_back(c);
      workers_.emplace_back([this, c] {
        ScriptConnection conn(c);
        script_(conn);
        platform::shutdownSocket(c);
      });
    }
  });
}

ScriptServer::~ScriptServer() {
  stopping_ = true;
  // Wake the acceptor with a connection of our own, then end the scripts.
  sockaddr_storage self{};
  socklen_t len = sizeof self;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&self), &len);
  SOCKET wake = platform::streamSocket(self.ss_family, SOCK_STREAM, 0);
  if (platform::startConnect(wake, reinterpret_cast<sockaddr*>(&self), static_cast<int>(len)) == 1)
    platform::waitSocket(wake, true, 2000);
  acceptor_.join();
  platform::closeSocket(wake);
  for (SOCKET s : open_) platform::shutdownSocket(s);
  for (std::thread& t : workers_) t.join();
  for (SOCKET s : open_) closesocket(s);
  closesocket(listener_);
}

std::string topReply(const std::string& from, const std::string& subject) {
  return "+OK\r\nFrom: " + from + "\r\nSubject: " + subject + "\r\n\r\nbody\r\n.\r\n";
}

int refusedPort() {
  int port = 0;
  SOCKET s = listenOn(false, &port);
  closesocket(s);
  return port;
}

SilentListener::SilentListener() {
  listener_ = listenOn(false, &port_, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(port_));
  // Connections that are never accepted fill the queue; the first one
  // left unanswered shows it is full.
  for (int i = 0; i < 16; ++i) {
    SOCKET s = platform::streamSocket(AF_INET, SOCK_STREAM, 0);
    int r = platform::startConnect(s, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (r == 1 && platform::waitSocket(s, true, 300) == 1) r = platform::connectOutcome(s);
    if (r != 0) {
      platform::closeSocket(s);
      return;
    }
    queued_.push_back(s);
  }
}

void SilentListener::makeRoom() {
  SOCKET s = accept(listener_, nullptr, nullptr);
  if (s != kNoSocket) closesocket(s);
}

SilentListener::~SilentListener() {
  for (SOCKET s : queued_) platform::closeSocket(s);
  closesocket(listener_);
}

ScriptMaildrop::ScriptMaildrop(std::string capabilities)
    : capabilities_(std::move(capabilities)), server_([this](ScriptConnection& c) { serve(c); }) {}

void ScriptMaildrop::set(std::vector<Message> messages) {
  std::lock_guard<std::mutex> g(lock_);
  messages_ = std::move(messages);
}

void ScriptMaildrop::answer(const std::string& command, const std::string& reply) {
  std::lock_guard<std::mutex> g(lock_);
  answers_.emplace_back(command, reply);
}

void ScriptMaildrop::onCommand(Handler handler) {
  std::lock_guard<std::mutex> g(lock_);
  handler_ = std::move(handler);
}

void ScriptMaildrop::watchAhead(int ms) {
  std::lock_guard<std::mutex> g(lock_);
  watchMs_ = ms;
}

std::vector<std::string> ScriptMaildrop::commands() const {
  std::lock_guard<std::mutex> g(lock_);
  return commands_;
}

void ScriptMaildrop::serve(ScriptConnection& c) {
  c.send("+OK ready\r\n");
  for (;;) {
    std::string line = c.readLine();
    if (line.empty()) return;
    Handler handler;
    int watchMs;
    {
      std::lock_guard<std::mutex> g(lock_);
      commands_.push_back(line);
      handler = handler_;
      watchMs = watchMs_;
    }
    if (watchMs > 0 && c.pending(watchMs)) {
      ++ahead_;
      int now = 1 + c.linesWaiting();
      for (int most = most_; now > most && !most_.compare_exchange_weak(most, now);) {
      }
    }
    if (handler && handler(c, line)) continue;
    c.send(reply(line));
    if (line == "QUIT") return;
  }
}

std::string ScriptMaildrop::reply(const std::string& line) {
  std::lock_guard<std::mutex> g(lock_);
  for (const auto& a : answers_)
    if (line == a.first || line.compare(0, a.first.size() + 1, a.first + " ") == 0) return a.second;
  if (line == "CAPA") return capabilities_;
  if (line == "STAT") return "+OK " + std::to_string(messages_.size()) + " " + std::to_string(100 * messages_.size()) + "\r\n";
  if (line.rfind("TOP ", 0) == 0) {
    size_t n = static_cast<size_t>(atoi(line.c_str() + 4));
    if (n < 1 || n > messages_.size()) return "-ERR no such message\r\n";
    return topReply(messages_[n - 1].from, messages_[n - 1].subject);
  }
  if (line == "UIDL") {
    if (capabilities_.find("\r\nUIDL\r\n") == std::string::npos) return "-ERR\r\n";
    std::string listing = "+OK\r\n";
    for (size_t i = 0; i < messages_.size(); ++i)
      listing += std::to_string(i + 1) + " " +
                 std::to_string(std::hash<std::string>()(messages_[i].from + "\n" + messages_[i].subject)) + "\r\n";
    return listing + ".\r\n";
  }
  if (line == "QUIT") return "+OK bye\r\n";
  return "+OK\r\n";
}
