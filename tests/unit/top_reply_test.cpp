// The streamed TOP reply against the whole one: whatever the reply holds,
// the analysis of what the reader keeps is the analysis of the whole reply
// with each kept header past the cap cut to the cap, its line end kept.
#include "mailcheck/top_reply.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "app/application.h"
#include "mailcheck/filter.h"
#include "tests/support/kel_fixture.h"
#include "tests/support/kept_headers.h"

namespace {

// The reply as a server ends it: at the first CR LF "." CR LF after the
// status line.
std::string wholeReply(const std::string& s, size_t statusLength) {
  size_t end = s.find("\r\n.\r\n", statusLength - 2);
  return end == std::string::npos ? s + ".\r\n" : s.substr(0, end + 5);
}

struct Read {
  std::string text;
  size_t taken;
  bool truncated;
};

Read readStreamed(const std::string& reply, size_t statusLength, size_t cap, std::mt19937& rng) {
  TopReplyReader reader(cap);
  reader.start(reply.data(), statusLength);
  size_t at = statusLength;
  std::string rest = reply.substr(statusLength) + "+OK the next reply\r\n";
  size_t taken = 0;
  while (!reader.complete() && taken < rest.size()) {
    size_t chunk = std::uniform_int_distribution<size_t>(1, 700)(rng);
    chunk = std::min(chunk, rest.size() - taken);
    size_t used = reader.feed(rest.data() + taken, chunk);
    EXPECT_TRUE(used == chunk || reader.complete());
    taken += used;
  }
  (void)at;
  return {reader.text(), taken, reader.truncated()};
}

const char* const kTokens[] = {
    "a", "b", " ", "\t", "<", ">", "\"", "@", "x@example.jp", "=?utf-8?B?44GC?=",
    "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=", "=?utf-8?Q?=E3=81=82?=", "=?bad", "?=",
    "\r\n ", "\r\n\t", "\r\n  ", "\r", "\n", "\r\n", "\r\r", "\n\r\n", "\x1b$B$3$s\x1b(B",
    "From:", "Subject:", "To:", "From: ", "Subject: ", "To: ", "From", ".", "\r\n.", "\r\n..",
    "山田", "メルマガ", "spam@example.com", "\r\n\r\n", "\0",
};
const char* const kNames[] = {"From: ", "Subject: ", "To: ", "From:", "Subject:", "To:", "from: ",
                              "Subject : ", "X-Spam: ", "Received: ", "Fro", "", " ", "\t"};

std::string pick(std::mt19937& rng, const char* const* table, size_t n) {
  const char* t = table[std::uniform_int_distribution<size_t>(0, n - 1)(rng)];
  return t[0] == '\0' && table == kTokens ? std::string(1, '\0') : std::string(t);
}

std::string value(std::mt19937& rng, int maxTokens) {
  std::string v;
  int n = std::uniform_int_distribution<int>(0, maxTokens)(rng);
  for (int i = 0; i < n; ++i) {
    if (std::uniform_int_distribution<int>(0, 40)(rng) == 0) {
      v += std::string(std::uniform_int_distribution<size_t>(900, 2500)(rng), 'w');  // past the 1001-byte limit
    } else {
      v += pick(rng, kTokens, sizeof kTokens / sizeof *kTokens);
    }
  }
  return v;
}

std::string generate(std::mt19937& rng, size_t* statusLength) {
  static const char* const statuses[] = {"+OK\r\n", "+OK 120 octets\r\n", "+OK a\rFrom: s@x\r\n",
                                         "+OK b\rSubject: in status\n\r\n", "+OK \n\r\n"};
  std::string s = statuses[std::uniform_int_distribution<int>(0, 4)(rng)];
  *statusLength = s.size();
  int headers = std::uniform_int_distribution<int>(0, 12)(rng);
  for (int i = 0; i < headers; ++i)
    s += pick(rng, kNames, sizeof kNames / sizeof *kNames) + value(rng, 8) + "\r\n";
  if (std::uniform_int_distribution<int>(0, 9)(rng) != 0) s += "\r\n";
  int body = std::uniform_int_distribution<int>(0, 4)(rng);
  for (int i = 0; i < body; ++i) s += value(rng, 4) + "\r\n";
  return s + ".\r\n";
}

KelPtr kelWithRules() {
  static const char* const keywords[6] = {"spam@example.com", "example", "山田", "w", "メルマガ", "x@"};
  return kelWithOneRuleOfEachKind(keywords);
}

}  // namespace

