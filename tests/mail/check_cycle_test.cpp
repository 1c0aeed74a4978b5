// The check pass with a recorder in place of popup, tray and sound, against
// a scripted maildrop whose messages change between passes.
#include "mailcheck/check_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/shutdown.h"
#include "app/ticks.h"
#include "mailcheck/error_code.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/pop3/pop3_session.h"
#include "notify/presence.h"
#include "platform/monotonic.h"
#include "settings/edits.h"
#include "settings/pins.h"
#include "settings/settings.h"
#include "settings/status_lines.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"
#include "tests/mail/test_tls.h"

namespace {

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
// The rotated refresh tokens handed over, in order.
std::vector<TokenOffer> tokenOffers;
void offerToken(Kel&, const TokenOffer& offer) {
  record("token " + std::to_string(offer.slot));
  std::lock_guard<std::mutex> g(recordLock);
  tokenOffers.push_back(offer);
}
// What Windows would say of the person at the computer.
std::atomic<int> userState{kUserAccepts};
int askUserState(Kel&) { return userState; }
const CheckEffects kRecorder = {playSound, showPopup, drawText, loadTrayPair, destroyTrayPair, offerPin,
                                offerToken, askUserState};
const CheckTiming kQuick = {50, 100, 41, 300000, {{50, 100, 200}}};

std::vector<Call> runPass(Kel& kel, const CheckTiming& timing = kQuick) {
  {
    std::lock_guard<std::mutex> g(recordLock);
    calls.clear();
    offers.clear();
    tokenOffers.clear();
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

KelPtr kelFor(const ScriptMaildrop& drop) {
  auto kel = kelWithAccount("127.0.0.1", drop.port(), "user", "pw");
  kel->nmp = 1;
  return kel;
}

}  // namespace

TEST(CheckCycle, FirstPassAnnouncesThenNothingThenOnlyTheNewcomer) {
  ScriptMaildrop drop;
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
  ScriptMaildrop drop;
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
  ScriptMaildrop drop;
  std::vector<ScriptMaildrop::Message> seven;
  for (int i = 1; i <= 7; ++i) seven.push_back({"m" + std::to_string(i) + "@example.jp", "s"});
  drop.set(seven);
  auto kel = kelFor(drop);
  std::vector<std::string> t = texts(runPass(*kel));
  ASSERT_EQ(7u, t.size());  // six lines and the summary
  EXPECT_EQ("新着:7 非通知:0", t.back());
  EXPECT_EQ(7, kel->totalNew);
}

TEST(CheckCycle, PopupOffPlaysTheSoundAndShowsOnlyTheSummary) {
  ScriptMaildrop drop;
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
  ScriptMaildrop drop;
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
  ScriptMaildrop drop;
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
  ScriptMaildrop drop;
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
  EXPECT_STREQ("20.5秒応答がありません", kel->results[0].reason);
  EXPECT_EQ(1, kel->results[1].count);
  EXPECT_TRUE(has(cs, "show"));
  // 50 ms + 41 x 500 ms + 500 ms, then the second account; the summary's
  // 6 s hold is the recorder's and costs nothing. The budget counts polls,
  // whose sleeps run late on a loaded machine (a few ms each).
  EXPECT_GT(seconds, 20.9);
  EXPECT_LT(seconds, 26.0);
  fprintf(stderr, "given-up pass: %.2f s\n", seconds);
}

// The editors change accounts and rules on the window thread while a pass
// runs; under ThreadSanitizer any access outside the lock would show here.
TEST(CheckCycle, EditsDuringAPassAreGuarded) {
  ScriptMaildrop drop;
  std::vector<ScriptMaildrop::Message> mail;
  for (int i = 0; i < 20; ++i) mail.push_back({"a@example.jp", "message " + std::to_string(i)});
  drop.set(mail);
  auto kel = kelFor(drop);
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("kel-edits-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir);
  std::string folder = dir.string() + static_cast<char>(std::filesystem::path::preferred_separator);
  snprintf(kel->moduleDir, sizeof kel->moduleDir, "%s", folder.c_str());
  // A second account the editor writes as it stands (port 110, refused):
  // an edit that changed the first one's port would make it another one.
  AccountFields second{"second@example.jp", "127.0.0.1", "user", "pw", false, false, false};
  ASSERT_EQ(2, storeAccount(*kel, -1, second, nullptr));
  const Account a = kel->accounts[0];
  runPass(*kel);  // every header known: the edits meet a session that reads the cache
  {
    std::lock_guard<std::mutex> g(kel->checkLock);
    ASSERT_EQ(20u, kel->headerCache.entries(mailboxOf(a)));
    kel->session = nullptr;  // so that the wait below sees the next pass's session
  }

  std::atomic<bool> done{false};
  std::thread pass([&] {
    runPass(*kel);
    done = true;
  });
  for (bool started = false; !started && !done; std::this_thread::yield()) {
    std::lock_guard<std::mutex> g(kel->checkLock);
    started = kel->session != nullptr;
  }
  int edits = 0;
  while (!done) {
    EXPECT_EQ(0, storeRule(*kel, kAddToIgnoreList, "never matches", kSubjectContains, nullptr));
    deleteRule(*kel, false, 0);
    EXPECT_EQ(2, storeAccount(*kel, 1, second, nullptr));
    ++edits;
  }
  pass.join();
  EXPECT_GT(edits, 0);
  EXPECT_EQ(20u, kel->headerCache.entries(mailboxOf(a)));  // its account was not changed
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
  const CheckTiming timing = {50, 100, 5, 3000, kWakeRetryWaits};
  auto serve = [](ScriptConnection& c, int msPerByte) {
    c.login();
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
    EXPECT_STREQ("300秒で終わりませんでした", kel->results[0].reason);
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
  ScriptMaildrop drop;
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
  ScriptMaildrop drop;
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
// A server of 7 messages that holds its session after STAT until released.
struct HeldServer {
  HeldServer()
      : server([this](ScriptConnection& c) {
          c.greet("+OK ready\r\n");
          c.expect("USER");
          c.send("+OK\r\n");
          c.expect("PASS");
          c.send("+OK\r\n");
          c.expect("STAT");
          reached = true;
          while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          c.send("+OK 7 700\r\n");
          for (int n = 1; n <= 7; ++n) {
            if (!c.expect("TOP")) return;
            c.send("+OK\r\nFrom: held@example.jp\r\nSubject: held\r\n\r\n.\r\n");
          }
          c.expect("QUIT");
          c.send("+OK\r\n");
        }) {}
  ~HeldServer() { release = true; }
  std::atomic<bool> reached{false}, release{false};
  ScriptServer server;
};
}  // namespace

// The user deletes or changes an account while a session holds: results land
// with the account they belong to, a session whose account went writes
// nothing, and an account that moved down is still checked.
TEST(CheckCycle, AccountsDeletedOrChangedDuringTheirPassKeepTheirOwnResults) {
  struct Case {
    const char* layout;  // a slot each: H held (7 messages), A (2), B (3)
    bool deleteSlot0;    // else slot 0 is changed to another server
    std::vector<int> counts;  // per slot afterwards; -1 failed
    int totalNew;
  };
  const Case cases[] = {
      {"HAB", true, {2, 3}, 5},   // the held account goes; A and B move down
      {"AHB", true, {7, 3}, 10},  // A goes while H runs; H lands in slot 0
      {"HA", false, {-1, 2}, 2},  // H's server changes: checked anew, refused
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout);
    HeldServer held;
    ScriptMaildrop a, b;
    a.set({{"a1@example.jp", "a"}, {"a2@example.jp", "a"}});
    b.set({{"b1@example.jp", "b"}, {"b2@example.jp", "b"}, {"b3@example.jp", "b"}});
    auto kel = kelWithAccount("127.0.0.1", 0, "user", "pw");
    SettingsFolder folder(*kel);
    for (int i = 0; c.layout[i]; ++i) {
      kel->accounts[i] = kel->accounts[0];
      char k = c.layout[i];
      kel->accounts[i].port = static_cast<uint16_t>(k == 'H' ? held.server.port() : k == 'A' ? a.port() : b.port());
      snprintf(kel->accounts[i].mailaddr, sizeof kel->accounts[i].mailaddr, "%c@example.jp", k);
    }
    TraceCapture trace;
    std::thread pass([&] { runPass(*kel); });
    for (int i = 0; i < 500 && !held.reached; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(held.reached);
    if (c.deleteSlot0) {
      deleteAccount(*kel, 0);
    } else {
      AccountFields other{"H@example.jp", "127.0.0.1", "user", "pw", false, false, false};  // port 110: refused
      storeAccount(*kel, 0, other, nullptr);
    }
    held.release = true;
    pass.join();
    std::lock_guard<std::mutex> g(kel->checkLock);
    for (size_t i = 0; i < c.counts.size(); ++i) {
      SCOPED_TRACE(i);
      if (c.counts[i] < 0) {
        EXPECT_EQ(1, kel->results[i].failed);
        EXPECT_EQ(kErrorConnectFailed, kel->results[i].errorCode);
        EXPECT_EQ(0, kel->results[i].count);
      } else {
        EXPECT_EQ(0, kel->results[i].failed);
        EXPECT_EQ(c.counts[i], kel->results[i].count);
      }
    }
    EXPECT_EQ(c.totalNew, kel->totalNew);
    EXPECT_EQ('\0', kel->accounts[c.counts.size()].mailaddr[0]);
  }
}

// A session that is given up after its handshake (a server that never
// greets over TLS) has already decided to trust the key: once its worker
// has ended, the pass hands the key over as from any other.
TEST(CheckCycle, AGivenUpSessionHandsOverTheKeyItTrusted) {
  const TestIdentity& key = testPki().selfSigned;  // made before the clock runs
  ScriptServer mute([&](ScriptConnection& c) {
    TlsScript tls(c, key);
    c.waitForClose();
  });
  auto kel = kelWithAccount("127.0.0.1", mute.port(), "user", "pw", false, /*ssl=*/true);
  TraceCapture trace;
  runPass(*kel, {50, 100, 5, 3000, kWakeRetryWaits});
  EXPECT_TRUE(trace.contains("スレッド強制終了！\n"));
  EXPECT_EQ(1, kel->results[0].failed);
  std::lock_guard<std::mutex> g(recordLock);
  ASSERT_EQ(1u, offers.size());
  EXPECT_EQ(0, offers[0].slot);
  EXPECT_EQ(testPin(key), offers[0].pin);
}

namespace {
std::string shown(const platform::LocalTime& t) {
  char text[32];
  snprintf(text, sizeof text, "    最終成功: %02d/%02d %02d:%02d", t.month, t.day, t.hour, t.minute);
  return text;
}
bool holds(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}
}  // namespace

// A failing account is seen while another works: in the tooltip, and in
// the dialog with the time of its last success.
TEST(CheckCycle, AFailedAccountIsCountedInTheTipAndShowsItsLastSuccess) {
  ScriptMaildrop drop;
  drop.set({{"a@example.jp", "one"}});
  auto kel = kelFor(drop);
  kel->accounts[1] = kel->accounts[0];
  snprintf(kel->accounts[1].mailaddr, sizeof kel->accounts[1].mailaddr, "b@example.jp");
  kel->accounts[1].port = static_cast<uint16_t>(refusedPort());
  platform::LocalTime before = platform::localMinute();
  std::vector<Call> cs = runPass(*kel);
  platform::LocalTime after = platform::localMinute();
  EXPECT_STREQ("新着:1 非通知:0 エラー:1", kel->trayIconData.szTip);
  ASSERT_FALSE(texts(cs).empty());
  EXPECT_EQ("新着:1 非通知:0", texts(cs).back());  // the popup's summary as designed
  std::vector<std::string> lines = serverStatusLines(*kel);
  EXPECT_TRUE(holds(lines, "    最終成功: なし"));
  std::string why = "    理由: 接続できません 127.0.0.1:" + std::to_string(kel->accounts[1].port) + " (";
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(why, 0) == 0; }));

  kel->accounts[0].port = kel->accounts[1].port;  // now both fail
  runPass(*kel);
  EXPECT_STREQ("接続エラー", kel->trayIconData.szTip);  // all failed: no count
  lines = serverStatusLines(*kel);
  EXPECT_TRUE(holds(lines, shown(before)) || holds(lines, shown(after)));
  EXPECT_TRUE(holds(lines, "    最終成功: なし"));  // the second account still
}

namespace {
// The user's state for one test, put back after it.
struct UserIs {
  explicit UserIs(int state) { userState = state; }
  ~UserIs() { userState = kUserAccepts; }
};

// The window thread's half-second tick, starting a held announcement on
// this thread.
bool announceHere(Kel& kel, HANDLE*, uint32_t*) {
  runHeldAnnouncement(kel, kRecorder);
  return true;
}
void closeNothing(HANDLE) {}
const WorkerOps kHereWorkers = {nullptr, nullptr, closeNothing, announceHere, askUserState};

std::vector<Call> halfSecond(Kel& kel) {
  {
    std::lock_guard<std::mutex> g(recordLock);
    calls.clear();
  }
  halfSecondTick(kel, kHereWorkers);
  std::lock_guard<std::mutex> g(recordLock);
  return calls;
}

int count(const std::vector<Call>& cs, const std::string& what) {
  int n = 0;
  for (const Call& c : cs) n += c.what == what;
  return n;
}
}  // namespace

// Each state Windows can report: the five that say nobody can see it (or
// would be interrupted) hold the announcement, with the tray set as usual
// and the lines New; it is given once, whole, at the first tick at which the
// user can see it, and never again. The others announce at once.
TEST(CheckCycle, AnAnnouncementIsHeldWhileNobodyCanSeeItAndGivenOnceWhenTheyCan) {
  const struct {
    int state;
    bool held;
  } table[] = {{kUserNotPresent, true}, {kUserBusy, true},        {kUserFullScreen3D, true},
               {kUserPresenting, true}, {kUserApp, true},         {kUserAccepts, false},
               {kUserQuietTime, false}, {kUserStateUnknown, false}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.state);
    ScriptMaildrop drop;
    drop.set({{"a@example.jp", "one"}});
    auto kel = kelFor(drop);
    UserIs user(row.state);
    std::vector<Call> pass = runPass(*kel);
    EXPECT_TRUE(has(pass, "tray count 1"));
    EXPECT_STREQ("新着:1 非通知:0", kel->trayIconData.szTip);
    EXPECT_EQ(row.held, !has(pass, "sound"));
    EXPECT_EQ(row.held, !has(pass, "show"));
    EXPECT_EQ(row.held, kel->announcementHeld.load());
    EXPECT_EQ(row.held ? kLineNew : kLineAnnounced, kel->results[0].lineState[0]);
    EXPECT_TRUE(halfSecond(*kel).empty());  // still the same state: nothing
    userState = kUserAccepts;
    std::vector<Call> released = halfSecond(*kel);
    EXPECT_EQ(kFinished, kel->checkState.load());
    if (!row.held) {
      EXPECT_TRUE(released.empty());
      continue;
    }
    std::vector<std::string> order;
    for (const Call& c : released) order.push_back(c.what);
    std::vector<std::string> want = {"sound", "show", "text", "text", "hide"};
    EXPECT_EQ(want, order);
    std::vector<std::string> shown = {"a@example.jp|one", "新着:1 非通知:0"};
    EXPECT_EQ(shown, texts(released));
    EXPECT_FALSE(kel->announcementHeld);
    EXPECT_EQ(kLineAnnounced, kel->results[0].lineState[0]);
    EXPECT_TRUE(halfSecond(*kel).empty());
    EXPECT_FALSE(has(runPass(*kel), "show"));
  }
}

