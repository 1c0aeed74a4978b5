#include "clock/sntp.h"

#include <cstring>

#include "app/application.h"
#include "platform/net.h"
#include "platform/trace.h"

void sntpRequest(uint8_t (&packet)[kSntpPacketSize]) {
  memset(packet, 0, sizeof packet);
  packet[0] = 0x0B;
}

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

platform::UtcTime sntpTransmitTime(const uint8_t (&reply)[kSntpPacketSize]) {
  auto be32 = [&](int at) {
    return uint32_t(reply[at]) << 24 | uint32_t(reply[at + 1]) << 16 | uint32_t(reply[at + 2]) << 8 |
           uint32_t(reply[at + 3]);
  };
  uint32_t unixSeconds = be32(40) + 2085978496u;  // modulo 2^32
  platform::UtcTime t = utcFromUnix(unixSeconds);
  t.millisecond = static_cast<int>((uint64_t(be32(44)) * 1000) >> 32);
  return t;
}

namespace {
int failAttempt(Kel& kel, const char* line) {
  platform::trace(line);
  platform::closeSocket(kel.clockSocket);
  kel.clockSocket = kNoSocket;
  return -1;
}
}  // namespace

int queryTimeServer(Kel& kel) {
  SOCKET s = kel.clockSocket;
  if (!platform::bindAnyPort(s, sntpLocalPort)) platform::trace("受信ポート番号の指定に失敗\n");
  char server[sizeof kel.server];
  {
    std::lock_guard<std::mutex> g(kel.checkLock);  // the settings sheet may be editing it
    memcpy(server, kel.server, sizeof server);
  }
  server[sizeof server - 1] = '\0';
  uint32_t address = 0;
  if (!platform::resolveIpv4(server, &address))
    return failAttempt(kel, "Error: ホストアドレス取得失敗\n");
  uint8_t packet[kSntpPacketSize];
  sntpRequest(packet);
  if (platform::sendDatagram(s, packet, sizeof packet, address, kSntpServerPort) < 0)
    return failAttempt(kel, "Error: サーバへの送信失敗\n");
  int ready = platform::waitReadable(s, kSntpWaitMs);
  if (ready == 0) return failAttempt(kel, "Error: タイムアウトしました\n");
  if (ready < 0) return failAttempt(kel, "Error: サーバからの受信失敗\n");
  uint8_t reply[kSntpPacketSize] = {};
  int got = platform::receiveDatagram(s, reply, sizeof reply);
  // A short reply leaves the timestamp undefined: a failed attempt.
  if (got < static_cast<int>(kSntpPacketSize)) return failAttempt(kel, "Error: サーバからの受信失敗\n");
  platform::closeSocket(s);
  kel.clockSocket = kNoSocket;

  platform::UtcTime t = sntpTransmitTime(reply);
  if (platform::setSystemClock(t))
    platform::trace("NTPサーバの時刻に同期しました\n");
  else
    platform::trace("Error: 時刻の設定に失敗\n");
  return 0;
}

void runClockSync(Kel& kel) {
  bool empty;
  {
    std::lock_guard<std::mutex> g(kel.checkLock);
    empty = kel.server[0] == '\0';
  }
  if (empty) {
    // The settings page promises that an empty server switches this off.
    platform::trace("SNTPサーバが空なので時刻合わせをしません\n");
  } else {
    for (int attempt = 0; attempt < kSntpAttempts; ++attempt) {
      platform::closeSocket(kel.clockSocket);  // the one made at start-up, at first
      kel.clockSocket = platform::udpSocket();
      if (kel.clockSocket == kNoSocket) {
        platform::trace("ソケットの作成に失敗しました。\n");
        continue;
      }
      if (queryTimeServer(kel) == 0) break;
    }
  }
  kel.clockState = kFinished;
}