TEST(TopReply, KeptTextIsAnalysedAsTheWholeReply) {
  std::mt19937 rng(20261209);
  auto kel = kelWithRules();
  int cut = 0;
  for (int round = 0; round < 4000; ++round) {
    size_t statusLength = 0;
    std::string generated = generate(rng, &statusLength);
    std::string reply = wholeReply(generated, statusLength);
    // Every other reply against a cap small enough to be reached often.
    size_t cap = round % 2 ? kHeaderKeep : std::uniform_int_distribution<size_t>(24, 300)(rng);
    Read kept = readStreamed(reply, statusLength, cap, rng);
    ASSERT_EQ(reply.size() - statusLength, kept.taken) << "round " << round;  // not a byte of the next reply
    if (kept.truncated) ++cut;
    std::string promised = cutKeptHeaders(reply, cap);
    MessageHeaders whole, part;
    extractHeaders(promised.c_str(), whole);
    extractHeaders(kept.text.c_str(), part);
    ASSERT_STREQ(whole.senderAddress, part.senderAddress) << "round " << round;
    ASSERT_STREQ(whole.senderName, part.senderName) << "round " << round;
    ASSERT_STREQ(whole.subject, part.subject) << "round " << round;
    ASSERT_STREQ(whole.to, part.to) << "round " << round;
    Judgement a = judgeMessage(promised.c_str(), *kel);
    Judgement b = judgeMessage(kept.text.c_str(), *kel);
    ASSERT_EQ(a.list, b.list);
    ASSERT_EQ(0, memcmp(a.line.bytes, b.line.bytes, sizeof a.line.bytes));
    if (!kept.truncated) {
      ASSERT_EQ(reply.substr(0, reply.find('\0')), promised.substr(0, promised.find('\0')));
    }
  }
  EXPECT_GT(cut, 200);
}

TEST(TopReply, OtherHeadersAndLongBodyLinesAreNotKept) {
  std::string reply = "+OK\r\n";
  for (int i = 0; i < 64; ++i) reply += "X-Stamp-" + std::to_string(i) + ": " + std::string(1000, 's') + "\r\n";
  reply += "From: =?utf-8?B?5bGx55Sw?= <yamada@example.jp>\r\nSubject: late\r\n";
  for (int i = 0; i < 20; ++i) reply += "Received: by relay\r\n\tfor <x@example.jp>\r\n";
  reply += "\r\n" + std::string(1 << 20, 'h') + "\r\n.\r\n";
  std::mt19937 rng(1);
  Read kept = readStreamed(reply, 5, kHeaderKeep, rng);
  EXPECT_FALSE(kept.truncated);
  EXPECT_LT(kept.text.size(), 200u);
  MessageHeaders h;
  extractHeaders(kept.text.c_str(), h);
  EXPECT_STREQ("山田", h.senderName);
  EXPECT_STREQ("yamada@example.jp", h.senderAddress);
  EXPECT_STREQ("late", h.subject);
}

TEST(TopReply, AHeaderPastTheCapIsCutAndMemoryStaysBounded) {
  std::string reply = "+OK\r\nSubject: start";
  for (int i = 0; i < 4000; ++i) reply += "\r\n continued " + std::to_string(i);
  reply += "\r\nFrom: a@example.jp\r\nSubject: second\r\n\r\n.\r\n";
  std::mt19937 rng(2);
  Read kept = readStreamed(reply, 5, kHeaderKeep, rng);
  EXPECT_TRUE(kept.truncated);
  EXPECT_LE(kept.text.size(), 5 + 2 * kHeaderKeep + 8);
  MessageHeaders h;
  extractHeaders(kept.text.c_str(), h);
  EXPECT_STREQ("a@example.jp", h.senderAddress);
  EXPECT_STREQ("second", h.subject);  // the last one still wins
}
