// The clock synchronisation against chronyd on a loopback address (started
// by the test runner), with the clock setter replaced by a recorder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "app/shutdown.h"
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

// Records what the synchronisation would set, from none.
struct ClockRecorder {
  ClockRecorder() { setCount = 0; }
  const ClockEffects effects = {recordClock};
};

KelPtr kelFor(const char* server) {
  KelPtr k = newKel();
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

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
void putBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// What a good server answers: version 1, server mode, stratum 2, the
// request's transmit time as originate, and 2024-01-01 00:00:00.5 UTC as
// its own transmit time.
void goodReply(const uint8_t* request, uint8_t* reply) {
  memset(reply, 0, kSntpPacketSize);
  reply[0] = 0x0C;
  reply[1] = 2;
  memcpy(reply + 24, request + 40, 8);
  putBe32(reply + 32, 3913056000u);
  putBe32(reply + 40, 3913056000u);
  putBe32(reply + 44, 0x80000000u);
}

// A scripted time server on 127.0.0.1:123: every request gets the reply
// that `make` turns a good one into, sent from port 123 or, with
// fromOtherPort, from another port of the same address.
class TimeServer {
 public:
  using Make = std::function<void(const uint8_t* request, uint8_t* reply)>;
  explicit TimeServer(Make make, bool fromOtherPort = false)
      : make_(std::move(make)), fromOther_(fromOtherPort) {
    sock_ = udpOn("127.0.0.1", kSntpServerPort);
    if (fromOtherPort) other_ = udpOn("127.0.0.1", 0);
    if (ready()) thread_ = std::thread([this] { serve(); });
  }
  ~TimeServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (sock_ != kNoSocket) closesocket(sock_);
    if (other_ != kNoSocket) closesocket(other_);
  }
  bool ready() const { return sock_ != kNoSocket && (!fromOther_ || other_ != kNoSocket); }
  struct Request {
    std::vector<uint8_t> bytes;
    uint16_t fromPort;
  };
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }
  // The replies sent, once `expected` have been or 2 s have passed: the
  // client may take a reply and be done before this thread counts it.
  int repliesSent(int expected) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sent_ < expected && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return sent_;
  }

 private:
  void serve() {
    while (!stop_) {
      if (platform::waitReadable(sock_, 100) != 1) continue;
      uint8_t buf[512];
      sockaddr_in from{};
#ifdef _WIN32
      int len = sizeof from;
#else
      socklen_t len = sizeof from;
#endif
      int n = static_cast<int>(recvfrom(sock_, reinterpret_cast<char*>(buf), sizeof buf, 0,
                                        reinterpret_cast<sockaddr*>(&from), &len));
      if (n < 0) continue;
      {
        std::lock_guard<std::mutex> g(lock_);
        requests_.push_back({std::vector<uint8_t>(buf, buf + n), ntohs(from.sin_port)});
      }
      if (n < static_cast<int>(kSntpPacketSize)) continue;
      uint8_t reply[kSntpPacketSize];
      goodReply(buf, reply);
      make_(buf, reply);
      if (sendto(other_ != kNoSocket ? other_ : sock_, reinterpret_cast<const char*>(reply), sizeof reply, 0,
                 reinterpret_cast<sockaddr*>(&from), len) == static_cast<int>(sizeof reply))
        ++sent_;
    }
  }

  Make make_;
  bool fromOther_;
  SOCKET sock_ = kNoSocket;
  SOCKET other_ = kNoSocket;
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::mutex lock_;
  std::vector<Request> requests_;
  std::thread thread_;
};

int linesEqual(const TraceCapture& trace, const char* text) {
  int n = 0;
  for (const std::string& line : trace.lines()) n += line == text;
  return n;
}

