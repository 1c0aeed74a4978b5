// The SNTP client: one 48-byte request to the time server, up to five
// attempts, and the system clock set to the reply's transmit time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/wake.h"
#include "clock/clock_report.h"
#include "platform/clock.h"

class Kel;

constexpr uint16_t kSntpServerPort = 123;
constexpr uint16_t sntpLocalPort = 1024;
constexpr int kSntpWaitMs = 3000;
constexpr int kSntpAttempts = 5;
constexpr size_t kSntpPacketSize = 48;
// Room for a reply with extension fields or a MAC after its 48 bytes.
constexpr size_t kSntpReceiveSize = 1024;

// An NTP timestamp as one number: seconds since 1900 (modulo 2^32) in the
// high half, the fraction of a second in units of 2^-32 s in the low half.
using NtpTimestamp = uint64_t;

// This machine's clock now; never 0, which would match a server that
// leaves the originate field empty.
NtpTimestamp ntpNow();
NtpTimestamp ntpFromUnix(int64_t seconds, uint32_t nanoseconds);

// The request: leap 0, version 1, mode 3, the client's transmit time in
// bytes 40-47, the rest zero.
void sntpRequest(uint8_t (&packet)[kSntpPacketSize], NtpTimestamp transmit);
// A reply is taken only when it is a whole packet in server mode (4), from
// a stratum of 1 to 15, with a transmit time, and answers our request: its
// originate time is the transmit time we sent.
bool sntpReplyAcceptable(const uint8_t* reply, size_t length, NtpTimestamp sent);
// Leap indicator 3: the server says its own clock is not synchronised, and
// its time is not to be taken (RFC 4330 section 5).
bool sntpServerUnsynchronised(const uint8_t (&reply)[kSntpPacketSize]);
// How far this computer's clock was off, in seconds, positive when it was
// behind: ((T2 - T1) + (T3 - T4)) / 2 of RFC 4330, with the request sent at
// T1 and the reply's arrival at T4.
double sntpOffset(const uint8_t (&reply)[kSntpPacketSize], NtpTimestamp sent, NtpTimestamp arrived);
// The transmit timestamp of a reply as UTC; NTP seconds wrap into
// 1970..2106, so times after 2036 come out right.
platform::UtcTime sntpTransmitTime(const uint8_t (&reply)[kSntpPacketSize]);
// Calendar fields of an unsigned count of seconds since 1970.
platform::UtcTime utcFromUnix(uint32_t seconds);

// What the synchronisation does to this machine; tests record it instead.
// setClock answers platform::kClockSet or the reason for a refusal.
struct ClockEffects {
  uint32_t (*setClock)(const platform::UtcTime& t);
};
// The program's: platform::setSystemClock.
extern const ClockEffects kSystemClock;

// How long the synchronisation waits; tests may shorten it.
struct ClockTiming {
  int attemptMs;     // 3000: an attempt's wait for a reply
  WakeRetries wake;  // 15, 30, 60 s: a sync after waking that finds no server tries again
};
constexpr ClockTiming kClockTiming = {kSntpWaitMs, kWakeRetryWaits};

// A new datagram socket in kel.clockSocket, in place of the one there.
// False, after a trace line, when none could be made.
bool openClockSocket(Kel& kel);
// How an attempt ended: over (the clock was set or setting it refused, as
// `report` says), or failed, and on what.
enum class AttemptEnd { kOver, kFailed, kNameNotFound, kUnsynchronised };
// What the attempts of one synchronisation share: the server's address, and
// the requests sent, so that a reply that comes late is still taken.
struct SntpRun {
  int attemptMs;
  bool resolved;
  bool connected;  // the socket in kel.clockSocket hears only the server
  uint32_t address;
  int sentCount;
  NtpTimestamp sent[kSntpAttempts];
};
// One attempt on the socket in kel.clockSocket: a request, then up to
// run.attemptMs for a reply to it or to an earlier request of the run.
AttemptEnd queryTimeServer(Kel& kel, const ClockEffects& effects, SntpRun& run, ClockReport* report);
// The whole synchronisation; leaves its outcome in kel.clockReport (an empty
// server runs none and leaves none) and sets clockState to Finished as its
// last act. The one after waking (kel.clockAfterWake) tries again after the
// waits of timing.wake while no server answers.
void runClockSync(Kel& kel, const ClockEffects& effects, const ClockTiming& timing = kClockTiming);
