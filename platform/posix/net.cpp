#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool netStartup() { return true; }

SOCKET udpSocket() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  return s < 0 ? kNoSocket : s;
}

void closeSocket(SOCKET s) {
  if (s == kNoSocket) return;
  shutdown(static_cast<int>(s), SHUT_RDWR);
  close(static_cast<int>(s));
}

void shutdownSocket(SOCKET s) {
  if (s != kNoSocket) shutdown(static_cast<int>(s), SHUT_RDWR);
}

int tcpConnect(const char* host, const char* port, SOCKET* out) {
  *out = kNoSocket;
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, port, &hints, &list) != 0) return 2;
  int rc = connectFirst(list, out);
  freeaddrinfo(list);
  return rc;
}

int connectFirst(const addrinfo* list, SOCKET* out) {
  *out = kNoSocket;
  for (const addrinfo* a = list; a; a = a->ai_next) {
    int s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) continue;
    int r;
    do {
      r = connect(s, a->ai_addr, a->ai_addrlen);
    } while (r != 0 && errno == EINTR);
    if (r == 0) {
      *out = s;
      break;
    }
    close(s);
  }
  return *out == kNoSocket ? 3 : 0;
}

int socketReceive(SOCKET s, char* buf, int capacity) {
  ssize_t n;
  do {
    n = recv(static_cast<int>(s), buf, static_cast<size_t>(capacity), 0);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<int>(n) : -1;
}

int socketSend(SOCKET s, const char* data, int length) {
  ssize_t n;
  do {
    n = send(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n >= 0 ? static_cast<int>(n) : -1;
}

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

int waitReadable(SOCKET s, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int n = select(static_cast<int>(s) + 1, &readable, nullptr, nullptr, &tv);
  if (n < 0) return -1;
  if (n == 0) return 0;
  return FD_ISSET(s, &readable) ? 1 : -1;
}

int receiveDatagram(SOCKET s, void* buf, int capacity) {
  int n = static_cast<int>(recvfrom(s, static_cast<char*>(buf), capacity, 0, nullptr, nullptr));
  return n >= 0 ? n : -1;
}

}  // namespace platform
