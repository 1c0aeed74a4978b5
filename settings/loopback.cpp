#include "settings/loopback.h"

#include <cstddef>
#include <vector>

#include "platform/monotonic.h"
#include "platform/net.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace {

// A browser may open several connections and leave some silent; each is
// kept until the end, the oldest given up when there are too many.
constexpr size_t kMostConnections = 16;
// A request head longer than this is no redirect of ours.
constexpr size_t kLongestHead = 16384;

struct Client {
  SOCKET s;
  std::string head;
};

// The reply is short: a send that cannot finish within a second is dropped.
void sendAll(SOCKET s, const std::string& data) {
  size_t sent = 0;
  uint64_t end = platform::monotonicMs() + 1000;
  while (sent < data.size() && platform::monotonicMs() < end) {
    int n = platform::socketSend(s, data.data() + sent, static_cast<int>(data.size() - sent));
    if (n == platform::kWouldBlock) {
      platform::waitSocket(s, true, 100);
    } else if (n <= 0) {
      return;
    } else {
      sent += static_cast<size_t>(n);
    }
  }
}

void closeAll(std::vector<Client>& clients) {
  for (Client& c : clients) platform::closeSocket(c.s);
  clients.clear();
}

// Reads what has come on a client. True when the client is done with: its
// request answered (and `answer` set when it was the redirect), or closed.
bool serve(Client& c, const std::string& state, RedirectAnswer* answer, bool* redirected) {
  char buf[2048];
  for (;;) {
    int n = platform::socketReceive(c.s, buf, sizeof buf);
    if (n == platform::kWouldBlock) return false;
    if (n <= 0) return true;  // closed (a pre-connect that was not used) or failed
    c.head.append(buf, static_cast<size_t>(n));
    size_t end = c.head.find("\r\n\r\n");
    if (end == std::string::npos && c.head.size() < kLongestHead) continue;
    RedirectAnswer a = end == std::string::npos ? RedirectAnswer{} : readRedirect(c.head.substr(0, end), state);
    sendAll(c.s, redirectReply(a.kind));
    if (a.kind != RedirectKind::kNotOurs) {
      *answer = a;
      *redirected = true;
    }
    return true;
  }
}

}  // namespace

bool openLoopback(LoopbackListener* l) {
  *l = LoopbackListener{};
  // The port the system gives 127.0.0.1 is then asked of ::1; taken there
  // by another program, a new pair is tried.
  for (int attempt = 0; attempt < 8; ++attempt) {
    SOCKET v4 = platform::listenLoopback(AF_INET, 0);
    if (v4 == kNoSocket) return false;
    uint16_t port = platform::localPort(v4);
    if (port == 0) {
      platform::closeSocket(v4);
      return false;
    }
    SOCKET v6 = platform::listenLoopback(AF_INET6, port);
    l->sockets[0] = v4;
    l->count = 1;
    l->port = port;
    if (v6 != kNoSocket) {
      l->sockets[1] = v6;
      l->count = 2;
      return true;
    }
    // No ::1 on this system at all: 127.0.0.1 alone serves.
    SOCKET probe = platform::listenLoopback(AF_INET6, 0);
    if (probe == kNoSocket) return true;
    platform::closeSocket(probe);
    platform::closeSocket(v4);
    *l = LoopbackListener{};
  }
  return false;
}

void closeLoopback(LoopbackListener* l) {
  for (int i = 0; i < l->count; ++i) platform::closeSocket(l->sockets[i]);
  *l = LoopbackListener{};
}

WaitOutcome awaitRedirect(LoopbackListener& l, const std::string& state, const std::atomic<bool>& cancel,
                          uint64_t timeoutMs, RedirectAnswer* answer) {
  std::vector<Client> clients;
  uint64_t end = platform::monotonicMs() + timeoutMs;
  for (;;) {
    if (cancel.load()) {
      closeAll(clients);
      return WaitOutcome::kCancelled;
    }
    uint64_t now = platform::monotonicMs();
    if (now >= end) {
      closeAll(clients);
      return WaitOutcome::kTimedOut;
    }
    std::vector<SOCKET> watched(l.sockets, l.sockets + l.count);
    for (const Client& c : clients) watched.push_back(c.s);
    bool ready[2 + kMostConnections] = {};
    uint64_t left = end - now;
    int n = platform::waitAnyReadable(watched.data(), static_cast<int>(watched.size()), ready,
                                      static_cast<int>(left < 250 ? left : 250));
    if (n < 0) {
      closeAll(clients);
      return WaitOutcome::kFailed;
    }
    bool redirected = false;
    for (size_t i = clients.size(); i-- > 0;) {
      if (!ready[l.count + i] || !serve(clients[i], state, answer, &redirected)) continue;
      platform::closeSocket(clients[i].s);
      clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      if (redirected) {
        closeAll(clients);
        return WaitOutcome::kAnswered;
      }
    }
    for (int i = 0; i < l.count; ++i) {
      if (!ready[i]) continue;
      SOCKET s = platform::acceptConnection(l.sockets[i]);
      if (s == kNoSocket) continue;
      if (clients.size() == kMostConnections) {
        platform::closeSocket(clients.front().s);
        clients.erase(clients.begin());
      }
      clients.push_back({s, std::string()});
    }
  }
}
