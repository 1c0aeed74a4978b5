#include "platform/net.h"

#include <cstdlib>

namespace platform {
namespace {
void cleanupWinsock() { WSACleanup(); }
}  // namespace

int lastSocketError() { return WSAGetLastError(); }
const int kTimedOutError = WSAETIMEDOUT;

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

SOCKET streamSocket(int family, int type, int protocol) {
  SOCKET s = socket(family, type, protocol);
  if (s == INVALID_SOCKET) return kNoSocket;
  u_long on = 1;
  if (ioctlsocket(s, FIONBIO, &on) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  BOOL noDelay = TRUE;  // commands sent ahead go out at once, not when the last is acknowledged
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  return s;
}

SOCKET acceptConnection(SOCKET listener) {
  SOCKET s = accept(listener, nullptr, nullptr);  // non-blocking as its listener
  return s == INVALID_SOCKET ? kNoSocket : s;
}

int startConnect(SOCKET s, const sockaddr* address, int length) {
  if (connect(s, address, length) == 0) return 0;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 1 : -1;
}

int socketReceive(SOCKET s, char* buf, int capacity) {
  int n = recv(s, buf, capacity, 0);
  if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return kWouldBlock;
  if (n == 0) return kPeerClosed;
  return n > 0 ? n : -1;
}

int socketSend(SOCKET s, const char* data, int length) {
  int n = send(s, data, length, 0);
  if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return kWouldBlock;
  return n >= 0 ? n : -1;
}

}  // namespace platform
