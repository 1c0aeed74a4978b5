// One account checked from end to end against a real Dovecot POP3 server
// (started by the test runner; see tools/dovecot.py and mailboxes.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <filesystem>

#include "mailcheck/pop3/pop3_session.h"
#include "settings/settings.h"
#include "tests/mail/mail_test_support.h"

namespace {

int pop3Port() {
  int p = envPort("KEL_POP3_PORT");
  EXPECT_NE(0, p) << "KEL_POP3_PORT is not set: run the tests through tools/run-tests.sh";
  return p;
}

}  // namespace

TEST(Pop3Dovecot, JapaneseMailboxWithDeleteAndIgnoreRules) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  ASSERT_EQ(9, messagesIn("taro"));
  auto kel = kelWithAccount("127.0.0.1", port, "taro", "tanstaaf");
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  addRule(kel->ignoreList, "メルマガ", kSubjectContains);
  TraceCapture trace;

  EXPECT_EQ(0, checkAccount(*kel));
  const CheckResult& r = kel->results[0];
  EXPECT_EQ(kSessionDone, kel->sessionState.load());
  EXPECT_EQ(0, r.failed);
  EXPECT_EQ(0, r.errorCode);
  EXPECT_EQ(7, r.count);  // 9 less one deleted and one ignored
  EXPECT_EQ(1, r.ignoredCount);
  EXPECT_EQ(0, r.prevCount);

  expectJapaneseMailboxLines(r);
  EXPECT_EQ("Spam King", lineSender(kel->recentDeleted[0]));
  EXPECT_EQ("Buy now", lineSubject(kel->recentDeleted[0]));
  EXPECT_EQ('\0', kel->recentDeleted[1].bytes[0]);

  // The conversation, in order, with the password never traced.
  std::vector<std::string> want = {"USER taro\r\n", "+OK\r\n", "PASS xxxxxx\n", "STAT\r\n"};
  int at = 0;
  for (const std::string& w : want) {
    int next = trace.find(w, at);
    ASSERT_GE(next, at) << w;
    at = next;
  }
  for (int n = 1; n <= 9; ++n) {
    int next = trace.find("TOP " + std::to_string(n) + " 4\r\n", at);
    ASSERT_GT(next, at) << n;
    at = next;
  }
  // Dovecot lists PIPELINING: DELE 5 follows the judgement of TOP 5, behind
  // the TOP commands already on their way.
  int dele = trace.find("DELE 5\r\n");
  EXPECT_GT(dele, trace.find("TOP 5 4\r\n"));
  at = std::max(at, dele);
  EXPECT_GT(trace.find("QUIT\r\n", at), at);
  auto all = trace.lines();
  EXPECT_EQ("OPEN 127.0.0.1 " + std::to_string(port) + "\n", all.at(0));
  EXPECT_EQ(0u, all.at(1).find("+OK"));
  for (const std::string& line : all) EXPECT_EQ(std::string::npos, line.find("tanstaaf")) << line;
  EXPECT_EQ(1, static_cast<int>(std::count(all.begin(), all.end(), "DELE 5\r\n")));

  // Dovecot removed the deleted message at QUIT.
  EXPECT_EQ(8, messagesIn("taro"));
}

TEST(Pop3Dovecot, DeletionCarriedOutListsTheOthers) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.1", port, "saburo", "saburo-pw");
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  kel->results[0].count = 5;  // as a previous check left it
  TraceCapture trace;
  EXPECT_EQ(0, checkAccount(*kel));
  const CheckResult& r = kel->results[0];
  EXPECT_EQ(2, r.count);
  EXPECT_EQ(5, r.prevCount);
  EXPECT_EQ("first", lineSubject(r.lines[0]));
  EXPECT_EQ("third", lineSubject(r.lines[1]));
  EXPECT_EQ('\0', r.lines[2].bytes[0]);
  int top2 = trace.find("TOP 2 4\r\n");
  ASSERT_GE(top2, 0);
  EXPECT_GT(trace.find("DELE 2\r\n"), top2);
  EXPECT_EQ(2, messagesIn("saburo"));
}

