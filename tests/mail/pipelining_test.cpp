// TOP and DELE sent ahead of their replies when the server lists
// PIPELINING, against a scripted maildrop: the same outcome as one command
// at a time, also when a DELE is refused in the middle of the run; and the
// exchange of a server without it, command for command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mailcheck/pop3/pop3_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"

namespace {

std::string sender(int n) { return n % 4 == 3 ? "spam@example.com" : "m" + std::to_string(n) + "@example.jp"; }

struct Outcome {
  int rc;
  CheckResult result;
  MailLine deleted[kRecentDeleted];
  std::vector<std::string> commands;
  int early;
};

Outcome check(bool pipelining, int messages, int refuseDele, int refuseTop = 0) {
  Outcome o;
  ScriptMaildrop drop(pipelining ? "+OK\r\nTOP\r\nPIPELINING\r\n.\r\n" : ScriptMaildrop::kNoCapa);
  std::vector<ScriptMaildrop::Message> list;
  for (int n = 1; n <= messages; ++n) list.push_back({sender(n), "s" + std::to_string(n)});
  drop.set(list);
  if (refuseDele) drop.answer("DELE " + std::to_string(refuseDele), "-ERR DELE " + std::to_string(refuseDele) + " locked\r\n");
  if (refuseTop) drop.answer("TOP " + std::to_string(refuseTop), "-ERR TOP " + std::to_string(refuseTop) + " refused\r\n");
  drop.watchAhead(30);
  auto kel = kelWithAccount("127.0.0.1", drop.port(), "user", "secret");
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  for (int i = 0; i < kMailLines; ++i) {  // what an earlier check left
    snprintf(kel->results[0].lines[i].bytes, sizeof(MailLine), "old %d", i);
    kel->results[0].lineState[i] = kLineAnnounced;
  }
  o.rc = checkAccount(*kel);
  o.result = kel->results[0];
  memcpy(o.deleted, kel->recentDeleted, sizeof o.deleted);
  o.commands = drop.commands();
  o.early = drop.sentAhead();
  return o;
}

void expectSameEffects(const Outcome& a, const Outcome& b) {
  EXPECT_EQ(a.rc, b.rc);
  EXPECT_EQ(a.result.errorCode, b.result.errorCode);
  EXPECT_STREQ(a.result.reason, b.result.reason);
  EXPECT_EQ(a.result.count, b.result.count);
  EXPECT_EQ(a.result.ignoredCount, b.result.ignoredCount);
  for (int i = 0; i < kMailLines; ++i) {
    EXPECT_EQ(lineSender(a.result.lines[i]), lineSender(b.result.lines[i])) << i;
    EXPECT_EQ(lineSubject(a.result.lines[i]), lineSubject(b.result.lines[i])) << i;
    EXPECT_EQ(a.result.lineState[i], b.result.lineState[i]) << i;
  }
  for (int i = 0; i < kRecentDeleted; ++i) EXPECT_EQ(lineSubject(a.deleted[i]), lineSubject(b.deleted[i])) << i;
}

}  // namespace

TEST(Pipelining, WithoutItTheExchangeIsOneCommandAtATime) {
  Outcome o = check(false, 4, 0);
  std::vector<std::string> want = {"CAPA",    "USER user", "PASS secret", "STAT",    "UIDL",   "TOP 1 4",
                                   "TOP 2 4", "TOP 3 4",   "DELE 3",      "TOP 4 4", "QUIT"};
  EXPECT_EQ(want, o.commands);
  EXPECT_EQ(0, o.early);
  EXPECT_EQ(0, o.rc);
  EXPECT_EQ(3, o.result.count);
}

TEST(Pipelining, ManyMessagesGoAheadAndLeaveWhatOneAtATimeLeaves) {
  Outcome piped = check(true, 80, 0);
  Outcome single = check(false, 80, 0);
  EXPECT_GT(piped.early, 20);  // the commands did go ahead
  EXPECT_EQ(0, single.early);
  expectSameEffects(piped, single);
  EXPECT_EQ(0, piped.rc);
  EXPECT_EQ(80 - 20, piped.result.count);  // messages 3, 7, 11, ... deleted
  std::vector<std::string> a = piped.commands, b = single.commands;
  b.erase(std::find(b.begin(), b.end(), "UIDL"));  // asked of the server without CAPA, and refused
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(b, a);  // the same commands, in another order
}

TEST(Pipelining, ARefusedDeleLeavesWhatOneAtATimeLeaves) {
  // DELE 7 is refused while the TOP commands up to about 70 are on their
  // way: their replies are read, but change nothing.
  Outcome piped = check(true, 100, 7);
  Outcome single = check(false, 100, 7);
  expectSameEffects(piped, single);
  EXPECT_EQ(1, piped.rc);
  EXPECT_EQ(7, piped.result.errorCode);
  EXPECT_STREQ("-ERR DELE 7 locked", piped.result.reason);
  EXPECT_EQ("s7", lineSubject(piped.deleted[0]));
  EXPECT_EQ("s3", lineSubject(piped.deleted[1]));
  EXPECT_EQ("s6", lineSubject(piped.result.lines[4]));
  EXPECT_EQ("old 5", lineSender(piped.result.lines[5]));  // not reached
}

// The replies to the commands behind a refused TOP arrive before the
// refusal is acted on; the reason is still the refusal's own line.
TEST(Pipelining, ARefusedTopKeepsItsOwnReplyAsTheReason) {
  Outcome piped = check(true, 100, 0, 5);
  Outcome single = check(false, 100, 0, 5);
  EXPECT_GT(piped.early, 3);
  expectSameEffects(piped, single);
  EXPECT_EQ(7, piped.result.errorCode);
  EXPECT_STREQ("-ERR TOP 5 refused", piped.result.reason);
}
