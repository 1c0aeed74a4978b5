#include "clock/sntp.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "app/application.h"
#include "platform/bytes.h"
#include "platform/net.h"
#include "platform/trace.h"

NtpTimestamp ntpFromUnix(int64_t seconds, uint32_t nanoseconds) {
  uint32_t s = static_cast<uint32_t>(static_cast<uint64_t>(seconds) + 2208988800u);  // modulo 2^32
  uint32_t fraction = static_cast<uint32_t>((uint64_t(nanoseconds % 1000000000u) << 32) / 1000000000u);
  return uint64_t(s) << 32 | fraction;
}

NtpTimestamp ntpNow() {
  using namespace std::chrono;
  auto sinceEpoch = system_clock::now().time_since_epoch();
  auto whole = floor<seconds>(sinceEpoch);
  auto ns = duration_cast<nanoseconds>(sinceEpoch - whole).count();
  NtpTimestamp t = ntpFromUnix(whole.count(), static_cast<uint32_t>(ns));
  return t != 0 ? t : 1;
}

void sntpRequest(uint8_t (&packet)[kSntpPacketSize], NtpTimestamp transmit) {
  memset(packet, 0, sizeof packet);
  packet[0] = 0x0B;
  platform::writeBe64(packet + 40, transmit);
}

bool sntpReplyAcceptable(const uint8_t* reply, size_t length, NtpTimestamp sent) {
  if (length < kSntpPacketSize) return false;
  int mode = reply[0] & 7;
  int stratum = reply[1];
  return mode == 4 && stratum >= 1 && stratum <= 15 && platform::readBe64(reply + 40) != 0 &&
         platform::readBe64(reply + 24) == sent;
}

bool sntpServerUnsynchronised(const uint8_t (&reply)[kSntpPacketSize]) { return reply[0] >> 6 == 3; }

platform::UtcTime utcFromUnix(uint32_t seconds) {
  uint32_t days = seconds / 86400;
  uint32_t rest = seconds % 86400;
  // Days to a civil date, counting from 0000-03-01 (Howard Hinnant's method).
  int64_t z = static_cast<int64_t>(days) + 719468;
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
          static_cast<int>(rest % 60), 0};
}

double sntpOffset(const uint8_t (&reply)[kSntpPacketSize], NtpTimestamp sent, NtpTimestamp arrived) {
  // Differences of 32.32 fixed-point times, taken modulo 2^64 and read as
  // signed, are right across the era wrap of 2036.
  auto seconds = [](NtpTimestamp later, NtpTimestamp earlier) {
    return static_cast<double>(static_cast<int64_t>(later - earlier)) / 4294967296.0;
  };
  NtpTimestamp received = platform::readBe64(reply + 32), transmitted = platform::readBe64(reply + 40);
  return (seconds(received, sent) + seconds(transmitted, arrived)) / 2;
}

platform::UtcTime sntpTransmitTime(const uint8_t (&reply)[kSntpPacketSize]) {
  uint32_t unixSeconds = platform::readBe32(reply + 40) + 2085978496u;  // modulo 2^32
  platform::UtcTime t = utcFromUnix(unixSeconds);
  t.millisecond = static_cast<int>((uint64_t(platform::readBe32(reply + 44)) * 1000) >> 32);
  return t;
}

namespace {
using SteadyClock = std::chrono::steady_clock;

// The reply wait until `deadline`, in short slices, so that a program that
// ends is not held up: 1 readable, 0 timed out (or ending), -1 failed.
int waitForReply(const Kel& kel, SOCKET s, SteadyClock::time_point deadline) {
  while (!kel.stopping) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) return 0;
    int ready = platform::waitReadable(s, left < 250 ? static_cast<int>(left) : 250);
    if (ready != 0) return ready;
  }
  return 0;
}

AttemptEnd failAttempt(const char* line, AttemptEnd end = AttemptEnd::kFailed) {
  platform::trace(line);
  return end;
}

// A socket that failed is not used again: the next attempt makes another.
AttemptEnd dropSocket(Kel& kel, const char* line) {
  platform::closeSocket(kel.clockSocket);
  kel.clockSocket = kNoSocket;
  return failAttempt(line);
}

// Which request of the run a datagram answers, or -1.
int requestAnswered(const SntpRun& run, const uint8_t* reply, size_t length) {
  for (int i = 0; i < run.sentCount; ++i)
    if (sntpReplyAcceptable(reply, length, run.sent[i])) return i;
  return -1;
}

ClockOutcome outcomeOfFailure(AttemptEnd last) {
  switch (last) {
    case AttemptEnd::kNameNotFound: return ClockOutcome::kNameNotFound;
    case AttemptEnd::kUnsynchronised: return ClockOutcome::kUnsynchronised;
    default: return ClockOutcome::kNoAnswer;
  }
}
}  // namespace

bool openClockSocket(Kel& kel) {
  platform::closeSocket(kel.clockSocket);
  kel.clockSocket = platform::udpSocket();
  if (kel.clockSocket != kNoSocket) return true;
  platform::trace("ソケットの作成に失敗しました。\n");
  return false;
}

const ClockEffects kSystemClock = {platform::setSystemClock};

