// Start of the socket library and the few socket calls that differ between
// Winsock and BSD sockets.
#pragma once

#include "platform/os_types.h"

#ifndef _WIN32
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace platform {

// Winsock 2.0, cleaned up at process exit. True when the library is ready.
// On posix it also keeps a peer's reset from raising SIGPIPE (OpenSSL's
// writes do not pass MSG_NOSIGNAL).
bool netStartup();
SOCKET udpSocket();
// Shuts the socket down both ways and closes it; kNoSocket is ignored.
void closeSocket(SOCKET s);
// Only shuts it down (the test servers end a conversation with it).
void shutdownSocket(SOCKET s);

// A receive or send that would have to wait.
constexpr int kWouldBlock = -2;
// A receive that met the peer's orderly close.
constexpr int kPeerClosed = -3;
// The system's number for the error of the last failed socket call on this
// thread (errno, WSAGetLastError), and its number for a timed-out connect.
int lastSocketError();
extern const int kTimedOutError;

// A non-blocking stream socket, or kNoSocket.
SOCKET streamSocket(int family, int type, int protocol);
// 0 connected, 1 under way (wait until writable), -1 failed.
int startConnect(SOCKET s, const sockaddr* address, int length);
// Once a connect under way has made the socket writable: 0 connected, -1 not
// (error, when given, receives the system's error number).
int connectOutcome(SOCKET s, int* error = nullptr);
// Waits at most timeoutMs for the socket to become readable (or writable,
// with forWrite; a connect that failed counts as ready). The same select()
// on Winsock, Wine and posix. 1 ready, 0 not yet, -1 failed.
int waitSocket(SOCKET s, bool forWrite, int timeoutMs);
// Waits at most timeoutMs for any of the connects under way to end (made or
// failed); ready[i] tells which. The number ended, 0 for none yet, or -1.
int waitConnects(const SOCKET* s, int count, bool* ready, int timeoutMs);
// Waits at most timeoutMs for any of the sockets to become readable (or to
// fail; a listener: a connection waits); ready[i] tells which. The number ready, 0 for none yet, or -1.
int waitAnyReadable(const SOCKET* s, int count, bool* ready, int timeoutMs);
// One recv or send with flags 0: the count, kWouldBlock, or -1; a receive
// that meets the peer's close gives kPeerClosed.
int socketReceive(SOCKET s, char* buf, int capacity);
int socketSend(SOCKET s, const char* data, int length);

// Datagram calls of the clock client. IPv4 addresses are in network order.
bool bindAnyPort(SOCKET s, uint16_t port);
// A dotted address as it is, else the first IPv4 address of the name.
bool resolveIpv4(const char* host, uint32_t* address);
int sendDatagram(SOCKET s, const void* data, int length, uint32_t address, uint16_t port);
// 1 readable, 0 timed out, -1 failed.
int waitReadable(SOCKET s, int timeoutMs);
// A receive that brought no datagram: the error an ICMP "unreachable" leaves
// on a connected datagram socket (Winsock's WSAECONNRESET, posix's
// ECONNREFUSED and their kin), or an interrupted call. Another may follow.
constexpr int kNoDatagram = -3;
// The bytes received, kNoDatagram, or -1. A datagram longer than the buffer
// gives its first `capacity` bytes on both platforms (Winsock would refuse
// it with WSAEMSGSIZE).
int receiveDatagram(SOCKET s, void* buf, int capacity);

// A listening stream socket on the loopback address of `family` (AF_INET:
// 127.0.0.1, AF_INET6: ::1; never any other address) at `port`, 0 for one the
// system picks; non-blocking; kNoSocket when it cannot be had. No other
// program may bind the same port while it is open.
SOCKET listenLoopback(int family, uint16_t port);
// The local port a socket is bound to, or 0.
uint16_t localPort(SOCKET s);
// A waiting connection of a listening socket, made non-blocking, or kNoSocket.
SOCKET acceptConnection(SOCKET listener);

// Connects a datagram socket to the server, so that only datagrams from
// that address and port are received on it.
bool connectDatagram(SOCKET s, uint32_t address, uint16_t port);

}  // namespace platform
