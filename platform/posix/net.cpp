#include "platform/net.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int lastSocketError() { return errno; }
const int kTimedOutError = ETIMEDOUT;

bool netStartup() {
  signal(SIGPIPE, SIG_IGN);
  return true;
}

SOCKET udpSocket() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
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

SOCKET streamSocket(int family, int type, int protocol) {
  int s = socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
  if (s < 0) return kNoSocket;
  int on = 1;  // commands sent ahead go out at once, not when the last is acknowledged
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return s;
}

SOCKET acceptConnection(SOCKET listener) {
  int s = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  return s < 0 ? kNoSocket : s;
}

int startConnect(SOCKET s, const sockaddr* address, int length) {
  int r;
  do {
    r = connect(static_cast<int>(s), address, static_cast<socklen_t>(length));
  } while (r != 0 && errno == EINTR);
  if (r == 0) return 0;
  return errno == EINPROGRESS ? 1 : -1;
}

int socketReceive(SOCKET s, char* buf, int capacity) {
  ssize_t n;
  do {
    n = recv(static_cast<int>(s), buf, static_cast<size_t>(capacity), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kWouldBlock;
  if (n == 0) return kPeerClosed;
  return n > 0 ? static_cast<int>(n) : -1;
}

int socketSend(SOCKET s, const char* data, int length) {
  ssize_t n;
  do {
    n = send(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kWouldBlock;
  return n >= 0 ? static_cast<int>(n) : -1;
}

}  // namespace platform
