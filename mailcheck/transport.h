// The network transport: the program-wide start of the socket library, and
// the one connection to a POP3 server over TCP or TLS.
#pragma once

class Kel;

// Starts the socket library and creates the clock's datagram socket.
// Returns 0, or 1 after a trace line.
int startSocketLibrary(Kel& kel);