// A second pass while one is held joins its lines to it; a pass in which
// every account failed keeps it as it was; the release gives them all once,
// with the totals of the last pass that reached the server and the popup
// setting as it is then.
TEST(CheckCycle, AHeldAnnouncementGathersLaterLinesAndOutlastsAFailedPass) {
  ScriptMaildrop drop;
  drop.set({{"a@example.jp", "one"}});
  auto kel = kelFor(drop);
  kel->nmp = 0;
  TraceCapture trace;
  UserIs user(kUserNotPresent);
  runPass(*kel);
  drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
  EXPECT_FALSE(has(runPass(*kel), "sound"));
  const uint16_t port = kel->accounts[0].port;
  kel->accounts[0].port = static_cast<uint16_t>(refusedPort());
  std::vector<Call> failed = runPass(*kel);
  EXPECT_TRUE(has(failed, "tray error"));
  EXPECT_TRUE(kel->announcementHeld);
  EXPECT_EQ(kLineNew, kel->results[0].lineState[0]);
  EXPECT_EQ(kLineNew, kel->results[0].lineState[1]);
  std::vector<std::string> traced = trace.lines();
  EXPECT_EQ(1, std::count(traced.begin(), traced.end(), "新着メールを保留\n"));
  EXPECT_FALSE(trace.contains("新着メール有り\n"));

  kel->nmp = 1;
  userState = kUserAccepts;
  std::vector<Call> released = halfSecond(*kel);
  EXPECT_EQ(1, count(released, "sound"));
  EXPECT_EQ(1, count(released, "show"));
  std::vector<std::string> shown = {"a@example.jp|one", "b@example.jp|two", "新着:2 非通知:0"};
  EXPECT_EQ(shown, texts(released));
  kel->accounts[0].port = port;
  EXPECT_TRUE(texts(runPass(*kel)).empty());
}

