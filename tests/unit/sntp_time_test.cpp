#include <gtest/gtest.h>

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

TEST(SntpTime, RequestIsVersionOneClientMode) {
  uint8_t p[kSntpPacketSize];
  memset(p, 0xAA, sizeof p);
  sntpRequest(p);
  EXPECT_EQ(0x0B, p[0]);
  for (size_t i = 1; i < kSntpPacketSize; ++i) EXPECT_EQ(0, p[i]) << i;
}
