#include "mailcheck/transport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "mailcheck/connect_race.h"
#include "platform/net.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"

namespace {
Connection fresh() {
  Connection c{};
  c.sock = kNoSocket;
  return c;
}
}  // namespace

TEST(Transport, ConnectCodes) {
  TraceCapture trace;
  Connection c = fresh();
  EXPECT_EQ(2, connectServer(c, "nosuchhost.invalid", 110, 0));
  EXPECT_EQ(std::vector<std::string>{"OPEN nosuchhost.invalid 110\n"}, trace.lines());
  EXPECT_EQ(3, connectServer(c, "127.0.0.1", refusedPort(), 0));
  EXPECT_EQ(kNoSocket, c.sock);
}

TEST(Transport, FirstRefusingAddressIsPassedOver) {
  ScriptServer server([](ScriptConnection& s) { s.send("+OK hello\r\n"); });
  addrinfo* refused = nullptr;
  addrinfo* accepting = nullptr;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_family = AF_INET;
  ASSERT_EQ(0, getaddrinfo("127.0.0.1", std::to_string(refusedPort()).c_str(), &hints, &refused));
  ASSERT_EQ(0, getaddrinfo("127.0.0.1", std::to_string(server.port()).c_str(), &hints, &accepting));
  refused->ai_next = accepting;  // one list: the refusing address first
  Connection c = fresh();
  EXPECT_EQ(0, connectFirst(c, refused));
  ASSERT_NE(kNoSocket, c.sock);
  char buf[kLineBudget];
  ASSERT_EQ(11, readLine(c, buf));
  EXPECT_EQ(0, memcmp(buf, "+OK hello\r\n", 11));
  closeConnection(c);
  refused->ai_next = nullptr;
  freeaddrinfo(refused);
  freeaddrinfo(accepting);
}

// Three addresses that answer no SYN before one that answers: the attempts
// race, 250 ms apart and the families taking turns, so the live address is
// reached within a second, not after the session's budget; the losers'
// sockets are closed, and no thread is left.
TEST(Transport, AddressesThatNeverAnswerDoNotHoldUpOneThatDoes) {
  SilentListener silent;
  for (bool ipv6 : {false, true}) {
    SCOPED_TRACE(ipv6 ? "live on ::1" : "live on 127.0.0.1");
    int handles = openHandles(), threads = liveThreads();
    {
      ScriptServer live([](ScriptConnection& s) { s.send("+OK hello\r\n"); }, ipv6);
      addrinfo hints{};
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* lists[4] = {};
      for (int i = 0; i < 4; ++i) {
        const char* host = i < 3 ? "127.0.0.1" : ipv6 ? "::1" : "127.0.0.1";
        std::string port = std::to_string(i < 3 ? silent.port() : live.port());
        hints.ai_family = i < 3 || !ipv6 ? AF_INET : AF_INET6;
        ASSERT_EQ(0, getaddrinfo(host, port.c_str(), &hints, &lists[i]));
        if (i > 0) lists[i - 1]->ai_next = lists[i];
      }
      Connection c = fresh();
      LinkWatch watch;
      c.watch = &watch;
      std::atomic<bool> done{false};
      std::thread guard([&] {  // before the race, this waited 10 s per address
        for (int ms = 0; ms < 5000 && !done; ms += 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done) watch.cancel = true;
      });
      auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(0, connectFirst(c, lists[0]));
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      done = true;
      guard.join();
      // Three silent ones first, or one when the live address's family comes second.
      EXPECT_GE(seconds, ipv6 ? 0.24 : 0.74);
      EXPECT_LT(seconds, ipv6 ? 0.7 : 2.0);
      char buf[kLineBudget];
      EXPECT_EQ(11, readLine(c, buf));
      closeConnection(c);
      for (int i = 0; i < 3; ++i) lists[i]->ai_next = nullptr;
      for (addrinfo* l : lists) freeaddrinfo(l);
    }
    EXPECT_EQ(handles, openHandles());
    EXPECT_EQ(threads, liveThreads());
  }
}

namespace {
// One resolver-like list made of single lookups, in the order added.
struct AddressList {
  std::vector<addrinfo*> parts;
  void add(const char* host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* a = nullptr;
    ASSERT_EQ(0, getaddrinfo(host, std::to_string(port).c_str(), &hints, &a));
    if (!parts.empty()) parts.back()->ai_next = a;
    parts.push_back(a);
  }
  ~AddressList() {
    for (addrinfo* a : parts) {
      a->ai_next = nullptr;
      freeaddrinfo(a);
    }
  }
};

int peerPort(SOCKET s) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return -1;
  return ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
}
}  // namespace