// The mail was read elsewhere while the announcement was held: a pass that
// finds none leaves nothing to give.
TEST(CheckCycle, AHeldAnnouncementIsDroppedWhenThePassFindsNoMail) {
  ScriptMaildrop drop;
  drop.set({{"a@example.jp", "one"}});
  auto kel = kelFor(drop);
  UserIs user(kUserBusy);
  runPass(*kel);
  ASSERT_TRUE(kel->announcementHeld);
  drop.set({});
  EXPECT_TRUE(has(runPass(*kel), "tray idle"));
  EXPECT_FALSE(kel->announcementHeld);
  userState = kUserAccepts;
  EXPECT_TRUE(halfSecond(*kel).empty());
}

// The pass after waking finds no network (the server's port refuses) and
// tries again after each wait; the network comes up after the second try.
// Between tries the results are what the last check left, so the status
// dialog shows no failure; the tray is set once, with the mail. A pass that
// is not after waking, or a network that never comes, ends in "接続エラー".
TEST(CheckCycle, APassAfterWakingWaitsForTheNetworkBeforeItShowsItsOutcome) {
  const struct {
    bool afterWake;
    int upAfterTries;  // 0: never
    int retries;
    const char* tray;
  } table[] = {{true, 2, 2, "tray count 2"}, {true, 0, 3, "tray error"}, {false, 1, 0, "tray error"}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.retries);
    ScriptMaildrop drop;
    drop.set({{"a@example.jp", "one"}});
    auto kel = kelFor(drop);
    runPass(*kel);
    drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
    const uint16_t port = kel->accounts[0].port;
    kel->accounts[0].port = static_cast<uint16_t>(refusedPort());
    TraceCapture trace;
    int tries = 1;
    std::vector<int> shownFailed;
    Kel* k = kel.get();
    trace.onLine([&](const std::string& line) {
      if (line != "接続できないので後で再試行します\n") return;
      std::lock_guard<std::mutex> g(k->checkLock);
      shownFailed.push_back(k->results[0].failed);
      if (++tries == row.upAfterTries + 1) k->accounts[0].port = port;  // the network is up
    });
    kel->checkAfterWake = row.afterWake;
    std::vector<Call> cs = runPass(*kel);
    std::vector<std::string> trays;
    for (const Call& c : cs)
      if (c.what.rfind("tray ", 0) == 0) trays.push_back(c.what);
    EXPECT_EQ(std::vector<std::string>{row.tray}, trays);
    EXPECT_EQ(std::vector<int>(static_cast<size_t>(row.retries), 0), shownFailed);
    EXPECT_FALSE(kel->checkAfterWake);  // the next pass is an ordinary one
    if (row.upAfterTries && row.afterWake) {
      std::vector<std::string> want = {"b@example.jp|two", "新着:2 非通知:0"};
      EXPECT_EQ(want, texts(cs));
    } else {
      EXPECT_EQ(kErrorConnectFailed, kel->results[0].errorCode);
    }
  }
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
    ScriptMaildrop drop;
    drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
    std::atomic<int> logins{0};
    std::atomic<bool> loggedIn{false};  // one session at a time
    drop.onCommand([&](ScriptConnection& conn, const std::string& command) {
      if (command == "PASS pw") ++logins, loggedIn = true;
      if (command == "QUIT") loggedIn = false;
      if (command != "CAPA") return false;
      conn.send("+OK\r\nPIPELINING\r\n" + (loggedIn ? c.after : c.before) + ".\r\n");
      return true;
    });
    auto kel = kelFor(drop);
    kel->monotonicClock = fakeClock;
    fakeNowMs = 1000;
    runPass(*kel);
    ASSERT_EQ(1, logins.load());
    drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}, {"c@example.jp", "three"}});
    fakeNowMs += c.heldMs ? c.heldMs - 1000 : 0;
    std::vector<Call> cs = runPass(*kel);
    EXPECT_EQ(c.heldMs ? 1 : 2, logins.load());
    if (c.heldMs) {
      EXPECT_EQ(0, kel->results[0].failed);
      EXPECT_EQ(2, kel->results[0].count);
      EXPECT_EQ(2, kel->results[0].prevCount);
      EXPECT_EQ(2, kel->totalNew);
      EXPECT_TRUE(has(cs, "tray count 2"));
      EXPECT_FALSE(has(cs, "show"));  // nothing announced again
      fakeNowMs += 1000;
      runPass(*kel);
      EXPECT_EQ(2, logins.load());
      EXPECT_EQ(3, kel->results[0].count);
    }
  }
}

