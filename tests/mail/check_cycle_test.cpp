// The check pass with a recorder in place of popup, tray and sound, against
// a scripted maildrop whose messages change between passes.
#include "mailcheck/check_cycle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/shutdown.h"
#include "mailcheck/error_code.h"
#include "mailcheck/pop3_session.h"
#include "settings/edits.h"
#include "settings/pins.h"
#include "settings/settings.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"

namespace {

// A POP3 server holding a list of (from, subject) messages.
class Maildrop {
 public:
  Maildrop()
      : server_([this](ScriptConnection& c) { serve(c); }) {}
  void set(std::vector<std::pair<std::string, std::string>> messages) {
    std::lock_guard<std::mutex> g(lock_);
    messages_ = std::move(messages);
  }
  int port() const { return server_.port(); }
  // CAPA's lines before and after login; PASS replies counted.
  void capabilities(std::string before, std::string after = "") {
    std::lock_guard<std::mutex> g(lock_);
    capa_[0] = std::move(before);
    capa_[1] = std::move(after);
  }
  int logins() {
    std::lock_guard<std::mutex> g(lock_);
    return logins_;
  }

 private:
  void serve(ScriptConnection& c) {
    c.send("+OK ready\r\n");
    bool loggedIn = false;
    for (;;) {
      std::string line = c.readLine();
      if (line.empty()) return;
      std::lock_guard<std::mutex> g(lock_);
      if (line.rfind("STAT", 0) == 0) {
        c.send("+OK " + std::to_string(messages_.size()) + " 100\r\n");
      } else if (line.rfind("TOP ", 0) == 0) {
        size_t n = static_cast<size_t>(atoi(line.c_str() + 4));
        if (n < 1 || n > messages_.size()) {
          c.send("-ERR no such message\r\n");
          continue;
        }
        const auto& m = messages_[n - 1];
        c.send("+OK\r\nFrom: " + m.first + "\r\nSubject: " + m.second + "\r\n\r\nbody\r\n.\r\n");
      } else if (line.rfind("CAPA", 0) == 0) {
        c.send("+OK\r\nPIPELINING\r\n" + capa_[loggedIn ? 1 : 0] + ".\r\n");
      } else if (line.rfind("PASS", 0) == 0) {
        loggedIn = true;
        ++logins_;
        c.send("+OK\r\n");
      } else if (line.rfind("QUIT", 0) == 0) {
        c.send("+OK bye\r\n");
        return;
      } else {
        c.send("+OK\r\n");
      }
    }
  }
  std::mutex lock_;
  std::vector<std::pair<std::string, std::string>> messages_;
  std::string capa_[2];
  int logins_ = 0;
  ScriptServer server_;
};

struct Call {
  std::string what;
  std::vector<std::string> lines;
  int holdMs;
};

// What the pass asked for, in order.
std::mutex recordLock;
std::vector<Call> calls;
void record(const std::string& what, std::vector<std::string> lines = {}, int hold = 0) {
  std::lock_guard<std::mutex> g(recordLock);
  calls.push_back({what, std::move(lines), hold});
}
void playSound(Kel&) { record("sound"); }
void showPopup(Kel&, bool show) { record(show ? "show" : "hide"); }
void drawText(Kel&, const char* block, int holdMs, int lineCount) {
  std::vector<std::string> lines{block};
  if (lineCount == 2) lines.emplace_back(block + strlen(block) + 1);
  record("text", lines, holdMs);
}
void loadTrayPair(Kel& kel, TrayOutcome outcome, int totalNew) {
  static const char* names[] = {"error", "idle", "count"};
  record(std::string("tray ") + names[outcome] + (outcome == kTrayCount ? " " + std::to_string(totalNew) : ""));
  kel.trayIcons[0] = reinterpret_cast<HICON>(static_cast<intptr_t>(0x100 + outcome));
}
void destroyTrayPair(HICON*) {}
// The keys handed over, in order; the window thread would store them.
std::vector<PinOffer> offers;
void offerPin(Kel&, const PinOffer& offer) {
  record("pin " + std::to_string(offer.slot));
  std::lock_guard<std::mutex> g(recordLock);
  offers.push_back(offer);
}
const CheckEffects kRecorder = {playSound, showPopup, drawText, loadTrayPair, destroyTrayPair, offerPin};
const CheckTiming kQuick = {50, 100, 41, 300000};

std::vector<Call> runPass(Kel& kel, const CheckTiming& timing = kQuick) {
  {
    std::lock_guard<std::mutex> g(recordLock);
    calls.clear();
    offers.clear();
  }
  kel.checkState = kRunning;
  runCheckCycle(kel, kRecorder, timing);
  EXPECT_EQ(kFinished, kel.checkState.load());
  std::lock_guard<std::mutex> g(recordLock);
  return calls;
}

std::vector<std::string> texts(const std::vector<Call>& cs) {
  std::vector<std::string> out;
  for (const Call& c : cs)
    if (c.what == "text") out.push_back(c.lines.size() == 2 ? c.lines[0] + "|" + c.lines[1] : c.lines[0]);
  return out;
}

bool has(const std::vector<Call>& cs, const std::string& what) {
  for (const Call& c : cs)
    if (c.what == what) return true;
  return false;
}

KelPtr kelFor(const Maildrop& drop) {
  auto kel = kelWithAccount("127.0.0.1", drop.port(), "user", "pw");
  kel->nmp = 1;
  return kel;
}

}  // namespace

