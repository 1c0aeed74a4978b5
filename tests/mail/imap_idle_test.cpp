// IMAP IDLE against the real Dovecot: deliveries and changes made elsewhere
// reach the account within seconds, with no interval check in between.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "mailcheck/account_check.h"
#include "mailcheck/imap/idle_watch.h"
#include "mailcheck/pop3/pop3_session.h"
#include "settings/status_lines.h"
#include "tests/mail/mail_test_support.h"

#ifndef _WIN32
#include <csignal>
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::atomic<int> announced{0};
const CheckEffects kQuiet = {
    [](Kel&) {}, [](Kel&, bool show) { announced += show; }, [](Kel&, const char*, int, int) {},
    [](Kel& kel, TrayOutcome, int) { kel.trayIcons[0] = kel.trayIcons[1] = nullptr; }, [](HICON*) {},
    [](Kel&, const PinOffer&) {}, [](Kel&, const TokenOffer&) {}, [](Kel&) { return 0; }};
const CheckTiming kQuick = {50, 100, 41, 300000, {{50, 100, 200}}};
const IdleTiming kFastRetry = {600000, 20500, 250, {300, 300, 300, 300, 300, 300}};

const char kUser[] = "ichiro";
const char kPass[] = "ichiro-pw";

template <class F>
bool waitFor(F done, int ms = 8000) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void emptyMailbox() {
  for (const char* sub : {"new", "cur"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(maildirOf(kUser)) / sub, ec)) fs::remove(e.path(), ec);
  }
}

void deliver(int n) {
  std::string name = "17" + std::to_string(10000000 + n) + ".M" + std::to_string(n) + "P7.idle";
  std::ofstream f(fs::path(maildirOf(kUser)) / "tmp" / name, std::ios::binary);
  f << "From: sender" << n << "@example.jp\r\nSubject: idle " << n << "\r\nTo: ichiro@example.jp\r\n\r\nbody\r\n";
  f.close();
  fs::rename(fs::path(maildirOf(kUser)) / "tmp" / name, fs::path(maildirOf(kUser)) / "new" / name);
}

int count(Kel& kel) {
  std::lock_guard<std::mutex> g(kel.checkLock);
  return kel.results[0].count;
}

int32_t shown(Kel& kel) {
  std::lock_guard<std::mutex> g(kel.checkLock);
  return kel.idleShown[0].accountId == kel.results[0].accountId ? kel.idleShown[0].state : kIdleNone;
}

bool statusSays(Kel& kel, const std::string& text) {
  for (const std::string& l : serverStatusLines(kel))
    if (l.find(text) != std::string::npos) return true;
  return false;
}

class ImapIdle : public ::testing::Test {
 protected:
  void start(const IdleTiming& timing = kFastRetry) {
    ASSERT_FALSE(maildirOf(kUser).empty());
    emptyMailbox();
    kel = kelWithAccount("127.0.0.1", envPort("KEL_IMAP_PORT"), kUser, kPass);
    kel->accounts[0].protocol = kProtocolImap;
    ASSERT_TRUE(startIdleWatch(*kel, kQuiet, kQuick, timing));
    // The first check of the account keeps its connection in IDLE.
    uint32_t id;
    {
      std::lock_guard<std::mutex> g(kel->checkLock);
      id = SessionTask(*kel, 0).accountId;  // stamps the account
    }
    ASSERT_NE(0u, id);
    ASSERT_TRUE(checkOneAccount(*kel, id, kQuiet, kQuick));
    ASSERT_TRUE(waitFor([&] { return shown(*kel) == kIdleConnected; }));
  }
  void TearDown() override {
    if (kel) stopIdleWatch(*kel);
    emptyMailbox();
  }
  KelPtr kel;
};