TEST(Pop3Dovecot, FailureBeforeQuitKeepsTheDeletedMessage) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  ASSERT_EQ(2, messagesIn("jiro"));
  auto kel = kelWithAccount("127.0.0.1", port, "jiro", "jiro-pw");
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  TraceCapture trace;
  // Message 2 goes away under the session once STAT has counted it:
  // Dovecot then refuses its TOP, which is already on its way behind TOP 1.
  trace.onLine([](const std::string& line) {
    if (line.rfind("+OK 2 ", 0) != 0) return;
    for (const char* sub : {"cur", "new"}) {
      std::error_code ec;
      for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(maildirOf("jiro")) / sub, ec))
        if (e.path().filename().string().find(".M1P1.") != std::string::npos) std::filesystem::remove(e.path());
    }
  });
  EXPECT_EQ(1, checkAccount(*kel));
  const CheckResult& r = kel->results[0];
  EXPECT_EQ(kSessionFailed, kel->sessionState.load());
  EXPECT_EQ(7, r.errorCode);
  // DELE 1 was answered before the failure was taken, as one at a time.
  int dele = trace.find("DELE 1\r\n");
  ASSERT_GE(dele, 0);
  EXPECT_EQ(0u, trace.lines().at(static_cast<size_t>(dele) + 1).find("+OK"));
  EXPECT_FALSE(trace.contains("QUIT\r\n"));
  EXPECT_TRUE(trace.contains("エラ～発生！\n"));
  EXPECT_EQ("deleted, then the session fails", lineSubject(kel->recentDeleted[0]));
  EXPECT_EQ(1, messagesIn("jiro"));  // the deleted one stays: no QUIT
}

// Commands sent ahead change nothing but the order of sending: the same
// counts, lines, deletions and trace lines as one command at a time.
TEST(Pop3Dovecot, PipelinedAndOneAtATimeLeaveTheSame) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  struct Run {
    CheckResult result;
    std::vector<MailLine> deleted;
    std::vector<std::string> trace;
    int left;
  };
  auto run = [&](const char* user, const char* pass, int inFlight) {
    auto kel = kelWithAccount("127.0.0.1", port, user, pass);
    addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
    TraceCapture trace;
    SessionTask task(*kel, 0);
    task.maxInFlight = inFlight;
    kel->sessionState = kSessionStarting;
    EXPECT_EQ(0, runSession(task));
    Run r{kel->results[0], {kel->recentDeleted[0], kel->recentDeleted[1]}, trace.lines(), messagesIn(user)};
    for (std::string& line : r.trace) {
      if (line.rfind("+OK [XCLIENT]", 0) == 0 || line.rfind("OPEN ", 0) == 0) line = "";  // differ per connection
      if (line.rfind("USER ", 0) == 0) line = "USER";
    }
    std::sort(r.trace.begin(), r.trace.end());
    return r;
  };
  ASSERT_EQ(7, messagesIn("goro"));
  ASSERT_EQ(7, messagesIn("rokuro"));
  Run piped = run("goro", "goro-pw", kPipelineWindow);
  Run single = run("rokuro", "rokuro-pw", 1);
  EXPECT_EQ(5, piped.result.count);
  EXPECT_EQ(single.result.count, piped.result.count);
  EXPECT_EQ(single.result.ignoredCount, piped.result.ignoredCount);
  EXPECT_EQ(single.result.errorCode, piped.result.errorCode);
  EXPECT_EQ(0, memcmp(piped.result.lines, single.result.lines, sizeof piped.result.lines));
  EXPECT_EQ(0, memcmp(piped.result.lineState, single.result.lineState, sizeof piped.result.lineState));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(0, memcmp(&piped.deleted[i], &single.deleted[i], sizeof(MailLine)));
  EXPECT_EQ("第5通", lineSubject(piped.deleted[0]));
  EXPECT_EQ("第2通", lineSubject(piped.deleted[1]));
  EXPECT_EQ("第6通", lineSubject(piped.result.lines[3]));
  EXPECT_EQ(single.trace, piped.trace);
  EXPECT_EQ(5, piped.left);
  EXPECT_EQ(5, single.left);
}

TEST(Pop3Dovecot, HeaderBlocksAndBodyLinesOfRealSize) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.1", port, "hachiro", "hachiro-pw");
  EXPECT_EQ(0, checkAccount(*kel));
  const CheckResult& r = kel->results[0];
  EXPECT_EQ(0, r.errorCode);
  EXPECT_EQ(3, r.count);
  EXPECT_EQ("大きなヘッダ", lineSender(r.lines[0]));
  EXPECT_EQ("四十キロバイトのヘッダ", lineSubject(r.lines[0]));
  EXPECT_EQ("html@example.jp", lineSender(r.lines[1]));
  EXPECT_EQ("one long line", lineSubject(r.lines[1]));
  EXPECT_EQ("after the long line", lineSubject(r.lines[2]));
}

