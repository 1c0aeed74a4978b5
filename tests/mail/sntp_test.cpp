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
#include "platform/bytes.h"
#include "platform/net.h"
#include "settings/status_lines.h"
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
uint32_t refusal = platform::kClockSet;
uint32_t recordClock(const platform::UtcTime& t) {
  lastSet = t;
  ++setCount;
  return refusal;
}

// Records what the synchronisation would set, from none, and answers as a
// system that sets it, or refuses with `refuse`.
struct ClockRecorder {
  explicit ClockRecorder(uint32_t refuse = platform::kClockSet) {
    setCount = 0;
    refusal = refuse;
  }
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

// What the scripted server sends for a request: a datagram, after a pause,
// from port 123 or from another port of the same address.
struct Datagram {
  std::vector<uint8_t> bytes;
  int afterMs = 0;
  bool fromOtherPort = false;
};

// A scripted time server on 127.0.0.1:123: every request gets the datagrams
// the script makes of it, in order.
class TimeServer {
 public:
  using Script = std::function<std::vector<Datagram>(const uint8_t* request)>;
  using Make = std::function<void(const uint8_t* request, uint8_t* reply)>;
  explicit TimeServer(Script script) : script_(std::move(script)) {
    sock_ = udpOn("127.0.0.1", kSntpServerPort);
    other_ = udpOn("127.0.0.1", 0);
    if (ready()) thread_ = std::thread([this] { serve(); });
  }
  // One reply a request: the good one as `make` changes it.
  explicit TimeServer(Make make) : TimeServer(Script([make](const uint8_t* request) {
      Datagram d;
      d.bytes.resize(kSntpPacketSize);
      goodReply(request, d.bytes.data());
      make(request, d.bytes.data());
      return std::vector<Datagram>{d};
    })) {}
  ~TimeServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (sock_ != kNoSocket) closesocket(sock_);
    if (other_ != kNoSocket) closesocket(other_);
  }
  bool ready() const { return sock_ != kNoSocket && other_ != kNoSocket; }
  struct Request {
    std::vector<uint8_t> bytes;
    uint16_t fromPort;
  };
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }
  // The datagrams sent, once `expected` have been or 2 s have passed: the
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
      for (const Datagram& d : script_(buf)) {
        if (d.afterMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(d.afterMs));
        int size = static_cast<int>(d.bytes.size());
        if (sendto(d.fromOtherPort ? other_ : sock_, reinterpret_cast<const char*>(d.bytes.data()), size, 0,
                   reinterpret_cast<sockaddr*>(&from), len) == size)
          ++sent_;
      }
    }
  }

  Script script_;
  SOCKET sock_ = kNoSocket;
  SOCKET other_ = kNoSocket;
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::mutex lock_;
  std::vector<Request> requests_;
  std::thread thread_;
};

// Attempts of 200 ms, and the waits after waking cut short.
const ClockTiming kQuick = {200, {{50, 50, 50}}};

int linesEqual(const TraceCapture& trace, const char* text) {
  int n = 0;
  for (const std::string& line : trace.lines()) n += line == text;
  return n;
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
  EXPECT_EQ(ClockOutcome::kSynchronised, kel->clockReport.outcome);
  EXPECT_LT(std::abs(kel->clockReport.offsetSeconds), 0.5);  // chronyd serves this machine's clock
}

#ifdef _WIN32
// Wine's SetSystemTime takes chronyd's near-zero change (and never sets the
// host's clock): the dialog's line says so.
TEST(Sntp, ChronydThroughTheSystemClockSaysSynchronised) {
  ASSERT_STRNE("", chronyAddress());
  auto kel = kelFor(chronyAddress());
  runClockSync(*kel, kSystemClock);
  ASSERT_EQ(ClockOutcome::kSynchronised, kel->clockReport.outcome);
  std::vector<std::string> lines = serverStatusLines(*kel);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("時刻合わせ", lines[0]);
  EXPECT_NE(std::string::npos, lines[1].find(" 同期しました（ずれ ")) << lines[1];
}
#endif

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
  runClockSync(*kel, clock.effects, kQuick);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  closesocket(silent);
  int timeouts = 0;
  for (const std::string& line : trace.lines()) timeouts += line == "Error: タイムアウトしました\n";
  EXPECT_EQ(5, timeouts);
  EXPECT_EQ(0, setCount);
  EXPECT_EQ(kFinished, kel->clockState.load());
  EXPECT_GT(seconds, 0.95);  // five whole attempts
  EXPECT_EQ(ClockOutcome::kNoAnswer, kel->clockReport.outcome);
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