TEST(CheckCycle, FirstPassAnnouncesThenNothingThenOnlyTheNewcomer) {
  Maildrop drop;
  drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
  auto kel = kelFor(drop);
  TraceCapture trace;

  std::vector<Call> first = runPass(*kel);
  std::vector<std::string> want = {"a@example.jp|one", "b@example.jp|two", "新着:2 非通知:0"};
  EXPECT_EQ(want, texts(first));
  std::vector<std::string> order;
  for (const Call& c : first) order.push_back(c.what);
  std::vector<std::string> wantOrder = {"tray count 2", "sound", "show", "text", "text", "text", "hide"};
  EXPECT_EQ(wantOrder, order);
  EXPECT_EQ(4000, first[3].holdMs);
  EXPECT_EQ(6000, first[5].holdMs);
  EXPECT_STREQ("新着:2 非通知:0", kel->trayIconData.szTip);
  EXPECT_EQ(kLineAnnounced, kel->results[0].lineState[0]);
  EXPECT_EQ(255, kel->results[0].lineState[1]);
  EXPECT_TRUE(trace.contains("スレッド作成！\n"));
  EXPECT_TRUE(trace.contains("新着メール有り\n"));

  std::vector<Call> second = runPass(*kel);
  EXPECT_TRUE(texts(second).empty());
  EXPECT_FALSE(has(second, "show"));
  EXPECT_TRUE(has(second, "tray count 2"));  // totalNew stays 2: the count pair, no popup

  drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}, {"c@example.jp", "three"}});
  std::vector<Call> third = runPass(*kel);
  want = {"c@example.jp|three", "新着:3 非通知:0"};
  EXPECT_EQ(want, texts(third));
}

TEST(CheckCycle, ARemovedAndAnAddedMessageAnnounceNothing) {
  Maildrop drop;
  drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
  auto kel = kelFor(drop);
  runPass(*kel);
  drop.set({{"b@example.jp", "two"}, {"c@example.jp", "three"}});
  std::vector<Call> next = runPass(*kel);
  EXPECT_FALSE(has(next, "show"));
  EXPECT_EQ("c@example.jp", lineSender(kel->results[0].lines[1]));
  EXPECT_EQ(kLineAnnounced, kel->results[0].lineState[1]);  // the slot keeps its state
}

TEST(CheckCycle, SevenKeptMessagesListSix) {
  Maildrop drop;
  std::vector<std::pair<std::string, std::string>> seven;
  for (int i = 1; i <= 7; ++i) seven.push_back({"m" + std::to_string(i) + "@example.jp", "s"});
  drop.set(seven);
  auto kel = kelFor(drop);
  std::vector<std::string> t = texts(runPass(*kel));
  ASSERT_EQ(7u, t.size());  // six lines and the summary
  EXPECT_EQ("新着:7 非通知:0", t.back());
  EXPECT_EQ(7, kel->totalNew);
}

TEST(CheckCycle, PopupOffPlaysTheSoundAndShowsOnlyTheSummary) {
  Maildrop drop;
  drop.set({{"a@example.jp", "one"}});
  auto kel = kelFor(drop);
  kel->nmp = 0;
  std::vector<Call> cs = runPass(*kel);
  EXPECT_TRUE(has(cs, "sound"));
  std::vector<std::string> want = {"新着:1 非通知:0"};
  EXPECT_EQ(want, texts(cs));
  EXPECT_EQ(kLineNew, kel->results[0].lineState[0]);
}

