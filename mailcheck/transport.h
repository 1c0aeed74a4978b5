// The network transport: the program-wide start of the socket library, and
// a connection to a POP3 server over TCP, or TLS from the first byte.
// Every call blocks; the check cycle's budget is the only bound.
#pragma once

#include "mailcheck/connection.h"

class Kel;

constexpr int kLineBudget = 8191;  // a line is at most 8190 bytes, CR LF included

// Starts the socket library and creates the clock's datagram socket.
// Returns 0, or 1 after a trace line.
int startSocketLibrary(Kel& kel);

// 0 connected; 2 the name did not resolve; 3 no address accepted; 4 TLS failed.
int connectServer(Connection& c, const char* host, int port, int useTls);
// One receive or send: the count, or -1.
int receiveBytes(Connection& c, char* buf, int capacity);
int sendBytes(Connection& c, const char* data, int length);
// Reads up to and including CR LF into buf (at least 8191 bytes; not
// NUL-terminated). The length, or -1 (also for a line that does not fit).
int readLine(Connection& c, char* buf);
void closeConnection(Connection& c);
