// One account checked from end to end against a real Dovecot POP3 server
// (started by the test runner; see tools/dovecot.py and mailboxes.py).
#include <gtest/gtest.h>

#include "mailcheck/pop3_session.h"
#include "tests/mail/mail_test_support.h"

namespace {

int pop3Port() {
  int p = envPort("KEL_POP3_PORT");
  EXPECT_NE(0, p) << "KEL_POP3_PORT is not set: run the tests through tools/run-tests.sh";
  return p;
}

struct Expected {
  const char* sender;
  const char* subject;
};

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

  const Expected lines[6] = {
      {"山田太郎", "こんにちは"},
      {"佐藤花子", "会議のお知らせ"},
      {"Suzuki Ichiro", "明日の予定"},
      {"tanaka@example.org", "Re: 長い件名のメールです"},
      {"加藤", "quoted subject"},
      {"ito@example.jp", "A subject line that is much lo.."},
  };
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(lines[i].sender, lineSender(r.lines[i])) << i;
    EXPECT_EQ(lines[i].subject, lineSubject(r.lines[i])) << i;
    EXPECT_EQ(kLineNew, r.lineState[i]) << i;
  }
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
    if (n == 5) {
      next = trace.find("DELE 5\r\n", at);
      ASSERT_EQ(at + 1, next);
      at = next;
    }
  }
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
  std::vector<std::string> all = trace.lines();
  int top2 = trace.find("TOP 2 4\r\n");
  ASSERT_GE(top2, 0);
  EXPECT_EQ(top2 + 1, trace.find("DELE 2\r\n"));
  EXPECT_EQ(top2 + 3, trace.find("TOP 3 4\r\n"));
  EXPECT_EQ(2, messagesIn("saburo"));
}

TEST(Pop3Dovecot, FailureBeforeQuitKeepsTheDeletedMessage) {
  int port = pop3Port();
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.1", port, "jiro", "jiro-pw");
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  TraceCapture trace;
  EXPECT_EQ(1, checkAccount(*kel));
  const CheckResult& r = kel->results[0];
  EXPECT_EQ(kSessionFailed, kel->sessionState.load());
  EXPECT_EQ(0, r.errorCode);  // the second header block did not fit the buffer
  EXPECT_TRUE(trace.contains("DELE 1\r\n"));
  EXPECT_FALSE(trace.contains("QUIT\r\n"));
  EXPECT_TRUE(trace.contains("エラ～発生！\n"));
  EXPECT_EQ("deleted, then the session fails", lineSubject(kel->recentDeleted[0]));
  EXPECT_EQ(2, messagesIn("jiro"));
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
    EXPECT_NE(0u, line.rfind("USER", 0));
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
  for (const std::string& line : trace.lines()) EXPECT_NE(0u, line.rfind("TOP", 0));
}