TEST(Pop3Dovecot, ApopLogin) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.1", port, "hanako", "hana-pass", /*apop=*/true);
  TraceCapture trace;
  EXPECT_EQ(0, checkAccount(*kel));
  EXPECT_EQ(1, kel->results[0].count);
  EXPECT_EQ("APOP works", lineSubject(kel->results[0].lines[0]));
  bool sawApop = false;
  for (const std::string& line : trace.lines()) {
    if (line.rfind("APOP hanako ", 0) == 0) {
      sawApop = true;
      EXPECT_EQ(std::string("APOP hanako ").size() + 32 + 2, line.size()) << line;
    }
    EXPECT_EQ(std::string::npos, line.find("hana-pass"));
    EXPECT_NE(0u, line.rfind("USER ", 0));
  }
  EXPECT_TRUE(sawApop);
}

TEST(Pop3Dovecot, TlsOnThePop3sPort) {
  int port = envPort("KEL_POP3S_PORT");
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.1", port, "hanako", "hana-pass", false, /*ssl=*/true);
  TraceCapture trace;
  EXPECT_EQ(0, checkAccount(*kel));
  EXPECT_EQ(0, kel->results[0].errorCode);
  EXPECT_EQ(1, kel->results[0].count);
  EXPECT_EQ("APOP works", lineSubject(kel->results[0].lines[0]));
  EXPECT_TRUE(trace.contains("OpenSSL\n"));
}

TEST(Pop3Dovecot, WrongPasswordGivesEightWithPassAndSevenWithApop) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  {
    auto kel = kelWithAccount("127.0.0.1", port, "hanako", "wrong");
    TraceCapture trace;
    EXPECT_EQ(1, checkAccount(*kel));
    EXPECT_EQ(8, kel->results[0].errorCode);
    EXPECT_TRUE(trace.contains("PASSが違う～♪\n"));
    int quit = trace.find("QUIT\r\n");
    ASSERT_GE(quit, 0);
    EXPECT_EQ(0u, trace.lines().at(static_cast<size_t>(quit) + 1).find("+OK"));  // its reply is traced
    EXPECT_EQ(kSessionFailed, kel->sessionState.load());
  }
  {
    auto kel = kelWithAccount("127.0.0.1", port, "hanako", "wrong", /*apop=*/true);
    TraceCapture trace;
    EXPECT_EQ(1, checkAccount(*kel));
    EXPECT_EQ(7, kel->results[0].errorCode);
    EXPECT_TRUE(trace.contains("エラー\n"));
  }
}

TEST(Pop3Dovecot, TlsAgainstAPlainServerFailsWithFour) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.1", port, "hanako", "hana-pass", false, /*ssl=*/true);
  TraceCapture trace;
  EXPECT_EQ(1, checkAccount(*kel));
  EXPECT_EQ(4, kel->results[0].errorCode);
  EXPECT_EQ(kSessionFailed, kel->sessionState.load());
  std::vector<std::string> want = {"OPEN 127.0.0.1 " + std::to_string(port) + "\n", "OpenSSL\n",
                                   "OpenSSL SSL_connect Error\n"};
  EXPECT_EQ(want, trace.lines());
}

TEST(Pop3Dovecot, EmptyMailboxClearsEveryLine) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.1", port, "shiro", "shiro-pw");
  for (int i = 0; i < kMailLines; ++i) {
    snprintf(kel->results[0].lines[i].bytes, 96, "old");
    kel->results[0].lineState[i] = kLineAnnounced;
  }
  TraceCapture trace;
  EXPECT_EQ(0, checkAccount(*kel));
  EXPECT_EQ(0, kel->results[0].count);
  for (int i = 0; i < kMailLines; ++i) {
    EXPECT_EQ('\0', kel->results[0].lines[i].bytes[0]);
    EXPECT_EQ(kLineEmpty, kel->results[0].lineState[i]);
  }
  for (const std::string& line : trace.lines()) EXPECT_NE(0u, line.rfind("TOP ", 0));
}

