// The TCP connection to the first of a server's addresses that accepts,
// its attempts raced against each other's.
#pragma once

#include <cstddef>

#include "mailcheck/connection.h"
#include "mailcheck/error_code.h"

struct addrinfo;
struct sockaddr;

constexpr int kRaceDelayMs = 250;  // before the next address joins the race
constexpr size_t kMostRacing = 16;  // attempts under way at once
constexpr int kPlaceHeldMs = 2000;  // before an attempt makes way for a waiting address

// The TCP part over a resolved list: the first address that accepts, its
// attempt raced against the others'. kErrorNone or kErrorConnectFailed;
// every other socket is closed.
ErrorCode connectFirst(Connection& c, const addrinfo* list);
// Notes the address a connection is being tried to (the connect code calls
// it for every attempt).
void noteAttempt(Connection& c, const sockaddr* address, size_t length);
