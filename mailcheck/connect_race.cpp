#include "mailcheck/connect_race.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mailcheck/transport.h"
#include "platform/net.h"

namespace {
using Clock = std::chrono::steady_clock;

// The addresses in the order they are tried: the families taking turns,
// each in the resolver's order, the first address's family first.
std::vector<const addrinfo*> raceOrder(const addrinfo* list) {
  std::vector<const addrinfo*> first, other;
  for (const addrinfo* a = list; a; a = a->ai_next) (a->ai_family == list->ai_family ? first : other).push_back(a);
  std::vector<const addrinfo*> order;
  for (size_t i = 0; i < first.size() || i < other.size(); ++i) {
    if (i < first.size()) order.push_back(first[i]);
    if (i < other.size()) order.push_back(other[i]);
  }
  return order;
}
}  // namespace

void noteAttempt(Connection& c, const sockaddr* address, size_t length) {
  LinkFailure& f = c.failure;
  char host[sizeof f.address - 2] = "";
  char port[16] = "";
  if (getnameinfo(address, static_cast<socklen_t>(length), host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    snprintf(host, sizeof host, "?");
  // An IPv6 address in brackets, so that its port stands apart.
  snprintf(f.address, sizeof f.address, address->sa_family == AF_INET6 ? "[%s]" : "%s", host);
  f.port = atoi(port);
  f.systemError = 0;
}

// Attempts race as RFC 8305 has them: the next address starts 250 ms after
// the one before, or at once when every attempt so far has failed; the
// first to connect wins and the others are closed. When every place is
// taken and an address is still waiting, the oldest attempt that has waited
// kPlaceHeldMs makes way for it; the last attempts run until they end.
ErrorCode connectFirst(Connection& c, const addrinfo* list) {
  c.sock = kNoSocket;
  std::vector<const addrinfo*> order = raceOrder(list);
  struct Attempt {
    SOCKET sock;
    const addrinfo* address;  // for the reason
    Clock::time_point started;
  };
  std::vector<Attempt> racing;  // the oldest first
  size_t next = 0;
  Clock::time_point nextStart = Clock::now();
  const auto held = std::chrono::milliseconds(kPlaceHeldMs);
  auto closeAll = [&racing] {
    for (const Attempt& a : racing) platform::closeSocket(a.sock);
    racing.clear();
  };
  // The reason names the address whose attempt ended last.
  auto failed = [&c](const addrinfo* a, int error) {
    noteAttempt(c, a->ai_addr, a->ai_addrlen);
    c.failure.systemError = error;
  };
  while (!linkCancelled(c)) {
    Clock::time_point now = Clock::now();
    bool waiting = next < order.size() && (now >= nextStart || racing.empty());
    if (waiting && racing.size() == kMostRacing && now - racing.front().started >= held) {
      failed(racing.front().address, platform::kTimedOutError);
      platform::closeSocket(racing.front().sock);
      racing.erase(racing.begin());
    }
    if (waiting && racing.size() < kMostRacing) {
      const addrinfo* a = order[next++];
      SOCKET s = platform::streamSocket(a->ai_family, a->ai_socktype, a->ai_protocol);
      int r = s == kNoSocket ? -1 : platform::startConnect(s, a->ai_addr, static_cast<int>(a->ai_addrlen));
      if (r == 0) {
        closeAll();
        c.sock = s;
        return kErrorNone;
      }
      if (r == 1) {
        racing.push_back({s, a, now});
        nextStart = now + std::chrono::milliseconds(kRaceDelayMs);
      } else {
        failed(a, platform::lastSocketError());
        if (s != kNoSocket) platform::closeSocket(s);
        nextStart = now;
      }
      continue;
    }
    if (racing.empty()) break;  // every address failed
    int waitMs = kWaitSliceMs;
    if (next < order.size()) {
      Clock::time_point wake = nextStart;
      if (racing.size() == kMostRacing && racing.front().started + held > wake) wake = racing.front().started + held;
      auto until = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
      if (until < waitMs) waitMs = until > 0 ? static_cast<int>(until) : 0;
    }
    SOCKET socks[kMostRacing];
    for (size_t i = 0; i < racing.size(); ++i) socks[i] = racing[i].sock;
    bool ready[kMostRacing];
    int n = platform::waitConnects(socks, static_cast<int>(racing.size()), ready, waitMs);
    if (n < 0) {
      failed(racing.back().address, platform::lastSocketError());
      closeAll();
      return kErrorConnectFailed;
    }
    for (size_t i = racing.size(); i-- > 0;) {
      if (!ready[i]) continue;
      Attempt a = racing[i];
      racing.erase(racing.begin() + static_cast<std::ptrdiff_t>(i));
      int error = 0;
      if (platform::connectOutcome(a.sock, &error) == 0) {
        closeAll();
        c.sock = a.sock;
        return kErrorNone;
      }
      failed(a.address, error);
      platform::closeSocket(a.sock);
      nextStart = Clock::now();
    }
  }
  if (!racing.empty()) failed(racing.back().address, platform::kTimedOutError);
  closeAll();
  return kErrorConnectFailed;
}