// Runs a synchronisation against a server whose every reply is spoilt by
// `spoil`: no reply may set the clock, and each attempt ends as a time-out.
void expectRefusedFiveTimes(TimeServer::Make spoil, bool fromOtherPort = false) {
  TimeServer server(std::move(spoil), fromOtherPort);
  ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("127.0.0.1");
  runClockSync(*kel, clock.effects);
  EXPECT_EQ(0, setCount);
  EXPECT_EQ(5u, server.requests().size());
  EXPECT_EQ(5, server.repliesSent(5));
  EXPECT_EQ(5, linesEqual(trace, "Error: タイムアウトしました\n"));
  EXPECT_FALSE(trace.contains("NTPサーバの時刻に同期しました\n"));
  EXPECT_EQ(kFinished, kel->clockState.load());
  EXPECT_EQ(kNoSocket, kel->clockSocket);
}

}  // namespace

TEST(Sntp, SetsTheServersTime) {
  ASSERT_STRNE("", chronyAddress()) << "KEL_SNTP_SERVER is not set: run through tools/run-tests.sh";
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor(chronyAddress());
  runClockSync(*kel, clock.effects);
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
  runClockSync(*kel, clock.effects);
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
  runClockSync(*kel, clock.effects);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  closesocket(silent);
  int timeouts = 0;
  for (const std::string& line : trace.lines()) timeouts += line == "Error: タイムアウトしました\n";
  EXPECT_EQ(5, timeouts);
  EXPECT_EQ(0, setCount);
  EXPECT_EQ(kFinished, kel->clockState.load());
  EXPECT_GT(seconds, 14.5);
}

