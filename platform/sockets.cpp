// Socket calls that are the same code over Winsock and BSD sockets: the
// outcome of a connect and the readiness wait of every connection, and the
// clock client's datagrams.
#include "platform/net.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <cerrno>
#endif

namespace platform {

bool bindAnyPort(SOCKET s, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  return bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool resolveIpv4(const char* host, uint32_t* address) {
  in_addr dotted{};
  if (inet_pton(AF_INET, host, &dotted) == 1) {
    *address = dotted.s_addr;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &list) != 0 || !list) return false;
  *address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(list);
  return true;
}

int sendDatagram(SOCKET s, const void* data, int length, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  return static_cast<int>(sendto(s, static_cast<const char*>(data), length, 0,
                                 reinterpret_cast<sockaddr*>(&to), sizeof to));
}

int connectOutcome(SOCKET s, int* error) {
  int found = 0;
  socklen_t size = sizeof found;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&found), &size) != 0) {
    if (error) *error = lastSocketError();
    return -1;
  }
  if (error) *error = found;
  return found == 0 ? 0 : -1;
}

int waitSocket(SOCKET s, bool forWrite, int timeoutMs) {
#ifndef _WIN32
  if (s >= FD_SETSIZE) return -1;  // select() cannot watch it
#endif
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  // Winsock reports a failed connect among the exceptions, not as writable.
  int n = select(static_cast<int>(s) + 1, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr,
                 forWrite ? &failed : nullptr, &tv);
  if (n < 0) return -1;
  return n == 0 ? 0 : 1;
}

int waitConnects(const SOCKET* s, int count, bool* ready, int timeoutMs) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  int highest = 0;
  for (int i = 0; i < count; ++i) {
#ifndef _WIN32
    if (s[i] >= FD_SETSIZE) {  // select() cannot watch it
      errno = EINVAL;
      return -1;
    }
#endif
    FD_SET(s[i], &writable);
    FD_SET(s[i], &failed);
    if (static_cast<int>(s[i]) > highest) highest = static_cast<int>(s[i]);
  }
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int n = select(highest + 1, nullptr, &writable, &failed, &tv);
  if (n < 0) return -1;
  int ended = 0;
  for (int i = 0; i < count; ++i) {
    ready[i] = FD_ISSET(s[i], &writable) || FD_ISSET(s[i], &failed);
    ended += ready[i];
  }
  return ended;
}

SOCKET listenLoopback(int family, uint16_t port) {
  sockaddr_storage a{};
  socklen_t size;
  if (family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4->sin_port = htons(port);
    size = sizeof *v4;
  } else {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    v6->sin6_port = htons(port);
    size = sizeof *v6;
  }
  SOCKET s = streamSocket(family, SOCK_STREAM, 0);
  if (s == kNoSocket) return kNoSocket;
#ifdef _WIN32
  // Another program cannot take the port over and read the browser's answer.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
#endif
  if (bind(s, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(s, 8) != 0) {
    closeSocket(s);
    return kNoSocket;
  }
  return s;
}

uint16_t localPort(SOCKET s) {
  sockaddr_storage a{};
  socklen_t size = sizeof a;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0) return 0;
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
  return 0;
}

int waitAnyReadable(const SOCKET* s, int count, bool* ready, int timeoutMs) {
  fd_set readable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&failed);
  int highest = 0;
  for (int i = 0; i < count; ++i) {
#ifndef _WIN32
    if (s[i] >= FD_SETSIZE) return -1;
#endif
    FD_SET(s[i], &readable);
    FD_SET(s[i], &failed);
    if (static_cast<int>(s[i]) > highest) highest = static_cast<int>(s[i]);
  }
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int n = select(highest + 1, &readable, nullptr, &failed, &tv);
  if (n < 0) return -1;
  int found = 0;
  for (int i = 0; i < count; ++i) {
    ready[i] = FD_ISSET(s[i], &readable) || FD_ISSET(s[i], &failed);
    found += ready[i];
  }
  return found;
}

int waitReadable(SOCKET s, int timeoutMs) { return waitSocket(s, false, timeoutMs); }

int receiveDatagram(SOCKET s, void* buf, int capacity) {
  int n = static_cast<int>(recvfrom(s, static_cast<char*>(buf), capacity, 0, nullptr, nullptr));
  if (n >= 0) return n;
#ifdef _WIN32
  switch (WSAGetLastError()) {
    case WSAEMSGSIZE: return capacity;  // the buffer holds the datagram's first bytes
    // Windows says WSAECONNRESET; Wine passes the host's ECONNREFUSED on.
    case WSAECONNRESET:
    case WSAECONNREFUSED:
    case WSAENETRESET:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAEINTR: return kNoDatagram;
    default: return -1;
  }
#else
  switch (errno) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EINTR: return kNoDatagram;
    default: return -1;
  }
#endif
}

bool connectDatagram(SOCKET s, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  return connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
}

}  // namespace platform