// More addresses than may race, all losing their SYNs but the last: with
// every place taken, the oldest attempt past 2 s makes way, so the last is
// tried after 16 x 250 ms, and never closed early: its SYN resent once its
// listener has room (2.3 s after it started) still connects.
TEST(Transport, EveryAddressGetsItsTurn) {
  const struct {
    int silent;
    bool lastLosesItsFirstSyn;
    double least, most;
  } cases[] = {{17, false, 4.2, 6.0}, {16, true, 6.3, 10.0}};
  SilentListener silent;
  for (const auto& row : cases) {
    SCOPED_TRACE(row.silent);
    int handles = openHandles(), threads = liveThreads();
    {
      ScriptServer live([](ScriptConnection&) {});
      SilentListener late;
      AddressList list;
      for (int i = 0; i < row.silent; ++i) list.add("127.0.0.1", silent.port());
      int lastPort = row.lastLosesItsFirstSyn ? late.port() : live.port();
      list.add("127.0.0.1", lastPort);
      Connection c = fresh();
      LinkWatch watch;
      c.watch = &watch;
      std::atomic<bool> done{false};
      auto start = std::chrono::steady_clock::now();
      auto since = [&start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
      std::thread guard([&] {
        bool roomMade = false;
        while (!done && since() < 15) {
          if (row.lastLosesItsFirstSyn && !roomMade && since() > 0.25 * row.silent + 2.3) {
            late.makeRoom();
            roomMade = true;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!done) watch.cancel = true;
      });
      EXPECT_EQ(0, connectFirst(c, list.parts[0]));
      double seconds = since();
      done = true;
      guard.join();
      EXPECT_GE(seconds, row.least);
      EXPECT_LT(seconds, row.most);
      EXPECT_EQ(lastPort, peerPort(c.sock));
      closeConnection(c);
    }
    EXPECT_EQ(handles, openHandles());
    EXPECT_EQ(threads, liveThreads());
  }
}

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

// A readiness wait that fails (here: a socket select() cannot watch) ends
// the race with the system's own number, not as a time-out.
TEST(Transport, AFailedWaitIsReportedWithItsOwnNumber) {
  SilentListener silent;
  rlimit was{};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &was));
  if (was.rlim_max < FD_SETSIZE + 64) GTEST_SKIP() << "no descriptors above FD_SETSIZE to be had";
  rlimit more = was;
  more.rlim_cur = FD_SETSIZE + 64;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &more));
  std::vector<int> filler;  // every descriptor below FD_SETSIZE taken
  int fd;
  while ((fd = open("/dev/null", O_RDONLY)) >= 0 && fd < FD_SETSIZE) filler.push_back(fd);
  if (fd >= 0) close(fd);  // the race's socket gets this one
  AddressList list;
  list.add("127.0.0.1", silent.port());
  Connection c = fresh();
  ErrorCode rc = connectFirst(c, list.parts[0]);
  for (int f : filler) close(f);
  setrlimit(RLIMIT_NOFILE, &was);
  EXPECT_EQ(3, rc);
  EXPECT_EQ(EINVAL, c.failure.systemError);
  EXPECT_EQ(silent.port(), c.failure.port);
}
#endif

TEST(Transport, LineReaderLeavesTheRestUnreadAndTreatsCloseAsFailure) {
  ScriptServer server([](ScriptConnection& s) {
    s.send("+OK one\r\n+OK two\r\npartial");
    s.close();
  });
  Connection c = fresh();
  ASSERT_EQ(0, connectServer(c, "127.0.0.1", server.port(), 0));
  char buf[kLineBudget];
  EXPECT_EQ(9, readLine(c, buf));
  EXPECT_EQ(9, readLine(c, buf));
  EXPECT_EQ(0, memcmp(buf, "+OK two\r\n", 9));
  EXPECT_EQ(-1, readLine(c, buf));  // the peer closed before CR LF
  closeConnection(c);
}

#ifndef _WIN32
#include <csignal>

// A peer that has gone: writes over TLS (OpenSSL's own, without
// MSG_NOSIGNAL) fail, and no SIGPIPE ends the process.
TEST(Transport, WritesToAPeerThatHasGoneFailWithoutASignal) {
  int port = envPort("KEL_POP3S_PORT");
  ASSERT_NE(0, port);
  signal(SIGPIPE, SIG_DFL);
  ASSERT_TRUE(platform::netStartup());  // as the program's start does
  Connection c = fresh();
  ASSERT_EQ(0, connectServer(c, "127.0.0.1", port, 1));
  char line[kLineBudget];
  ASSERT_GT(readLine(c, line), 0);
  ASSERT_EQ(6, sendAll(c, "QUIT\r\n", 6));
  ASSERT_GT(readLine(c, line), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // Dovecot closes
  std::string block(16384, 'x');
  int result = 0;
  for (int i = 0; i < 50 && result >= 0; ++i) result = sendAll(c, block.data(), static_cast<int>(block.size()));
  EXPECT_EQ(-1, result);
  closeConnection(c);
}
#endif
