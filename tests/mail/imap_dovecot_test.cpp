// IMAP accounts against Dovecot's IMAP server, which serves the same
// Maildirs as its POP3 one (tools/dovecot.py). Another client's flags are
// set over a connection of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mailcheck/pop3/pop3_session.h"
#include "tests/mail/mail_test_support.h"

namespace {

int imapPort(const char* name = "KEL_IMAP_PORT") {
  int p = envPort(name);
  EXPECT_NE(0, p) << name << " is not set: run the tests through tools/run-tests.sh";
  return p;
}

KelPtr imapAccount(int port, const std::string& user, const std::string& pass, bool ssl = false) {
  KelPtr k = kelWithAccount("127.0.0.1", port, user, pass, false, ssl);
  k->accounts[0].protocol = kProtocolImap;
  return k;
}

// A trace line holds this (tags differ with the commands before).
bool traced(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

}  // namespace

// The Japanese mailbox of the POP3 tests, over IMAP: the same counts, lines
// and deletion; a second check fetches nothing and finds the same.
TEST(ImapDovecot, SameResultsAsPop3AndHeadersReadOnce) {
  int port = imapPort();
  ASSERT_NE(0, port);
  ASSERT_EQ(9, messagesIn("ichika"));
  auto kel = imapAccount(port, "ichika", "ichika-pw");
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  addRule(kel->ignoreList, "メルマガ", kSubjectContains);
  TraceCapture trace;
  EXPECT_EQ(0, checkAccount(*kel));
  const CheckResult& r = kel->results[0];
  EXPECT_EQ(kSessionDone, kel->sessionState.load());
  EXPECT_EQ(0, r.errorCode) << r.reason;
  EXPECT_EQ(7, r.count);
  EXPECT_EQ(1, r.ignoredCount);
  expectJapaneseMailboxLines(r);
  EXPECT_EQ("Buy now", lineSubject(kel->recentDeleted[0]));
  EXPECT_FALSE(kel->recentDeletedMarkOnly[0]);  // Dovecot lists UIDPLUS
  auto lines = trace.lines();
  for (const std::string& l : lines) EXPECT_EQ(std::string::npos, l.find("ichika-pw")) << l;
  EXPECT_TRUE(traced(lines, " AUTHENTICATE PLAIN xxxxxx\n"));
  EXPECT_TRUE(traced(lines, " UID STORE 5 +FLAGS.SILENT (\\Deleted)\r\n"));
  EXPECT_TRUE(traced(lines, " UID EXPUNGE 5\r\n"));
  EXPECT_EQ(8, messagesIn("ichika"));

  // Read with BODY.PEEK, so still unseen; known by UID, so not fetched.
  TraceCapture again;
  EXPECT_EQ(0, checkAccount(*kel));
  EXPECT_EQ(7, r.count);
  EXPECT_EQ(7, r.prevCount);
  EXPECT_EQ(1, r.ignoredCount);
  EXPECT_EQ("A subject line that is much lo..", lineSubject(r.lines[5]));
  EXPECT_FALSE(traced(again.lines(), " UID FETCH "));
  EXPECT_TRUE(again.contains("UID 8件、FETCH 0件\n"));
  EXPECT_EQ(8, messagesIn("ichika"));
}

// A message read on another device is not counted; one another client
// marked \Deleted stays when the rules delete others (UID EXPUNGE of
// their own UIDs only).
TEST(ImapDovecot, SeenNotCountedAndOthersDeletionsLeftAlone) {
  int port = imapPort();
  ASSERT_NE(0, port);
  ASSERT_EQ(7, messagesIn("nanami"));
  {
    ImapClient other("nanami", "nanami-pw", port);
    ASSERT_TRUE(other.ok() && other.run("UID STORE 1 +FLAGS (\\Seen)") && other.run("UID STORE 3 +FLAGS (\\Deleted)"));
  }
  auto kel = imapAccount(port, "nanami", "nanami-pw");
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  EXPECT_EQ(0, checkAccount(*kel));
  const CheckResult& r = kel->results[0];
  EXPECT_EQ(0, r.errorCode) << r.reason;
  EXPECT_EQ(3, r.count);  // 4, 6 and 7: 1 seen, 3 deleted elsewhere, 2 and 5 deleted here
  EXPECT_EQ("第4通", lineSubject(r.lines[0]));
  EXPECT_EQ("第6通", lineSubject(r.lines[1]));
  EXPECT_EQ("第7通", lineSubject(r.lines[2]));
  EXPECT_EQ('\0', r.lines[3].bytes[0]);
  EXPECT_EQ("第5通", lineSubject(kel->recentDeleted[0]));
  EXPECT_EQ("第2通", lineSubject(kel->recentDeleted[1]));
  EXPECT_EQ(5, messagesIn("nanami"));  // 3 is still there, marked
}

// TLS from the first byte on the IMAPS port and STARTTLS on the plain one,
// with the pin rules of POP3; a refused login is code 8 with the server's words.
TEST(ImapDovecot, TlsPinsAndARefusedLogin) {
  int plain = imapPort(), tls = imapPort("KEL_IMAPS_PORT");
  ASSERT_TRUE(plain && tls);
  auto first = imapAccount(tls, "ichika", "ichika-pw", true);
  SessionTask t1(*first, 0);
  EXPECT_EQ(0, runSession(t1));
  ASSERT_EQ(64u, strlen(t1.pinOffer.pin));  // self-signed: trusted on first use
  struct Case {
    int port;
    bool ssl;
    const char* pin;
    const char* pass;
    int code;
    const char* line;  // a trace line holds this
  } cases[] = {
      {tls, true, t1.pinOffer.pin, "ichika-pw", 0, "OpenSSL"},
      {plain, false, t1.pinOffer.pin, "ichika-pw", 0, " STARTTLS\r\n"},
      {tls, true, "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", "ichika-pw", 1,
       "サーバの鍵が登録と違います"},
      {plain, false, t1.pinOffer.pin, "wrong", 8, "PASSが違う"},
  };
  for (const Case& c : cases) {
    auto kel = imapAccount(c.port, "ichika", c.pass, c.ssl);
    snprintf(kel->accounts[0].pin, sizeof kel->accounts[0].pin, "%s", c.pin);
    TraceCapture trace;
    int rc = checkAccount(*kel);
    EXPECT_EQ(c.code, kel->results[0].errorCode) << c.port << " " << kel->results[0].reason;
    EXPECT_EQ(c.code == 0 ? 0 : 1, rc);
    EXPECT_TRUE(traced(trace.lines(), c.line)) << c.line;
    if (c.code == 8) {
      EXPECT_NE(nullptr, strstr(kel->results[0].reason, "[AUTHENTICATIONFAILED]"));
    }
  }
}