TEST_F(ImapIdle, DeliveryAndReadElsewhereReachTheAccountAtOnceUntilExit) {
  start();
  EXPECT_TRUE(statusSays(*kel, "    IDLE: 接続中"));
  int before = announced;
  deliver(1);
  ASSERT_TRUE(waitFor([&] { return count(*kel) == 1 && announced == before + 1; })) << "not announced";
  deliver(2);
  ASSERT_TRUE(waitFor([&] { return count(*kel) == 2; }));
  ImapClient other(kUser, kPass);
  ASSERT_TRUE(other.ok());
  ASSERT_TRUE(other.run("STORE 1 +FLAGS (\\Seen)"));
  EXPECT_TRUE(waitFor([&] { return count(*kel) == 1; })) << "a message read elsewhere still counted";
  ASSERT_TRUE(other.run("STORE 2 +FLAGS (\\Deleted)") && other.run("EXPUNGE"));
  EXPECT_TRUE(waitFor([&] { return count(*kel) == 0; }));
  EXPECT_EQ(shown(*kel), kIdleConnected);
  auto begun = Clock::now();  // exit ends every IDLE connection within a second
  stopIdleWatch(*kel);
  EXPECT_LT(Clock::now() - begun, std::chrono::seconds(1));
  EXPECT_EQ(nullptr, kel->idle);
}

// DONE, its OK and IDLE again at each renewal, on the same connection.
TEST_F(ImapIdle, RenewsItsIdleAtThePeriod) {
  TraceCapture trace;
  IdleTiming timing = kFastRetry;
  timing.renewMs = 700;
  start(timing);
  ASSERT_TRUE(waitFor([&] { return trace.find("IDLE> DONE\r\n") >= 0 && trace.find("IDLE> i3 IDLE\r\n") >= 0; }));
  EXPECT_LT(trace.find("IDLE> DONE\r\n"), trace.find("IDLE> i3 IDLE\r\n"));
  deliver(3);
  EXPECT_TRUE(waitFor([&] { return count(*kel) == 1; }));
}

#ifndef _WIN32
// The server's process for this user, found by its title.
int imapProcessOf(const char* user) {
  std::string want = std::string("imap [") + user + " ";
  for (const auto& e : fs::directory_iterator("/proc")) {
    std::ifstream f(e.path() / "cmdline");
    std::string cmd;
    std::getline(f, cmd, '\0');
    if (cmd.find("dovecot/") == 0 && cmd.find(want) != std::string::npos) return std::stoi(e.path().filename());
  }
  return -1;
}

TEST_F(ImapIdle, AConnectionThatDiesIsMadeAgainAndNeverFailsTheAccount) {
  start();
  int pid = imapProcessOf(kUser);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(0, kill(pid, SIGKILL));
  ASSERT_TRUE(waitFor([&] { return shown(*kel) == kIdleWaiting; }, 3000));
  EXPECT_TRUE(statusSays(*kel, "    IDLE: 再接続待ち（あと"));
  ASSERT_TRUE(waitFor([&] { return shown(*kel) == kIdleConnected; }));
  EXPECT_NE(pid, imapProcessOf(kUser));
  deliver(4);
  EXPECT_TRUE(waitFor([&] { return count(*kel) == 1; }));
  std::lock_guard<std::mutex> g(kel->checkLock);
  EXPECT_EQ(0, kel->results[0].failed);
}
#endif

// Every change announced is a check on the IDLE connection; none leaves a
// thread or a handle behind.
TEST_F(ImapIdle, HundredEventsLeaveNoThreadOrHandle) {
  start();
  deliver(5);
  ASSERT_TRUE(waitFor([&] { return count(*kel) == 1; }));
  ImapClient other(kUser, kPass);
  ASSERT_TRUE(other.ok());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int threads = liveThreads(), handles = openHandles();
  uint32_t checks = idleChecksMade(*kel);
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(other.run(i % 2 ? "STORE 1 -FLAGS (\\Seen)" : "STORE 1 +FLAGS (\\Seen)"));
    int want = i % 2 ? 1 : 0;
    ASSERT_TRUE(waitFor([&] { return count(*kel) == want; })) << "change " << i;
  }
  EXPECT_GE(idleChecksMade(*kel) - checks, 100u);
  ASSERT_TRUE(waitFor([&] { return liveThreads() == threads && openHandles() == handles; }, 3000))
      << "threads " << threads << " -> " << liveThreads() << ", handles " << handles << " -> " << openHandles();
}

}  // namespace
