// The SNTP client: one 48-byte request to the time server, up to five
// attempts, and the system clock set to the reply's transmit time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

class Kel;

constexpr uint16_t kSntpServerPort = 123;
constexpr uint16_t sntpLocalPort = 1024;
constexpr int kSntpWaitMs = 3000;
constexpr int kSntpAttempts = 5;
constexpr size_t kSntpPacketSize = 48;

// The request: leap 0, version 1, mode 3, the rest zero.
void sntpRequest(uint8_t (&packet)[kSntpPacketSize]);
// The transmit timestamp of a reply as UTC; NTP seconds wrap into
// 1970..2106, so times after 2036 come out right.
platform::UtcTime sntpTransmitTime(const uint8_t (&reply)[kSntpPacketSize]);
// Calendar fields of an unsigned count of seconds since 1970.
platform::UtcTime utcFromUnix(uint32_t seconds);

// One attempt on the socket in kel.clockSocket: 0 over (set, or refused),
// -1 failed.
int queryTimeServer(Kel& kel);
// The whole synchronisation; sets clockState to Finished as its last act.
void runClockSync(Kel& kel);
