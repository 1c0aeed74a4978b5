// The clock client's datagram calls: the same code over Winsock and BSD
// sockets.
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
