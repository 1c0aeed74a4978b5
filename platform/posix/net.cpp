#include "platform/net.h"

#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace platform