AttemptEnd queryTimeServer(Kel& kel, const ClockEffects& effects, SntpRun& run, ClockReport* report) {
  SOCKET s = kel.clockSocket;
  if (!run.resolved) {
    char server[sizeof kel.server];
    {
      std::lock_guard<std::mutex> g(kel.checkLock);  // the settings sheet may be editing it
      memcpy(server, kel.server, sizeof server);
    }
    server[sizeof server - 1] = '\0';
    // Once per run: a name with several addresses would otherwise send a
    // late reply's server out of hearing.
    if (!platform::resolveIpv4(server, &run.address))
      return failAttempt("Error: ホストアドレス取得失敗\n", AttemptEnd::kNameNotFound);
    run.resolved = true;
  }
  // Connected, the socket hears nothing but the server's port 123.
  if (!run.connected) {
    if (!platform::connectDatagram(s, run.address, kSntpServerPort))
      return dropSocket(kel, "Error: サーバへの送信失敗\n");
    run.connected = true;
  }
  uint8_t packet[kSntpPacketSize];
  NtpTimestamp sent = ntpNow();
  sntpRequest(packet, sent);
  if (platform::sendDatagram(s, packet, sizeof packet, run.address, kSntpServerPort) < 0)
    return dropSocket(kel, "Error: サーバへの送信失敗\n");
  if (run.sentCount < kSntpAttempts) run.sent[run.sentCount++] = sent;
  // The attempt reads until its time is over: a reply to any request of
  // this run is taken (a server 3 to 6 s away answers the one before);
  // a stray or forged datagram is passed over, and so is an "unreachable"
  // from the server's port.
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(run.attemptMs);
  uint8_t received[kSntpReceiveSize];
  int asked = -1;
  while (asked < 0) {
    int ready = waitForReply(kel, s, deadline);
    if (ready == 0) return failAttempt("Error: タイムアウトしました\n");
    if (ready < 0) return dropSocket(kel, "Error: サーバからの受信失敗\n");
    int got = platform::receiveDatagram(s, received, sizeof received);
    if (got == platform::kNoDatagram) continue;
    if (got < 0) return dropSocket(kel, "Error: サーバからの受信失敗\n");
    // A short one leaves the timestamp undefined and is not read.
    asked = requestAnswered(run, received, static_cast<size_t>(got));
  }
  NtpTimestamp arrived = ntpNow();
  uint8_t reply[kSntpPacketSize];  // what follows the first 48 bytes is not read
  memcpy(reply, received, sizeof reply);
  // An answer, but one that says not to trust it: the attempt has failed.
  if (sntpServerUnsynchronised(reply))
    return failAttempt("Error: サーバが同期していません\n", AttemptEnd::kUnsynchronised);

  // The clock is set to the transmit time as designed; the error is only
  // told, measured from the request the reply answers.
  report->offsetSeconds = sntpOffset(reply, run.sent[asked], arrived);
  report->refusal = effects.setClock(sntpTransmitTime(reply));
  if (report->refusal == platform::kClockSet) {
    report->outcome = ClockOutcome::kSynchronised;
    platform::trace("NTPサーバの時刻に同期しました\n");
  } else {
    report->outcome = ClockOutcome::kRefused;
    platform::trace("Error: 時刻の設定に失敗\n");
  }
  return AttemptEnd::kOver;
}

namespace {
// The attempts of one synchronisation on one socket: how the last one
// ended, and in `report` what an answer came to.
AttemptEnd synchronise(Kel& kel, const ClockEffects& effects, int attemptMs, ClockReport* report) {
  AttemptEnd last = AttemptEnd::kFailed;
  SntpRun run{attemptMs, false, false, 0, 0, {}};
  for (int attempt = 0; attempt < kSntpAttempts && !kel.stopping; ++attempt) {
    // The first attempt replaces the socket made at start-up; a later one
    // makes another only when a failure took it.
    if (attempt == 0 || kel.clockSocket == kNoSocket) {
      if (!openClockSocket(kel)) {
        last = AttemptEnd::kFailed;
        continue;
      }
      if (!platform::bindAnyPort(kel.clockSocket, sntpLocalPort)) platform::trace("受信ポート番号の指定に失敗\n");
      run.connected = false;
    }
    last = queryTimeServer(kel, effects, run, report);
    if (last == AttemptEnd::kOver) break;
  }
  platform::closeSocket(kel.clockSocket);
  kel.clockSocket = kNoSocket;
  return last;
}

bool pauseClock(const Kel& kel, int ms) {
  for (; ms > 0 && !kel.stopping; ms -= 50)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms < 50 ? ms : 50));
  return !kel.stopping;
}
}  // namespace

void runClockSync(Kel& kel, const ClockEffects& effects, const ClockTiming& timing) {
  const bool afterWake = kel.clockAfterWake.exchange(false);
  bool empty;
  {
    std::lock_guard<std::mutex> g(kel.checkLock);
    empty = kel.server[0] == '\0';
  }
  if (empty) {
    // The settings page promises that an empty server switches this off.
    platform::trace("SNTPサーバが空なので時刻合わせをしません\n");
  } else {
    ClockReport report{};
    AttemptEnd last = synchronise(kel, effects, timing.attemptMs, &report);
    // Just after waking the network may not be up yet.
    for (int i = 0; afterWake && last != AttemptEnd::kOver && i < kWakeRetries; ++i) {
      platform::trace("時刻合わせを後で再試行します\n");
      if (!pauseClock(kel, timing.wake.afterMs[i])) break;
      report = ClockReport{};
      last = synchronise(kel, effects, timing.attemptMs, &report);
    }
    if (last != AttemptEnd::kOver) report.outcome = outcomeOfFailure(last);
    // A run cut short by the program's end says nothing of the server.
    if (last == AttemptEnd::kOver || !kel.stopping) {
      report.when = platform::localNow();
      std::lock_guard<std::mutex> g(kel.checkLock);  // the status dialog may be reading it
      kel.clockReport = report;
    }
  }
  kel.clockState = kFinished;
}
