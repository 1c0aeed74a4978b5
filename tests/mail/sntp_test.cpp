// The clock synchronisation against chronyd on a loopback address (started
// by the test runner), with the clock setter replaced by a recorder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "clock/sntp.h"
#include "platform/net.h"
#include "tests/mail/mail_test_support.h"

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#define closesocket close
#endif

namespace {

platform::UtcTime lastSet;
int setCount = 0;
bool recordClock(const platform::UtcTime& t) {
  lastSet = t;
  ++setCount;
  return true;
}

struct ClockRecorder {
  platform::SetClockFn saved = platform::setSystemClock;
  ClockRecorder() {
    setCount = 0;
    platform::setSystemClock = recordClock;
  }
  ~ClockRecorder() { platform::setSystemClock = saved; }
};

std::unique_ptr<Kel> kelFor(const char* server) {
  std::unique_ptr<Kel> k(new Kel());
  snprintf(k->server, sizeof k->server, "%s", server);
  k->clockSocket = kNoSocket;
  k->clockState = kRunning;
  return k;
}

// Seconds between a UtcTime and now.
double secondsFromNow(const platform::UtcTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
#ifdef _WIN32
  time_t set = _mkgmtime(&tm);
#else
  time_t set = timegm(&tm);
#endif
  return difftime(set, time(nullptr));
}

const char* chronyAddress() {
  const char* a = getenv("KEL_SNTP_SERVER");
  return a ? a : "";
}

// A UDP socket on ADDRESS:port that never answers (or answers short); on
// 127.0.0.1, since Wine binds only to addresses of an interface.
SOCKET udpOn(const char* address, uint16_t port) {
  SOCKET s = platform::udpSocket();
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  uint32_t ip = 0;
  platform::resolveIpv4(address, &ip);
  a.sin_addr.s_addr = ip;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  return s;
}

}  // namespace

TEST(Sntp, SetsTheServersTime) {
  ASSERT_STRNE("", chronyAddress()) << "KEL_SNTP_SERVER is not set: run through tools/run-tests.sh";
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor(chronyAddress());
  runClockSync(*kel);
  EXPECT_EQ(kFinished, kel->clockState.load());
  ASSERT_EQ(1, setCount);
  EXPECT_LT(std::abs(secondsFromNow(lastSet)), 3.0);
  EXPECT_TRUE(trace.contains("NTPサーバの時刻に同期しました\n"));
  EXPECT_EQ(kNoSocket, kel->clockSocket);  // the attempt closed its socket
}

TEST(Sntp, TakenLocalPortIsNoFailure) {
  ASSERT_STRNE("", chronyAddress());
  SOCKET holder = udpOn("0.0.0.0", sntpLocalPort);
  ASSERT_NE(kNoSocket, holder) << "port 1024 is taken by someone else already";
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor(chronyAddress());
  runClockSync(*kel);
  closesocket(holder);
  EXPECT_TRUE(trace.contains("受信ポート番号の指定に失敗\n"));
  EXPECT_EQ(1, setCount);
}

TEST(Sntp, SilentServerTimesOutFiveTimes) {
  SOCKET silent = udpOn("127.0.0.1", kSntpServerPort);
  ASSERT_NE(kNoSocket, silent);
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("127.0.0.1");
  auto start = std::chrono::steady_clock::now();
  runClockSync(*kel);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  closesocket(silent);
  int timeouts = 0;
  for (const std::string& line : trace.lines()) timeouts += line == "Error: タイムアウトしました\n";
  EXPECT_EQ(5, timeouts);
  EXPECT_EQ(0, setCount);
  EXPECT_EQ(kFinished, kel->clockState.load());
  EXPECT_GT(seconds, 14.5);
}

TEST(Sntp, ShortReplyIsAFailedAttemptAndNotRead) {
  SOCKET server = udpOn("127.0.0.1", kSntpServerPort);
  ASSERT_NE(kNoSocket, server);
  std::thread answer([&] {
    for (int i = 0; i < 5; ++i) {
      char buf[64];
      sockaddr_in from{};
#ifdef _WIN32
      int len = sizeof from;
#else
      socklen_t len = sizeof from;
#endif
      if (platform::waitReadable(server, 5000) != 1) return;
      if (recvfrom(server, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len) < 0) return;
      sendto(server, "\x1c\x02short", 7, 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  });
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("127.0.0.1");
  runClockSync(*kel);
  answer.join();
  closesocket(server);
  EXPECT_EQ(0, setCount);
  int failures = 0;
  for (const std::string& line : trace.lines()) failures += line == "Error: サーバからの受信失敗\n";
  EXPECT_EQ(5, failures);
}

TEST(Sntp, EmptyServerSkipsTheSynchronisation) {
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("");
  runClockSync(*kel);
  EXPECT_EQ(kFinished, kel->clockState.load());
  EXPECT_EQ(0, setCount);
  EXPECT_EQ(1u, trace.lines().size());
}

TEST(Sntp, UnknownNameFailsEachAttempt) {
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("nosuchhost.invalid");
  runClockSync(*kel);
  int failures = 0;
  for (const std::string& line : trace.lines()) failures += line == "Error: ホストアドレス取得失敗\n";
  EXPECT_EQ(5, failures);
}
