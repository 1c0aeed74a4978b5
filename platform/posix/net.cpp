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

}  // namespace platform
