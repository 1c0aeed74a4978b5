// A session given up in any phase ends its worker within a second, writes
// nothing more, and leaves no thread behind: ten rounds of each phase, with
// the process's threads counted before and after (under Wine, the Wine
// process's threads are the program's).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/transport.h"
#include "platform/net.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using Script = std::function<void(ScriptConnection&, std::atomic<bool>& silent)>;

// One round: the server goes silent in the phase; the session is given up
// there. Returns the seconds from the give-up to the worker's end.
double giveUpOnce(const Script& script, bool ssl) {
  std::atomic<bool> silent{false};
  ScriptServer server([&](ScriptConnection& c) { script(c, silent); });
  auto kel = kelWithAccount("127.0.0.1", server.port(), "user", "secret", false, ssl);
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  kel->results[0].count = 4;
  auto task = std::make_shared<SessionTask>(*kel, 0);
  kel->sessionState = kSessionStarting;
  std::atomic<bool> ended{false};
  std::thread worker([&] {
    runSession(*task);
    endNetworkThread();
    ended = true;
  });
  for (auto until = Clock::now() + std::chrono::seconds(5); !silent && Clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(silent);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(ended);  // waiting on the silent server
  int32_t state = kel->sessionState.load();

  auto start = Clock::now();
  task->giveUp();
  while (!ended && Clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  worker.join();
  EXPECT_EQ(state, kel->sessionState.load());  // nothing written after the give-up
  EXPECT_EQ(0, kel->results[0].errorCode);
  return seconds;
}

int settledThreads(int atMost) {
  int n = liveThreads();
  for (int i = 0; i < 100 && n > atMost; ++i) {  // a lookup thread may be finishing
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    n = liveThreads();
  }
  return n;
}

void giveUpTenTimes(const char* phase, const Script& script, bool ssl = false) {
  giveUpOnce(script, ssl);  // a first round may start threads that stay (the resolver's)
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int before = liveThreads();
  double slowest = 0;
  for (int round = 0; round < 10; ++round) slowest = std::max(slowest, giveUpOnce(script, ssl));
  EXPECT_LT(slowest, 1.0) << phase;
  int after = settledThreads(before);
  EXPECT_LE(after, before) << phase;
  fprintf(stderr, "%s: worker ended %.3f s after the give-up at most; threads %d before, %d after\n", phase,
          slowest, before, after);
}

}  // namespace

TEST(GiveUp, NoGreeting) {
  giveUpTenTimes("no greeting", [](ScriptConnection& c, std::atomic<bool>& silent) {
    silent = true;
    c.waitForClose();
  });
}

TEST(GiveUp, TlsHandshakeNeverAnswered) {
  giveUpTenTimes(
      "TLS handshake",
      [](ScriptConnection& c, std::atomic<bool>& silent) {
        c.pending(5000);  // the client's hello has arrived
        silent = true;
        c.waitForClose();
      },
      /*ssl=*/true);
}

TEST(GiveUp, InTheMiddleOfATopReply) {
  giveUpTenTimes("middle of TOP", [](ScriptConnection& c, std::atomic<bool>& silent) {
    c.login(ScriptMaildrop::kPipelining);
    c.expect("STAT");
    c.send("+OK 3 300\r\n");
    c.expect("TOP 1 4");
    c.send("+OK\r\nFrom: a@example.jp\r\nSubject: half");
    silent = true;
    c.waitForClose();
  });
}

TEST(GiveUp, AfterADele) {
  giveUpTenTimes("after DELE", [](ScriptConnection& c, std::atomic<bool>& silent) {
    c.login(ScriptMaildrop::kPipelining);
    c.expect("STAT");
    c.send("+OK 1 300\r\n");
    c.expect("TOP 1 4");
    c.send("+OK\r\nFrom: spam@example.com\r\nSubject: x\r\n\r\n.\r\n");
    c.expect("DELE 1");
    silent = true;
    c.waitForClose();
  });
}