// The program ends during a synchronisation: the clock thread ends its
// 3 s wait within a slice, and only then does the teardown own its socket
// (ThreadSanitizer watches the hand-over).
TEST(Sntp, AProgramThatEndsStopsTheClockThread) {
  SOCKET silent = udpOn("127.0.0.1", kSntpServerPort);
  ASSERT_NE(kNoSocket, silent);
  ClockRecorder clock;
  auto kel = kelFor("127.0.0.1");
  kel->clockSocket = platform::udpSocket();  // as the start of the socket library leaves it
  kel->clockState = kRunning;
  std::thread sync([&] { runClockSync(*kel, clock.effects); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(stopWorkers(*kel, nullptr, 2000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  releaseClockSocket(*kel);
  sync.join();
  closesocket(silent);
  EXPECT_EQ(kNoSocket, kel->clockSocket);
  EXPECT_EQ(0, setCount);
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
  runClockSync(*kel, clock.effects);
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
  runClockSync(*kel, clock.effects);
  EXPECT_EQ(kFinished, kel->clockState.load());
  EXPECT_EQ(0, setCount);
  EXPECT_EQ(1u, trace.lines().size());
}

TEST(Sntp, UnknownNameFailsEachAttempt) {
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("nosuchhost.invalid");
  runClockSync(*kel, clock.effects);
  int failures = 0;
  for (const std::string& line : trace.lines()) failures += line == "Error: ホストアドレス取得失敗\n";
  EXPECT_EQ(5, failures);
}

TEST(Sntp, GoodReplySetsItsTransmitTime) {
  TimeServer server([](const uint8_t*, uint8_t*) {});
  ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("127.0.0.1");
  time_t before = time(nullptr);
  runClockSync(*kel, clock.effects);
  time_t after = time(nullptr);
  ASSERT_EQ(1, setCount);
  EXPECT_EQ(2024, lastSet.year);
  EXPECT_EQ(1, lastSet.month);
  EXPECT_EQ(1, lastSet.day);
  EXPECT_EQ(0, lastSet.hour + lastSet.minute + lastSet.second);
  EXPECT_EQ(500, lastSet.millisecond);
  EXPECT_EQ(1, linesEqual(trace, "NTPサーバの時刻に同期しました\n"));

  // One request of 48 bytes from port 1024: version 1, client mode, zero
  // but for its transmit time, which is this machine's clock now.
  auto requests = server.requests();
  ASSERT_EQ(1u, requests.size());
  const std::vector<uint8_t>& r = requests[0].bytes;
  ASSERT_EQ(kSntpPacketSize, r.size());
  EXPECT_EQ(sntpLocalPort, requests[0].fromPort);
  EXPECT_EQ(0x0B, r[0]);
  for (size_t i = 1; i < 40; ++i) EXPECT_EQ(0, r[i]) << i;
  int64_t sent = static_cast<int64_t>(be32(&r[40])) - 2208988800LL;  // valid until 2036
  EXPECT_GE(sent, static_cast<int64_t>(before) - 1);
  EXPECT_LE(sent, static_cast<int64_t>(after) + 1);
}

// Only the server's port 123 is heard: a reply from another port is never
// received, so each attempt times out.
TEST(Sntp, ReplyFromAnotherPortIsNotHeard) {
  expectRefusedFiveTimes([](const uint8_t*, uint8_t*) {}, true);
}

TEST(Sntp, ReplyInClientModeIsRefused) {
  expectRefusedFiveTimes([](const uint8_t*, uint8_t* reply) { reply[0] = 0x0B; });
}

// Stratum 0 is a kiss-o'-death or an unsynchronised server.
TEST(Sntp, StratumZeroIsRefused) {
  expectRefusedFiveTimes([](const uint8_t*, uint8_t* reply) { reply[1] = 0; });
}

TEST(Sntp, StratumSixteenIsRefused) {
  expectRefusedFiveTimes([](const uint8_t*, uint8_t* reply) { reply[1] = 16; });
}

TEST(Sntp, ZeroTransmitTimeIsRefused) {
  expectRefusedFiveTimes([](const uint8_t*, uint8_t* reply) { memset(reply + 40, 0, 8); });
}

// A reply to some other request (or a forged one) echoes another time.
TEST(Sntp, WrongOriginateIsRefused) {
  expectRefusedFiveTimes([](const uint8_t*, uint8_t* reply) { reply[31] ^= 1; });
  expectRefusedFiveTimes([](const uint8_t*, uint8_t* reply) { memset(reply + 24, 0, 8); });
}

// One spoilt reply costs one attempt, and the next good one is taken.
TEST(Sntp, GoodReplyAfterASpoiltOneIsTaken) {
  std::atomic<int> n{0};
  TimeServer server([&](const uint8_t*, uint8_t* reply) {
    if (n++ == 0) reply[0] = 0x0B;
  });
  ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("127.0.0.1");
  runClockSync(*kel, clock.effects);
  EXPECT_EQ(1, setCount);
  EXPECT_EQ(2u, server.requests().size());
  EXPECT_EQ(1, linesEqual(trace, "Error: タイムアウトしました\n"));
}

// The clock sync after waking that meets no server tries again after each
// wait until one answers (here the network comes up with the first retry);
// one not after waking gives up after its five attempts.
TEST(Sntp, AfterWakingASyncThatFindsNoServerIsTriedAgain) {
  ASSERT_STRNE("", chronyAddress());
  const WakeRetries quick = {{50, 50, 50}};
  for (bool afterWake : {true, false}) {
    SCOPED_TRACE(afterWake);
    ClockRecorder clock;
    TraceCapture trace;
    auto kel = kelFor("127.0.0.254");  // nothing answers there
    Kel* k = kel.get();
    trace.onLine([k](const std::string& line) {
      if (line != "時刻合わせを後で再試行します\n") return;
      std::lock_guard<std::mutex> g(k->checkLock);
      snprintf(k->server, sizeof k->server, "%s", chronyAddress());
    });
    kel->clockAfterWake = afterWake;
    runClockSync(*kel, clock.effects, quick);
    EXPECT_EQ(afterWake ? 1 : 0, setCount);
    EXPECT_EQ(afterWake ? 1 : 0, linesEqual(trace, "時刻合わせを後で再試行します\n"));
    EXPECT_FALSE(kel->clockAfterWake);
    EXPECT_EQ(kFinished, kel->clockState.load());
  }
}