// Rules whose keyword reads back empty, as hand-edited files and older
// editors leave them, in both lists and of all six kinds: nothing is
// deleted, nothing ignored, nothing lost.
TEST(Pop3Dovecot, RulesThatReadBackEmptyMatchNothing) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  ASSERT_EQ(1, messagesIn("hanako"));
  auto kel = kelWithAccount("127.0.0.1", port, "hanako", "hana-pass");
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("kel-empty-rules-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir);
  const char* keywords[] = {"key%02d-1= \r\n", "key%02d-1=\"\"\r\n", "key%02d-1= \" \" \r\n", "key%02d-1=''\r\n", "", "key%02d-1=\t\r\n"};
  for (const char* file : {"mail3.ini", "mail4.ini"}) {
    std::string text = std::string("[") + (file[4] == '3' ? "kill" : "mushi") + "]\r\n";
    for (int kind = 0; kind < 6; ++kind) {
      char line[64];
      snprintf(line, sizeof line, keywords[kind], kind);
      text += line;
      snprintf(line, sizeof line, "key%02d-2=%d\r\n", kind, kind);
      text += line;
    }
    FILE* f = fopen((dir / file).string().c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
  std::string folder = dir.string() + static_cast<char>(std::filesystem::path::preferred_separator);
  snprintf(kel->moduleDir, sizeof kel->moduleDir, "%s", folder.c_str());
  const Account account = kel->accounts[0];  // the test's, not the folder's
  loadAllSettings(*kel);
  kel->accounts[0] = account;
  for (int i = 0; i < 6; ++i) {
    ASSERT_NE(nullptr, kel->deleteList[i]) << i;
    ASSERT_NE(nullptr, kel->ignoreList[i]) << i;
  }
  EXPECT_EQ(0, checkAccount(*kel));
  EXPECT_EQ(1, kel->results[0].count);
  EXPECT_EQ(0, kel->results[0].ignoredCount);
  EXPECT_EQ('\0', kel->recentDeleted[0].bytes[0]);
  EXPECT_EQ(1, messagesIn("hanako"));
  std::filesystem::remove_all(dir);
}

// Dovecot lists UIDL and PIPELINING: a second check of an unchanged mailbox
// sends no TOP, a message dropped in costs one, and each check leaves what
// reading every message would.
TEST(Pop3Dovecot, OnlyWhatIsNewCostsATop) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  ASSERT_EQ(4, messagesIn("kuro"));
  auto kel = kelWithAccount("127.0.0.1", port, "kuro", "kuro-pw");
  addRule(kel->ignoreList, "広告", kSubjectContains);
  int tops = -1;
  EXPECT_EQ(0, checkAccount(*kel, &tops));
  EXPECT_EQ(4, tops);
  const CheckResult first = kel->results[0];
  EXPECT_EQ(3, first.count);
  EXPECT_EQ(1, first.ignoredCount);
  EXPECT_EQ("第4報", lineSubject(first.lines[2]));

  TraceCapture trace;
  EXPECT_EQ(0, checkAccount(*kel, &tops));
  EXPECT_EQ(0, tops);
  EXPECT_EQ(3, kel->results[0].count);
  EXPECT_EQ(1, kel->results[0].ignoredCount);
  EXPECT_EQ(0, memcmp(first.lines, kel->results[0].lines, sizeof first.lines));
  int stat = trace.find("STAT\r\n");
  ASSERT_GE(stat, 0);
  EXPECT_EQ(stat + 1, trace.find("UIDL\r\n", stat));  // pipelined with STAT
  EXPECT_GT(trace.find("ID 4件、TOP 0件\n"), stat);

  std::filesystem::path dropped = std::filesystem::path(maildirOf("kuro")) / "new" / "1800000000.M99P1.kel";
  {
    FILE* f = fopen(dropped.string().c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fputs("From: new@example.jp\nSubject: dropped in\n\nbody\n", f);
    fclose(f);
  }
  EXPECT_EQ(0, checkAccount(*kel, &tops));
  EXPECT_EQ(1, tops);
  EXPECT_EQ(4, kel->results[0].count);
  EXPECT_EQ("dropped in", lineSubject(kel->results[0].lines[3]));
  EXPECT_EQ(0, memcmp(first.lines, kel->results[0].lines, 3 * sizeof(MailLine)));
  for (const char* sub : {"cur", "new"}) {  // Dovecot may have moved it to cur/
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(maildirOf("kuro")) / sub, ec))
      if (e.path().filename().string().find(".M99P1.") != std::string::npos) std::filesystem::remove(e.path());
  }
  EXPECT_EQ(4, messagesIn("kuro"));
}