// A token call's wait is not the server's silence; a session given up after
// the endpoint rotated its refresh token still hands the new one over once
// its worker has ended, to be stored as a sign-in's would be.
TEST(CheckCycle, ARefreshTokenRotatedByAGivenUpSessionIsHandedOver) {
  const std::string refresh = grantRefreshToken({{"rotate", "1"}, {"delay_ms", "1200"}});
  ScriptServer server([](ScriptConnection& conn) {
    TlsScript tls(conn, testPki().selfSigned);
    tls.send("+OK ready\r\n");
    if (tls.readLine() != "CAPA") return;
    tls.send("+OK\r\nSASL XOAUTH2\r\n.\r\n");
    if (tls.readLine() != "AUTH XOAUTH2") return;
    tls.send("+ \r\n");
    tls.readLine();
    tls.send("+OK\r\n");
    while (!tls.readLine().empty()) {  // silent from here on
    }
  });
  auto kel = kelWithAccount("127.0.0.1", server.port(), "kaede", "", false, /*ssl=*/true);
  oauthSignIn(*kel, refresh);
  SettingsFolder folder(*kel);
  const CheckTiming halfASecondOfSilence = {50, 100, 5, 300000, {{50, 100, 200}}};
  std::vector<Call> cs = runPass(*kel, halfASecondOfSilence);
  EXPECT_EQ(1, kel->results[0].failed);
  EXPECT_STREQ(kReasonSilent, kel->results[0].reason);
  ASSERT_TRUE(has(cs, "token 0"));
  std::vector<TokenOffer> handed;
  {
    std::lock_guard<std::mutex> g(recordLock);
    handed = tokenOffers;
  }
  ASSERT_EQ(1u, handed.size());
  std::string rotated;
  ASSERT_TRUE(openRefreshToken(handed[0].refresh, rotated));
  EXPECT_EQ(oauthAdmin({{"op", "info"}, {"refresh", refresh}})["current"].get<std::string>(), rotated);
  kel->oauth[0].refresh.clear();
  EXPECT_EQ(TokenStored::kStored, acceptTokenOffer(*kel, handed[0]));
  std::string stored;
  EXPECT_TRUE(openRefreshToken(loadedKel(kel->moduleDir)->oauth[0].refresh, stored));
  EXPECT_EQ(rotated, stored);
}