TEST(CheckCycle, HeadingsOnlyWithShacAndANewLineAndTheAddressCut) {
  Maildrop drop;
  drop.set({{"a@example.jp", "one"}});
  auto kel = kelFor(drop);
  kel->shac = 1;
  std::string longAddress = std::string(40, 'x') + "@example.jp";
  strcpy(kel->accounts[0].mailaddr, longAddress.c_str());
  std::vector<std::string> t = texts(runPass(*kel));
  ASSERT_EQ(3u, t.size());
  EXPECT_EQ(std::string(32, 'x') + "|新着:1 非通知:0", t[0]);
  drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
  t = texts(runPass(*kel));
  ASSERT_EQ(3u, t.size());  // heading, the new line, the summary
  EXPECT_EQ("新着:2 非通知:0", t[0].substr(t[0].find('|') + 1));
}

TEST(CheckCycle, NoAccountGivesTheErrorPair) {
  KelPtr kel = newKel();
  TraceCapture trace;
  std::vector<Call> cs = runPass(*kel);
  ASSERT_EQ(1u, cs.size());
  EXPECT_EQ("tray error", cs[0].what);
  EXPECT_STREQ("接続エラー", kel->trayIconData.szTip);
  EXPECT_FALSE(trace.contains("スレッド作成！\n"));
}

TEST(CheckCycle, FailedAccountKeepsItsCountAndDoesNotCount) {
  Maildrop drop;
  drop.set({{"a@example.jp", "one"}});
  auto kel = kelFor(drop);
  runPass(*kel);
  kel->accounts[0].port = static_cast<uint16_t>(refusedPort());
  std::vector<Call> cs = runPass(*kel);
  EXPECT_EQ("tray error", cs.at(0).what);  // the only account failed
  EXPECT_EQ(1, kel->results[0].failed);
  EXPECT_EQ(3, kel->results[0].errorCode);
  EXPECT_EQ(1, kel->results[0].count);
  EXPECT_EQ(0, kel->totalNew);
}

TEST(CheckCycle, SilentServerIsGivenUpAfterItsBudgetAndTheNextAccountFollows) {
  ScriptServer silent([](ScriptConnection& c) {
    c.send("+OK ready\r\n");
    c.waitForClose();
  });
  Maildrop drop;
  drop.set({{"a@example.jp", "one"}});
  auto kel = kelWithAccount("127.0.0.1", silent.port(), "user", "pw");
  kel->results[0].count = 3;
  kel->accounts[1] = kel->accounts[0];
  kel->accounts[1].port = static_cast<uint16_t>(drop.port());
  TraceCapture trace;
  auto start = std::chrono::steady_clock::now();
  std::vector<Call> cs = runPass(*kel, kCheckTiming);  // the real budget
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(trace.contains("スレッド強制終了！\n"));
  EXPECT_EQ(1, kel->results[0].failed);
  EXPECT_EQ(3, kel->results[0].count);  // put back
  EXPECT_EQ(0, kel->results[0].errorCode);
  EXPECT_EQ(1, kel->results[1].count);
  EXPECT_TRUE(has(cs, "show"));
  // 50 ms + 41 x 500 ms + 500 ms, then the second account; the summary's
  // 6 s hold is the recorder's and costs nothing.
  EXPECT_GT(seconds, 20.9);
  EXPECT_LT(seconds, 23.0);
  fprintf(stderr, "given-up pass: %.2f s\n", seconds);
}

