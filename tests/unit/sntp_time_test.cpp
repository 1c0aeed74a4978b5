#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "clock/sntp.h"

namespace {
platform::UtcTime fromNtp(uint32_t seconds, uint32_t fraction) {
  uint8_t reply[kSntpPacketSize] = {};
  for (int i = 0; i < 4; ++i) {
    reply[40 + i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
    reply[44 + i] = static_cast<uint8_t>(fraction >> (24 - 8 * i));
  }
  return sntpTransmitTime(reply);
}
void expectTime(const platform::UtcTime& t, int y, int mo, int d, int h, int mi, int s, int ms) {
  EXPECT_EQ(y, t.year);
  EXPECT_EQ(mo, t.month);
  EXPECT_EQ(d, t.day);
  EXPECT_EQ(h, t.hour);
  EXPECT_EQ(mi, t.minute);
  EXPECT_EQ(s, t.second);
  EXPECT_EQ(ms, t.millisecond);
}
}  // namespace

TEST(SntpTime, TransmitTimestampToUtc) {
  expectTime(fromNtp(3913056000u, 0x80000000u), 2024, 1, 1, 0, 0, 0, 500);
  // Zero is no error: the NTP era wrap, 2036-02-07 06:28:16.
  expectTime(fromNtp(0, 0), 2036, 2, 7, 6, 28, 16, 0);
  expectTime(fromNtp(2208988800u, 0xFFFFFFFFu), 1970, 1, 1, 0, 0, 0, 999);
  expectTime(fromNtp(2208988799u, 0), 2106, 2, 7, 6, 28, 15, 0);
  expectTime(utcFromUnix(951782400u), 2000, 2, 29, 0, 0, 0, 0);  // a leap day
}

TEST(SntpTime, RequestIsVersionOneClientModeWithItsTransmitTime) {
  uint8_t p[kSntpPacketSize];
  memset(p, 0xAA, sizeof p);
  sntpRequest(p, 0xE93C8F0080000001ull);
  EXPECT_EQ(0x0B, p[0]);
  for (size_t i = 1; i < 40; ++i) EXPECT_EQ(0, p[i]) << i;
  const uint8_t transmit[8] = {0xE9, 0x3C, 0x8F, 0x00, 0x80, 0x00, 0x00, 0x01};
  EXPECT_EQ(0, memcmp(p + 40, transmit, 8));
}

TEST(SntpTime, NtpTimestampOfUnixTime) {
  EXPECT_EQ(uint64_t(3913056000u) << 32 | 0x80000000u, ntpFromUnix(1704067200, 500000000));
  EXPECT_EQ(uint64_t(2208988800u) << 32, ntpFromUnix(0, 0));
  // Past the era wrap of 2036 the seconds start again from zero.
  EXPECT_EQ(uint64_t(1) << 32, ntpFromUnix(2085978497, 0));
  EXPECT_EQ(0xFFFFFFFBu, ntpFromUnix(0, 999999999) & 0xFFFFFFFFu);
  // The clock now, within a second or two of time().
  time_t before = time(nullptr);
  NtpTimestamp now = ntpNow();
  time_t after = time(nullptr);
  uint32_t s = static_cast<uint32_t>(now >> 32);
  EXPECT_GE(s, static_cast<uint32_t>(before + 2208988800u));
  EXPECT_LE(s, static_cast<uint32_t>(after + 2208988800u));
}

namespace {
// A reply that answers the request sent at `sent`.
struct Reply {
  uint8_t bytes[kSntpPacketSize] = {};
  explicit Reply(NtpTimestamp sent) {
    bytes[0] = 0x1C;  // version 3, server mode
    bytes[1] = 1;
    for (int i = 0; i < 8; ++i) {
      bytes[24 + i] = static_cast<uint8_t>(sent >> (56 - 8 * i));
      bytes[40 + i] = static_cast<uint8_t>(0xE93C8F0080000000ull >> (56 - 8 * i));
    }
  }
};
}  // namespace

TEST(SntpTime, OnlyAServersAnswerToOurRequestIsTaken) {
  const NtpTimestamp sent = 0xE93C8F0012345678ull;
  Reply good(sent);
  EXPECT_TRUE(sntpReplyAcceptable(good.bytes, sizeof good.bytes, sent));
  EXPECT_FALSE(sntpReplyAcceptable(good.bytes, sizeof good.bytes - 1, sent));
  EXPECT_FALSE(sntpReplyAcceptable(good.bytes, sizeof good.bytes, sent + 1));
  // The version is not judged; the mode is, and apart from it the leap
  // indicator: 3 says the server's clock is not synchronised.
  for (int first = 0; first < 256; ++first) {
    Reply r(sent);
    r.bytes[0] = static_cast<uint8_t>(first);
    EXPECT_EQ((first & 7) == 4, sntpReplyAcceptable(r.bytes, sizeof r.bytes, sent)) << first;
    EXPECT_EQ(first >= 0xC0, sntpServerUnsynchronised(r.bytes)) << first;
  }
  for (int stratum = 0; stratum < 256; ++stratum) {
    Reply r(sent);
    r.bytes[1] = static_cast<uint8_t>(stratum);
    EXPECT_EQ(stratum >= 1 && stratum <= 15, sntpReplyAcceptable(r.bytes, sizeof r.bytes, sent)) << stratum;
  }
  // A transmit time of zero is none; one set bit anywhere is one.
  Reply zero(sent);
  memset(zero.bytes + 40, 0, 8);
  EXPECT_FALSE(sntpReplyAcceptable(zero.bytes, sizeof zero.bytes, sent));
  zero.bytes[47] = 1;
  EXPECT_TRUE(sntpReplyAcceptable(zero.bytes, sizeof zero.bytes, sent));
  // Every byte of the originate counts.
  for (int i = 24; i < 32; ++i) {
    Reply r(sent);
    r.bytes[i] ^= 0x80;
    EXPECT_FALSE(sntpReplyAcceptable(r.bytes, sizeof r.bytes, sent)) << i;
  }
}

// theta = ((T2 - T1) + (T3 - T4)) / 2, positive when this computer is
// behind; right across the era wrap of 2036.
TEST(SntpTime, OffsetOfAReply) {
  const struct {
    NtpTimestamp t1, t2, t3, t4;
    double theta;
  } cases[] = {
      {100ull << 32, 110ull << 32, 110ull << 32, 100ull << 32, 10.0},
      {100ull << 32, 101ull << 32, 101ull << 32, 102ull << 32, 0.0},  // one second each way
      {(200ull << 32) | 0x80000000u, 180ull << 32, 180ull << 32, 201ull << 32, -20.75},
      {0xFFFFFFFFull << 32, 4ull << 32, 4ull << 32, 0xFFFFFFFFull << 32, 5.0},  // the server past the wrap
  };
  for (const auto& c : cases) {
    uint8_t reply[kSntpPacketSize] = {};
    for (int i = 0; i < 8; ++i) {
      reply[32 + i] = static_cast<uint8_t>(c.t2 >> (56 - 8 * i));
      reply[40 + i] = static_cast<uint8_t>(c.t3 >> (56 - 8 * i));
    }
    EXPECT_DOUBLE_EQ(c.theta, sntpOffset(reply, c.t1, c.t4)) << c.theta;
  }
}