namespace {
std::atomic<int64_t> clockShiftMs{0};
uint64_t shiftedClock() { return platform::monotonicMs() + static_cast<uint64_t>(clockShiftMs.load()); }
int ticksStarted = 0;
bool checkHere(Kel& kel, HANDLE*, uint32_t*) {
  ++ticksStarted;
  runCheckCycle(kel, kRecorder, kQuick);
  return true;
}
const WorkerOps kCheckHere = {checkHere, nullptr, closeNothing, announceHere, askUserState};
}  // namespace

// An account a LOGIN-DELAY held is checked once the wait ends: by the pass
// that found it waiting when that is at most a minute away, else at the
// first minute tick after it; a delay counts for an hour at most.
TEST(CheckCycle, AnAccountHeldByLoginDelayIsCheckedWhenItsWaitEnds) {
  const struct {
    const char* capability;
    int64_t passAtMs;      // the second pass, this long after the first login
    int loginsAfterPass;   // of the two passes, the first logging in
    int64_t ticksAtS[2];   // minute ticks, this long after the first login
    int ticksStarting[2];  // checks each started
  } rows[] = {
      {"LOGIN-DELAY 300", 299300, 2, {301, 0}, {0, 0}},  // the pass waits out 0.7 s
      {"LOGIN-DELAY 300", 239000, 1, {299, 301}, {0, 1}},
      {"LOGIN-DELAY 900", 300000, 1, {899, 960}, {0, 1}},
      {"LOGIN-DELAY 4294967295", 300000, 1, {3599, 3601}, {0, 1}},
      {"LOGIN-DELAY 7200 USER", 3600500, 2, {3660, 0}, {0, 0}},
      {"SASL PLAIN", 300000, 2, {301, 0}, {0, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.capability) + " at " + std::to_string(row.passAtMs));
    ScriptMaildrop drop;
    drop.set({{"a@example.jp", "one"}});
    std::atomic<int> logins{0};
    drop.onCommand([&](ScriptConnection& conn, const std::string& command) {
      if (command == "PASS pw") ++logins;
      if (command == "CAPA") conn.send(std::string("+OK\r\nPIPELINING\r\n") + row.capability + "\r\n.\r\n");
      return command == "CAPA";
    });
    auto kel = kelFor(drop);
    kel->mailcbt = 4;  // 10 minutes: no tick here is the interval's
    kel->monotonicClock = shiftedClock;
    clockShiftMs = 0;
    runPass(*kel);
    const int64_t loginAt = static_cast<int64_t>(shiftedClock());
    auto moveTo = [&](int64_t ms) { clockShiftMs += loginAt + ms - static_cast<int64_t>(shiftedClock()); };
    drop.set({{"a@example.jp", "one"}, {"b@example.jp", "two"}});
    moveTo(row.passAtMs);
    auto start = std::chrono::steady_clock::now();
    std::vector<Call> cs = runPass(*kel);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));  // no wait beyond a minute
    EXPECT_EQ(row.loginsAfterPass, logins.load());
    EXPECT_EQ(row.loginsAfterPass == 2, has(cs, "show"));  // the newcomer announced
    kel->checkMinutes = 0;
    for (int t = 0; t < 2 && row.ticksAtS[t]; ++t) {
      ticksStarted = 0;
      moveTo(row.ticksAtS[t] * 1000);
      mailTick(*kel, kCheckHere);
      EXPECT_EQ(row.ticksStarting[t], ticksStarted) << row.ticksAtS[t];
    }
    EXPECT_EQ(2, logins.load());
    EXPECT_EQ(2, kel->totalNew);
  }
}
