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

// Messages the cache knows mixed with new ones: every command, TOP or DELE,
// stays within the window, also when a thousand known messages are to be
// deleted, and the outcome is that of reading every message.
TEST(Pipelining, KnownAndNewMessagesKeepEveryCommandWithinTheWindow) {
  const struct {
    const char* what;
    const char* capabilities;
    int messages;
    int knownEvery;  // message n is known when n % knownEvery != 0 (1: none)
    int spamEvery;   // message n is deleted when n % spamEvery == 0
    int window;
  } cases[] = {
      {"all known, a third deleted", ScriptMaildrop::kPipeliningAndIds, 200, 1000, 3, kPipelineWindow},
      {"a thousand known, all deleted", ScriptMaildrop::kPipeliningAndIds, 1000, 100000, 1, kPipelineWindow},
      {"half known", ScriptMaildrop::kPipeliningAndIds, 300, 2, 4, kPipelineWindow},
      {"runs of new among known", ScriptMaildrop::kPipeliningAndIds, 300, 7, 2, kPipelineWindow},
      {"all new, half deleted", ScriptMaildrop::kPipeliningAndIds, 200, 1, 2, kPipelineWindow},
      {"one at a time", "+OK\r\nUIDL\r\n.\r\n", 60, 3, 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptMaildrop drop(c.capabilities);
    std::vector<ScriptMaildrop::Message> all, known;
    int spam = 0;
    for (int n = 1; n <= c.messages; ++n) {
      bool deleted = n % c.spamEvery == 0;
      spam += deleted;
      all.push_back({deleted ? "spam@example.com" : "m" + std::to_string(n) + "@example.jp", "s" + std::to_string(n)});
      if (n % c.knownEvery != 0) known.push_back(all.back());
    }
    auto kel = kelWithAccount("127.0.0.1", drop.port(), "user", "secret");
    drop.set(known);  // a first check learns these; no rule deletes them yet
    ASSERT_EQ(0, checkAccount(*kel));
    addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
    drop.set(all);
    drop.watchAhead(20);
    int tops = 0;
    EXPECT_EQ(0, checkAccount(*kel, &tops));
    EXPECT_EQ(c.messages - static_cast<int>(known.size()), tops);
    EXPECT_LE(drop.mostInFlight(), c.window);
    if (c.window > 1) {
      EXPECT_GT(drop.mostInFlight(), 1);  // commands went ahead
    }
    std::vector<std::string> commands = drop.commands();
    EXPECT_EQ(spam, std::count_if(commands.begin(), commands.end(),
                                  [](const std::string& s) { return s.rfind("DELE ", 0) == 0; }));
    EXPECT_EQ(c.messages - spam, kel->results[0].count);
    EXPECT_EQ("QUIT", commands.back());
  }
}
