// The program-wide start of the socket library, once at start-up.
#pragma once

class Kel;

// Starts the socket library, then opens the clock's datagram socket.
// Returns 0, or 1 after a trace line; start-up goes on either way.
int startSocketLibrary(Kel& kel);
