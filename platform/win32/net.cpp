#include "platform/net.h"

#include <cstdlib>

namespace platform {
namespace {
void cleanupWinsock() { WSACleanup(); }
}  // namespace

bool netStartup() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
  atexit(cleanupWinsock);
  return true;
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

}  // namespace platform
