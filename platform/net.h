// Start of the socket library and the few socket calls that differ between
// Winsock and BSD sockets.
#pragma once

#include "platform/os_types.h"

#ifndef _WIN32
#include <netdb.h>
#endif

namespace platform {

// Winsock 2.0, cleaned up at process exit. True when the library is ready.
bool netStartup();
SOCKET udpSocket();
// Shuts the socket down both ways and closes it; kNoSocket is ignored.
void closeSocket(SOCKET s);
// Only shuts it down, so that a call blocked on it in another thread returns.
void shutdownSocket(SOCKET s);

// Resolves host and port for stream sockets only and connects to the first
// address that accepts. 0 connected, 2 the name did not resolve, 3 no
// address accepted. Sockets of refused addresses are closed.
int tcpConnect(const char* host, const char* port, SOCKET* out);
// The connect loop of tcpConnect over a resolved list: 0 or 3.
int connectFirst(const addrinfo* list, SOCKET* out);
// One recv or send with flags 0: the count, or -1 (a closed peer is -1 too).
int socketReceive(SOCKET s, char* buf, int capacity);
int socketSend(SOCKET s, const char* data, int length);

// Datagram calls of the clock client. IPv4 addresses are in network order.
bool bindAnyPort(SOCKET s, uint16_t port);
// A dotted address as it is, else the first IPv4 address of the name.
bool resolveIpv4(const char* host, uint32_t* address);
int sendDatagram(SOCKET s, const void* data, int length, uint32_t address, uint16_t port);
// 1 readable, 0 timed out, -1 failed.
int waitReadable(SOCKET s, int timeoutMs);
// The bytes received, or -1.
int receiveDatagram(SOCKET s, void* buf, int capacity);

}  // namespace platform