// The editors change accounts and rules on the window thread while a pass
// runs; under ThreadSanitizer any access outside the lock would show here.
TEST(CheckCycle, EditsDuringAPassAreGuarded) {
  Maildrop drop;
  std::vector<std::pair<std::string, std::string>> mail;
  for (int i = 0; i < 20; ++i) mail.push_back({"a@example.jp", "message " + std::to_string(i)});
  drop.set(mail);
  auto kel = kelFor(drop);
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("kel-edits-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir);
  std::string folder = dir.string() + static_cast<char>(std::filesystem::path::preferred_separator);
  snprintf(kel->moduleDir, sizeof kel->moduleDir, "%s", folder.c_str());
  const Account a = kel->accounts[0];
  AccountFields same{a.mailaddr, a.pop3server, a.user, a.pass, false, false};

  std::atomic<bool> done{false};
  std::thread pass([&] {
    runPass(*kel);
    done = true;
  });
  // The account is edited only once its session has copied it: an edit
  // writes port 110, which would send this pass elsewhere.
  for (bool started = false; !started && !done; std::this_thread::yield()) {
    std::lock_guard<std::mutex> g(kel->checkLock);
    started = kel->session != nullptr;
  }
  int edits = 0;
  while (!done) {
    EXPECT_EQ(0, storeRule(*kel, kAddToIgnoreList, "never matches", kSubjectContains, nullptr));
    deleteRule(*kel, false, 0);
    EXPECT_EQ(1, storeAccount(*kel, 0, same, nullptr));
    ++edits;
  }
  pass.join();
  EXPECT_GT(edits, 0);
  EXPECT_EQ(20, kel->results[0].count);
  EXPECT_EQ(20, kel->totalNew);
  EXPECT_EQ(nullptr, kel->ignoreList[0]);
  std::filesystem::remove_all(dir);
}

namespace {
// A server that answers, but one byte at a time.
void trickle(ScriptConnection& c, const std::string& bytes, int msPerByte) {
  for (char b : bytes) {
    if (c.pending(0)) return;  // the client has gone
    c.send(std::string(1, b));
    std::this_thread::sleep_for(std::chrono::milliseconds(msPerByte));
  }
}
}  // namespace

// The budget follows progress: with polls of 100 ms, 5 silent polls give a
// session up, yet a server that keeps sending is let finish; a session
// that still runs after the whole budget (3 s here) is given up.
TEST(CheckCycle, ASlowButProgressingServerIsLetFinishWithinTheWholeBudget) {
  const CheckTiming timing = {50, 100, 5, 3000};
  auto serve = [](ScriptConnection& c, int msPerByte) {
    c.greet("+OK ready\r\n");
    c.expect("USER");
    c.send("+OK\r\n");
    c.expect("PASS");
    c.send("+OK\r\n");
    c.expect("STAT");
    c.send("+OK 1 100\r\n");
    c.expect("TOP 1 4");
    std::string reply = "+OK\r\nFrom: slow@example.jp\r\nSubject: s\r\n\r\n.\r\n";
    trickle(c, reply, msPerByte);
    c.expect("QUIT");
    c.send("+OK\r\n");
  };
  {
    ScriptServer slow([&](ScriptConnection& c) { serve(c, 40); });  // about 1.9 s
    auto kel = kelWithAccount("127.0.0.1", slow.port(), "user", "pw");
    TraceCapture trace;
    runPass(*kel, timing);
    EXPECT_FALSE(trace.contains("スレッド強制終了！\n"));
    EXPECT_EQ(0, kel->results[0].failed);
    EXPECT_EQ(1, kel->results[0].count);
  }
  {
    ScriptServer endless([&](ScriptConnection& c) { serve(c, 150); });  // about 7 s
    auto kel = kelWithAccount("127.0.0.1", endless.port(), "user", "pw");
    TraceCapture trace;
    auto start = std::chrono::steady_clock::now();
    runPass(*kel, timing);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(trace.contains("スレッド強制終了！\n"));
    EXPECT_EQ(1, kel->results[0].failed);
    EXPECT_GT(seconds, 3.0);
    EXPECT_LT(seconds, 4.5);
  }
}

// The program ends while a pass waits on a silent server, and while it
// announces: the pass ends within a second, shows nothing more, and leaves
// no worker behind.
TEST(CheckCycle, AProgramThatEndsStopsThePassAtOnce) {
  ScriptServer silent([](ScriptConnection& c) {
    c.send("+OK ready\r\n");
    c.waitForClose();
  });
  Maildrop drop;
  drop.set({{"a@example.jp", "one"}});
  {
    auto kel = kelWithAccount("127.0.0.1", silent.port(), "user", "pw");
    kel->accounts[1] = kel->accounts[0];
    kel->accounts[1].port = static_cast<uint16_t>(drop.port());
    std::vector<Call> cs;
    std::thread pass([&] { cs = runPass(*kel, kCheckTiming); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(stopWorkers(*kel, nullptr, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    pass.join();
    EXPECT_TRUE(cs.empty());  // no second account, no tray outcome, no popup
  }
  {
    // Holds that wait as the popup's do: in steps, until the program ends.
    auto kel = kelFor(drop);
    CheckEffects slow = kRecorder;
    slow.drawText = [](Kel& k, const char* block, int holdMs, int lineCount) {
      drawText(k, block, holdMs, lineCount);
      for (int ms = 0; ms < holdMs && !k.stopping; ms += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    {
      std::lock_guard<std::mutex> g(recordLock);
      calls.clear();
    }
    kel->checkState = kRunning;
    std::thread pass([&] { runCheckCycle(*kel, slow, kQuick); });
    for (int i = 0; i < 300; ++i) {
      {
        std::lock_guard<std::mutex> g(recordLock);
        if (has(calls, "text")) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(stopWorkers(*kel, nullptr, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    pass.join();
    std::lock_guard<std::mutex> g(recordLock);
    std::vector<std::string> shown = texts(calls);
    EXPECT_EQ(1u, shown.size());  // the first line, not the summary after it
  }
}

namespace {
// A settings folder of its own, so that stored pins are saved there.
struct SettingsFolder {
  explicit SettingsFolder(Kel& kel)
      : dir(std::filesystem::temp_directory_path() /
            ("kel-pins-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    std::filesystem::create_directories(dir);
    std::string folder = dir.string() + static_cast<char>(std::filesystem::path::preferred_separator);
    snprintf(kel.moduleDir, sizeof kel.moduleDir, "%s", folder.c_str());
  }
  ~SettingsFolder() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};
}  // namespace

TEST(CheckCycle, APlainAccountOffersNoKey) {
  Maildrop drop;
  drop.set({{"a@example.jp", "one"}});
  auto kel = kelFor(drop);
  std::vector<Call> cs = runPass(*kel);
  EXPECT_FALSE(has(cs, "pin 0"));
  std::lock_guard<std::mutex> g(recordLock);
  EXPECT_TRUE(offers.empty());
}

// The first check over TLS trusts the self-signed key it meets: the pass
// hands it over once its worker has ended, before the tray outcome; once
// stored (as the window thread does), later checks hold to it and offer
// nothing more.
TEST(CheckCycle, TheKeyAFirstTlsCheckMeetsIsHandedOverThenHeldTo) {
  int port = envPort("KEL_POP3S_PORT");
  ASSERT_GT(port, 0);
  auto kel = kelWithAccount("127.0.0.1", port, "shiro", "shiro-pw", false, /*ssl=*/true);
  kel->accounts[1] = kel->accounts[0];
  strcpy(kel->accounts[1].mailaddr, "second@example.jp");
  SettingsFolder folder(*kel);

  std::vector<Call> first = runPass(*kel);
  std::vector<PinOffer> handed;
  {
    std::lock_guard<std::mutex> g(recordLock);
    handed = offers;
  }
  ASSERT_EQ(2u, handed.size());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(i, handed[i].slot);
    EXPECT_STREQ("127.0.0.1", handed[i].server);
    EXPECT_EQ(port, handed[i].port);
    EXPECT_STREQ("shiro", handed[i].user);
    EXPECT_TRUE(isPinText(handed[i].pin)) << handed[i].pin;
  }
  EXPECT_STREQ(handed[0].pin, handed[1].pin);
  std::vector<std::string> order;
  for (const Call& c : first) order.push_back(c.what);
  std::vector<std::string> wantOrder = {"pin 0", "pin 1", "tray idle"};
  EXPECT_EQ(wantOrder, order);
  EXPECT_EQ(0, kel->results[0].failed);

  for (const PinOffer& o : handed) EXPECT_EQ(PinStored::kStored, acceptPinOffer(*kel, o));
  EXPECT_EQ(std::string(handed[0].pin), kel->accounts[1].pin);

  std::vector<Call> second = runPass(*kel);
  EXPECT_FALSE(has(second, "pin 0"));
  EXPECT_FALSE(has(second, "pin 1"));
  EXPECT_EQ(0, kel->results[0].failed);
  EXPECT_EQ(0, kel->results[1].failed);
}

namespace {
// Logins Dovecot has logged for `user` (its log lies beside the mailboxes).
int dovecotLogins(const char* user) {
  const char* maildirs = getenv("KEL_MAILDIRS");
  if (!maildirs) return -1;
  std::filesystem::path log = std::filesystem::path(maildirs).parent_path() / "log" / "dovecot.log";
  FILE* f = fopen(log.string().c_str(), "rb");
  if (!f) return -1;
  std::string text;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
  fclose(f);
  std::string needle = std::string("Login: user=<") + user + ">";
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}
}  // namespace

// The whole story of a key that changes, with Dovecot's real key: the first
// check trusts it, the next ones hold to it; a server that shows another key
// than the trusted one (here: the account trusts another) gets no login and
// fails with code 1 until the user says yes to the key it showed; no keeps
// the refusal.
TEST(CheckCycle, AKeyOtherThanTheTrustedOneGetsNoLoginUntilTheUserTrustsIt) {
  int port = envPort("KEL_POP3S_PORT");
  ASSERT_GT(port, 0);
  auto kel = kelWithAccount("127.0.0.1", port, "shiro", "shiro-pw", false, /*ssl=*/true);
  SettingsFolder folder(*kel);
  {
    std::lock_guard<std::mutex> g(recordLock);
    offers.clear();
  }
  runPass(*kel);
  std::vector<PinOffer> handed;
  {
    std::lock_guard<std::mutex> g(recordLock);
    handed = offers;
  }
  ASSERT_EQ(1u, handed.size());
  ASSERT_EQ(PinStored::kStored, acceptPinOffer(*kel, handed[0]));
  const std::string real = kel->accounts[0].pin;
  runPass(*kel);
  ASSERT_EQ(0, kel->results[0].failed);

  const char* other = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
  snprintf(kel->accounts[0].pin, kPinSize, "%s", other);
  int logins = dovecotLogins("shiro");
  ASSERT_GT(logins, 0);
  runPass(*kel);
  EXPECT_EQ(1, kel->results[0].failed);
  EXPECT_EQ(kErrorServerKeyChanged, kel->results[0].errorCode);
  EXPECT_EQ(real, kel->results[0].seenPin);
  EXPECT_EQ(logins, dovecotLogins("shiro"));

  char stored[kPinSize], seen[kPinSize];
  ASSERT_TRUE(refusedKey(*kel, 0, stored, seen));
  EXPECT_STREQ(other, stored);
  EXPECT_EQ(real, seen);
  // No: the old key stays, and so does the refusal.
  runPass(*kel);
  EXPECT_EQ(kErrorServerKeyChanged, kel->results[0].errorCode);
  EXPECT_EQ(logins, dovecotLogins("shiro"));
  // Yes: the next check goes on with the key the server showed.
  EXPECT_EQ(SaveOutcome::kSaved, trustKey(*kel, 0, seen));
  runPass(*kel);
  EXPECT_EQ(0, kel->results[0].failed);
  EXPECT_EQ(real, kel->accounts[0].pin);
  EXPECT_EQ(logins + 1, dovecotLogins("shiro"));
}

namespace {
std::atomic<uint64_t> fakeNowMs{1000};
uint64_t fakeClock() { return fakeNowMs.load(); }
}  // namespace

// A server that asks for 900 s between logins is not connected to sooner,
// by the interval or by hand; the account keeps its count and is not failed.
TEST(CheckCycle, LoginDelayIsWaitedOutWithoutFailingTheAccount) {
  struct Case {
    std::string before, after;
    uint64_t heldMs;  // how long after a login checks still do not connect
  };
  for (const Case& c : {Case{"LOGIN-DELAY 900\r\n", "", 900000}, Case{"LOGIN-DELAY 900 USER\r\n", "LOGIN-DELAY 60\r\n", 60000},
                        Case{"", "", 0}}) {
    SCOPED_TRACE(c.before);
    Maildrop drop;
    drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
    drop.capabilities(c.before, c.after);
    auto kel = kelFor(drop);
    kel->monotonicClock = fakeClock;
    fakeNowMs = 1000;
    runPass(*kel);
    ASSERT_EQ(1, drop.logins());
    drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}, {"c@example.jp", "three"}});
    fakeNowMs += c.heldMs ? c.heldMs - 1000 : 0;
    std::vector<Call> cs = runPass(*kel);
    EXPECT_EQ(c.heldMs ? 1 : 2, drop.logins());
    if (c.heldMs) {
      EXPECT_EQ(0, kel->results[0].failed);
      EXPECT_EQ(2, kel->results[0].count);
      EXPECT_EQ(2, kel->results[0].prevCount);
      EXPECT_EQ(2, kel->totalNew);
      EXPECT_TRUE(has(cs, "tray count 2"));
      EXPECT_FALSE(has(cs, "show"));  // nothing announced again
      fakeNowMs += 1000;
      runPass(*kel);
      EXPECT_EQ(2, drop.logins());
      EXPECT_EQ(3, kel->results[0].count);
    }
  }
}
