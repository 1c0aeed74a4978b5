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

}  // namespace platform
