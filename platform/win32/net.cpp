#include "platform/net.h"

#include <cstdlib>
#include <cstring>

namespace platform {
namespace {
void cleanupWinsock() { WSACleanup(); }
}  // namespace

bool netStartup() {
  WSADATA data;
  int started = WSAStartup(MAKEWORD(2, 0), &data);
  if (atexit(cleanupWinsock) != 0) return false;
  return started == 0;
}

SOCKET udpSocket() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  return s == INVALID_SOCKET ? kNoSocket : s;
}

void closeSocket(SOCKET s) {
  if (s == kNoSocket) return;
  shutdown(s, SD_BOTH);
  closesocket(s);
}

void shutdownSocket(SOCKET s) {
  if (s != kNoSocket) shutdown(s, SD_BOTH);
}

int tcpConnect(const char* host, const char* port, SOCKET* out) {
  *out = kNoSocket;
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_socktype = SOCK_STREAM;  // with the type open Wine answers type 0
  addrinfo* list = nullptr;
  if (getaddrinfo(host, port, &hints, &list) != 0) return 2;
  int rc = connectFirst(list, out);
  freeaddrinfo(list);
  return rc;
}

int connectFirst(const addrinfo* list, SOCKET* out) {
  *out = kNoSocket;
  for (const addrinfo* a = list; a; a = a->ai_next) {
    SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
      *out = s;
      break;
    }
    closesocket(s);
  }
  return *out == kNoSocket ? 3 : 0;
}

int socketReceive(SOCKET s, char* buf, int capacity) {
  int n = recv(s, buf, capacity, 0);
  return n > 0 ? n : -1;
}

int socketSend(SOCKET s, const char* data, int length) {
  int n = send(s, data, length, 0);
  return n >= 0 ? n : -1;
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