TEST(Sntp, EmptyServerSkipsTheSynchronisation) {
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("");
  runClockSync(*kel, clock.effects);
  EXPECT_EQ(kFinished, kel->clockState.load());
  EXPECT_EQ(0, setCount);
  EXPECT_EQ(1u, trace.lines().size());
  EXPECT_EQ(ClockOutcome::kNone, kel->clockReport.outcome);  // nothing to show
}

TEST(Sntp, UnknownNameFailsEachAttempt) {
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("nosuchhost.invalid");
  runClockSync(*kel, clock.effects);
  int failures = 0;
  for (const std::string& line : trace.lines()) failures += line == "Error: ホストアドレス取得失敗\n";
  EXPECT_EQ(5, failures);
  EXPECT_EQ(ClockOutcome::kNameNotFound, kel->clockReport.outcome);
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

namespace {
Datagram goodDatagram(const uint8_t* request) {
  Datagram d;
  d.bytes.resize(kSntpPacketSize);
  goodReply(request, d.bytes.data());
  return d;
}

// Each spoils a good reply in one way and gives it another transmit time
// (2030), so that a spoilt one taken would show in the time set.
const std::function<void(Datagram&)> kSpoils[] = {
    [](Datagram& d) { d.bytes[0] = 0x0B; },  // client mode
    [](Datagram& d) { d.bytes[1] = 0; },     // stratum 0: kiss-o'-death
    [](Datagram& d) { d.bytes[1] = 16; },
    [](Datagram& d) { d.bytes[31] ^= 1; },  // answers some other request, or forged
    [](Datagram& d) { memset(d.bytes.data() + 24, 0, 8); },
    [](Datagram& d) { memset(d.bytes.data() + 40, 0, 8); },  // no transmit time
    [](Datagram& d) { d.bytes.resize(7); },                   // short: not read beyond what came
    [](Datagram& d) { d.fromOtherPort = true; },              // not the server's port: never heard
};
}  // namespace

// Datagrams that fail the checks do not end the attempt: the reply that
// follows them 100 ms later answers the first request.
TEST(Sntp, SpoiltDatagramsBeforeTheReplyAreIgnored) {
  TimeServer server([](const uint8_t* request) {
    std::vector<Datagram> out;
    for (const auto& spoil : kSpoils) {
      Datagram d = goodDatagram(request);
      putBe32(d.bytes.data() + 40, 4102444800u);
      spoil(d);
      out.push_back(d);
    }
    Datagram good = goodDatagram(request);
    good.afterMs = 100;
    out.push_back(good);
    return out;
  });
  ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("127.0.0.1");
  runClockSync(*kel, clock.effects);
  EXPECT_EQ(1u, server.requests().size());
  ASSERT_EQ(1, setCount);
  EXPECT_EQ(2024, lastSet.year);
  EXPECT_EQ(500, lastSet.millisecond);
  EXPECT_EQ(0, linesEqual(trace, "Error: タイムアウトしました\n"));
}

// No one on the server's port: the "unreachable" that comes back is no
// answer, and the attempt goes on waiting out its 3 s.
TEST(Sntp, AnUnreachablePortIsWaitedOut) {
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("127.0.0.253");  // no test serves there
  std::thread sync([&] { runClockSync(*kel, clock.effects); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  int state = kel->clockState.load();
  std::vector<std::string> early = trace.lines();
  kel->stopping = true;
  sync.join();
  EXPECT_EQ(kRunning, state);
  for (const std::string& line : early) EXPECT_EQ(std::string::npos, line.find("Error")) << line;
  EXPECT_EQ(0, setCount);
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
  runClockSync(*kel, clock.effects, kQuick);
  EXPECT_EQ(1, setCount);
  EXPECT_EQ(2u, server.requests().size());
  EXPECT_EQ(1, linesEqual(trace, "Error: タイムアウトしました\n"));
}

// Leap indicator 3: the server says its clock is not synchronised. Such a
// reply sets nothing and fails its attempt at once.
TEST(Sntp, AServerThatIsNotSynchronisedSetsNothing) {
  TimeServer server([](const uint8_t*, uint8_t* reply) { reply[0] = 0xDC; });
  ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
  ClockRecorder clock;
  TraceCapture trace;
  auto kel = kelFor("127.0.0.1");
  runClockSync(*kel, clock.effects);
  EXPECT_EQ(0, setCount);
  EXPECT_EQ(5u, server.requests().size());
  EXPECT_EQ(5, linesEqual(trace, "Error: サーバが同期していません\n"));
  EXPECT_EQ(ClockOutcome::kUnsynchronised, kel->clockReport.outcome);
  EXPECT_EQ(0, linesEqual(trace, "Error: タイムアウトしました\n"));
}

// Extension fields or a MAC after the 48 bytes: the first 48 are the reply,
// also past what the receive buffer holds.
TEST(Sntp, ALongReplyIsReadForItsFirst48Bytes) {
  const size_t sizes[] = {68, 1200, 4000};
  std::atomic<int> n{0};
  TimeServer server([&](const uint8_t* request) {
    Datagram d = goodDatagram(request);
    d.bytes.resize(sizes[n++ % 3], 0x5A);
    return std::vector<Datagram>{d};
  });
  ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
  for (size_t size : sizes) {
    ClockRecorder clock;
    auto kel = kelFor("127.0.0.1");
    runClockSync(*kel, clock.effects);
    EXPECT_EQ(1, setCount) << size;
    EXPECT_EQ(2024, lastSet.year) << size;
  }
  EXPECT_EQ(3u, server.requests().size());
}

namespace {
// A server whose clock is `ahead` seconds ahead of this one's.
TimeServer::Make aheadBy(double ahead) {
  return [ahead](const uint8_t* request, uint8_t* reply) {
    NtpTimestamp t = platform::readBe64(request + 40) + static_cast<NtpTimestamp>(static_cast<int64_t>(ahead * 4294967296.0));
    platform::writeBe64(reply + 32, t);
    platform::writeBe64(reply + 40, t);
  };
}
}  // namespace

// Each reply gives the clock's error; the clock is still set to the
// transmit time, and a refusal keeps its reason.
TEST(Sntp, TheOutcomeKeepsTheErrorAndTheRefusal) {
  const struct {
    double ahead;
    uint32_t refuse;
    ClockOutcome outcome;
  } cases[] = {{12.5, platform::kClockSet, ClockOutcome::kSynchronised},
               {-7.2, platform::kPrivilegeNotHeld, ClockOutcome::kRefused},
               {-3000000000.0 / 2, 5, ClockOutcome::kRefused}};
  for (const auto& c : cases) {
    TimeServer server(aheadBy(c.ahead));
    ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
    ClockRecorder clock(c.refuse);
    TraceCapture trace;
    auto kel = kelFor("127.0.0.1");
    platform::UtcTime before = platform::localNow();
    runClockSync(*kel, clock.effects);
    const ClockReport& r = kel->clockReport;
    EXPECT_EQ(1, setCount);
    EXPECT_EQ(c.outcome, r.outcome) << c.ahead;
    EXPECT_EQ(c.refuse, r.refusal) << c.ahead;
    EXPECT_NEAR(c.ahead, r.offsetSeconds, 0.2);
    EXPECT_NEAR(c.ahead, secondsFromNow(lastSet), 2.0);
    EXPECT_EQ(before.year, r.when.year);
    EXPECT_EQ(1, linesEqual(trace, c.refuse ? "Error: 時刻の設定に失敗\n" : "NTPサーバの時刻に同期しました\n"));
  }
}

// A server further away than an attempt waits (3 to 6 s with the real 3 s):
// its reply to the first request comes during a later attempt, on the one
// socket of the run, and is taken; the clock's error is measured from that
// request, not from the last one sent.
TEST(Sntp, ALateReplyToAnEarlierRequestOfTheRunIsTaken) {
  const double ahead = 5.0;
  const ClockTiming timing = {1000, kQuick.wake};
  const struct {
    int lateMs;
    bool localPortTaken;  // then each socket would have a port of its own
  } cases[] = {{1500, false}, {2500, true}};
  for (const auto& row : cases) {
    const int lateMs = row.lateMs;
    SCOPED_TRACE(lateMs);
    SOCKET holder = row.localPortTaken ? udpOn("0.0.0.0", sntpLocalPort) : kNoSocket;
    ASSERT_EQ(row.localPortTaken, holder != kNoSocket);
    std::atomic<int> n{0};
    TimeServer server([&](const uint8_t* request) {
      if (n++ > 0) return std::vector<Datagram>{};  // only the first is answered
      Datagram d = goodDatagram(request);
      aheadBy(ahead)(request, d.bytes.data());
      d.afterMs = lateMs;
      return std::vector<Datagram>{d};
    });
    ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
    ClockRecorder clock;
    TraceCapture trace;
    auto kel = kelFor("127.0.0.1");
    runClockSync(*kel, clock.effects, timing);
    EXPECT_EQ(1, setCount);
    EXPECT_EQ(ClockOutcome::kSynchronised, kel->clockReport.outcome);
    // Its server time came at once; the reply then took lateMs: half of it is
    // the error, from the first request's time (from the next, 0.5 s less).
    EXPECT_NEAR(ahead - lateMs / 2000.0, kel->clockReport.offsetSeconds, 0.2);
    EXPECT_EQ(lateMs / 1000, linesEqual(trace, "Error: タイムアウトしました\n"));
    const size_t sent = static_cast<size_t>(lateMs / 1000 + 1);
    auto requests = server.requests();  // the last is read once the late reply has gone
    for (int i = 0; i < 200 && requests.size() < sent; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      requests = server.requests();
    }
    if (holder != kNoSocket) closesocket(holder);
    ASSERT_EQ(sent, requests.size());
    for (const auto& r : requests) EXPECT_EQ(requests[0].fromPort, r.fromPort);  // one socket
  }
}

// The status dialog reads the outcome while the clock thread writes it, and
// then finds the whole of it.
TEST(Sntp, TheStatusDialogReadsTheOutcomeWhileItIsWritten) {
  TimeServer server(aheadBy(1.0));
  ASSERT_TRUE(server.ready()) << "127.0.0.1:123 is taken";
  ClockRecorder clock;
  auto kel = kelFor("127.0.0.1");
  std::thread sync([&] { runClockSync(*kel, clock.effects); });
  std::vector<std::string> lines;
  while (kel->clockState.load() != kFinished) lines = serverStatusLines(*kel);
  sync.join();
  lines = serverStatusLines(*kel);
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[1].find("同期しました（ずれ +1.0秒）")) << lines[1];
}

// The clock sync after waking that meets no server tries again after each
// wait until one answers (here the network comes up with the first retry);
// one not after waking gives up after its five attempts.
TEST(Sntp, AfterWakingASyncThatFindsNoServerIsTriedAgain) {
  ASSERT_STRNE("", chronyAddress());
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
    runClockSync(*kel, clock.effects, kQuick);
    EXPECT_EQ(afterWake ? 1 : 0, setCount);
    EXPECT_EQ(afterWake ? 1 : 0, linesEqual(trace, "時刻合わせを後で再試行します\n"));
    EXPECT_FALSE(kel->clockAfterWake);
    EXPECT_EQ(kFinished, kel->clockState.load());
  }
}
