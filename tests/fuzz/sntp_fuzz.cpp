// libFuzzer target: a time server's reply of any bytes and length, to the
// request whose transmit time is the input's first 8 bytes. Only a whole
// server-mode reply from stratum 1-15 with a transmit time and our time as
// its originate may be taken; its transmit time must come out as a valid
// UTC time that glibc's timegm() turns back into the same second.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "clock/sntp.h"

namespace {
void fail(const char* what) {
  fprintf(stderr, "sntp: %s\n", what);
  abort();
}
uint64_t be64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}
bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  NtpTimestamp sent = be64(data);
  const uint8_t* reply = data + 8;
  size_t length = size - 8;

  // The request carries the time it was sent at, and nothing else but its first byte.
  uint8_t request[kSntpPacketSize];
  sntpRequest(request, sent);
  if (request[0] != 0x0B || be64(request + 40) != sent) fail("request");
  for (size_t i = 1; i < 40; ++i)
    if (request[i] != 0) fail("request not zero");

  bool whole = length >= kSntpPacketSize;
  bool expected = whole && (reply[0] & 7) == 4 && reply[1] >= 1 && reply[1] <= 15 && be64(reply + 40) != 0 &&
                  be64(reply + 24) == sent;
  if (sntpReplyAcceptable(reply, length, sent) != expected) fail("reply judged otherwise");
  if (!whole) return 0;

  uint8_t packet[kSntpPacketSize];
  memcpy(packet, reply, sizeof packet);
  platform::UtcTime t = sntpTransmitTime(packet);
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 1970 || t.year > 2106 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > days[t.month - 1] + (t.month == 2 && leap(t.year)) || t.hour < 0 || t.hour > 23 ||
      t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
    fail("no calendar time");
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  uint64_t seconds = static_cast<uint64_t>(be64(packet + 40) >> 32);
  if (static_cast<int64_t>(timegm(&tm)) != static_cast<int64_t>((seconds + 2085978496u) & 0xFFFFFFFFu))
    fail("not the second of the transmit time");
  uint64_t thousandths = (be64(packet + 40) & 0xFFFFFFFFu) * 1000;  // in units of 2^-32 ms
  if (t.millisecond < 0 || t.millisecond > 999 || uint64_t(t.millisecond) << 32 > thousandths ||
      (uint64_t(t.millisecond) + 1) << 32 <= thousandths)
    fail("not the millisecond of the transmit fraction");

  // Our clock as the server would see it: the same second again.
  NtpTimestamp back = ntpFromUnix(timegm(&tm), static_cast<uint32_t>(t.millisecond) * 1000000u);
  if (back >> 32 != seconds) fail("NTP seconds of a Unix time");
  return 0;
}
