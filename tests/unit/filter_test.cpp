// The delete and ignore lists against decoded headers, and where each
// message's line ends up.
#include "mailcheck/filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/application.h"
#include "tests/support/kel_fixture.h"

namespace {

struct KelWithRules {
  KelPtr kel = newKel();
  void deleteRule(int slot, const char* keyword, int kind) { putRule(kel->deleteList, slot, keyword, kind); }
  void ignoreRule(int slot, const char* keyword, int kind) { putRule(kel->ignoreList, slot, keyword, kind); }
  MessageVerdict analyse(const std::string& headerLines, int account = 0, int slot = 0) {
    std::string r = "+OK\r\n" + headerLines + "\r\nbody\r\n.\r\n";
    return analyseMessage(r.c_str(), *kel, account, slot);
  }
};

MessageHeaders headers(const char* address, const char* name, const char* subject, const char* to) {
  MessageHeaders h{};
  strcpy(h.senderAddress, address);
  strcpy(h.senderName, name);
  strcpy(h.subject, subject);
  strcpy(h.to, to);
  return h;
}

std::string sender(const MailLine& line) { return line.bytes; }
std::string subject(const MailLine& line) { return line.bytes + strlen(line.bytes) + 1; }

const char* kMessage =
    "From: \"Yamada\" <yamada@example.jp>\r\nSubject: Weekly news\r\nTo: me@example.jp\r\n";

}  // namespace

TEST(Filter, KeywordTestsAreByteWise) {
  EXPECT_TRUE(keywordMatches("abc", "abc", kTestEqual));
  EXPECT_FALSE(keywordMatches("abcd", "abc", kTestEqual));
  EXPECT_FALSE(keywordMatches("ABC", "abc", kTestEqual));
  EXPECT_TRUE(keywordMatches("", "", kTestEqual));
  EXPECT_FALSE(keywordMatches("a", "", kTestEqual));
  EXPECT_TRUE(keywordMatches("xabcx", "abc", kTestContains));
  EXPECT_FALSE(keywordMatches("abxbc", "abc", kTestContains));
  EXPECT_TRUE(keywordMatches("", "", kTestContains));
  EXPECT_TRUE(keywordMatches("anything", "", kTestContains));
  // ア イ is 83 41 83 43: "A" 0x83 spans the two characters.
  EXPECT_TRUE(keywordMatches("アイ", "\x41\x83", kTestContains));
  EXPECT_TRUE(keywordMatches(kDecodeFailed, "失敗", kTestContains));
}

TEST(Filter, EachKindTestsItsField) {
  MessageHeaders h = headers("Spam@Example.com", "Taro", "Buy now", "list@example.jp");
  struct Case {
    const char* keyword;
    int kind;
    bool matches;
  } cases[] = {
      {"Spam@Example.com", kSenderAddressEquals, true},
      {"spam@example.com", kSenderAddressEquals, false},
      {"Example", kSenderAddressEquals, false},
      {"Example", kSenderAddressContains, true},
      {"Taro", kSenderNameEquals, true},
      {"ar", kSenderNameContains, true},
      {"now", kSubjectContains, true},
      {"list@", kToContains, true},
      {"Buy", kToContains, false},
      // An empty keyword (a hand-edited file, an older editor) matches
      // nothing, of any kind: contained in every field, it would delete all.
      {"", kSenderAddressEquals, false},
      {"", kSenderAddressContains, false},
      {"", kSenderNameEquals, false},
      {"", kSenderNameContains, false},
      {"", kSubjectContains, false},
      {"", kToContains, false},
      // Kinds outside the table match nothing either.
      {"", 6, false},
      {"", -1, false},
      {"", 127, false},
  };
  for (const Case& c : cases) {
    KelWithRules t;
    t.deleteRule(0, c.keyword, c.kind);
    EXPECT_EQ(c.matches ? 1 : 0, classifyMessage(h, t.kel->deleteList, t.kel->ignoreList))
        << c.keyword << " kind " << c.kind;
  }
}

TEST(Filter, ListOrderAndGaps) {
  MessageHeaders h = headers("a@example.jp", "", "hello", "");
  {
    KelWithRules t;  // both lists match: the delete list wins
    t.ignoreRule(0, "hello", kSubjectContains);
    t.deleteRule(0, "nothing", kSubjectContains);
    t.deleteRule(1, "a@example.jp", kSenderAddressEquals);
    EXPECT_EQ(1, classifyMessage(h, t.kel->deleteList, t.kel->ignoreList));
  }
  {
    KelWithRules t;  // the unknown kind before it does not stop the scan
    t.deleteRule(0, "", 9);
    t.ignoreRule(0, "ell", kSubjectContains);
    EXPECT_EQ(2, classifyMessage(h, t.kel->deleteList, t.kel->ignoreList));
  }
  {
    KelWithRules t;  // an empty slot ends the list
    t.deleteRule(0, "x", kSubjectContains);
    t.deleteRule(1, "y", kSubjectContains);
    t.deleteRule(2, "z", kSubjectContains);
    t.deleteRule(4, "hello", kSubjectContains);
    t.ignoreRule(5, "hello", kSubjectContains);
    EXPECT_EQ(0, classifyMessage(h, t.kel->deleteList, t.kel->ignoreList));
  }
  {
    KelWithRules t;  // all 64 slots are tried
    for (int i = 0; i < kRuleSlots - 1; ++i) t.ignoreRule(i, "no", kToContains);
    t.ignoreRule(kRuleSlots - 1, "hello", kSubjectContains);
    EXPECT_EQ(2, classifyMessage(h, t.kel->deleteList, t.kel->ignoreList));
  }
  {
    KelWithRules t;  // a keyword that fills its record without a NUL
    t.deleteRule(0, "", kSubjectContains);
    memset(t.kel->deleteList[0]->keyword, 'k', sizeof t.kel->deleteList[0]->keyword);
    MessageHeaders k = headers("", "", std::string(62, 'k').c_str(), "");
    EXPECT_EQ(1, classifyMessage(k, t.kel->deleteList, t.kel->ignoreList));
    strcpy(k.subject, std::string(61, 'k').c_str());
    EXPECT_EQ(0, classifyMessage(k, t.kel->deleteList, t.kel->ignoreList));
  }
}

TEST(Filter, KeptMessagesFillTheLines) {
  KelWithRules t;
  CheckResult& r = t.kel->results[3];
  r.lineState[1] = kLineAnnounced;
  for (int slot = 0; slot < kMailLines; ++slot) {
    std::string text = "Subject " + std::to_string(slot);
    EXPECT_EQ(kVerdictKept, t.analyse("From: s@example.jp\r\nSubject: " + text + "\r\n", 3, slot));
    EXPECT_EQ("s@example.jp", sender(r.lines[slot]));
    EXPECT_EQ(text, subject(r.lines[slot]));
  }
  EXPECT_EQ(kLineNew, r.lineState[0]);
  EXPECT_EQ(kLineAnnounced, r.lineState[1]);  // a taken slot keeps its state
  EXPECT_EQ(kLineNew, r.lineState[5]);

  CheckResult before;
  memcpy(&before, &r, sizeof r);
  EXPECT_EQ(kVerdictKeptUnlisted, t.analyse(kMessage, 3, 6));
  EXPECT_EQ(kVerdictKeptUnlisted, t.analyse(kMessage, 3, 40));
  EXPECT_EQ(kVerdictKeptUnlisted, t.analyse(kMessage, 3, -1));
  EXPECT_EQ(kVerdictKeptUnlisted, t.analyse(kMessage, 9, 0));
  EXPECT_EQ(0, memcmp(&before, &r, sizeof r));
  for (int a = 0; a < kAccountSlots; ++a) {
    if (a != 3) {
      EXPECT_EQ(0, t.kel->results[a].lines[0].bytes[0]) << a;
    }
  }
  for (const MailLine& d : t.kel->recentDeleted) EXPECT_EQ(0, d.bytes[0]);
}

TEST(Filter, DisplayCuts) {
  KelWithRules t;
  CheckResult& r = t.kel->results[0];
  std::string s32(32, 's'), s33 = std::string(30, 't') + "uvw";
  t.analyse("Subject: " + s32 + "\r\n");
  EXPECT_EQ(s32, subject(r.lines[0]));
  t.analyse("Subject: " + s33 + "\r\n");
  EXPECT_EQ(std::string(30, 't') + "..", subject(r.lines[0]));
  EXPECT_EQ("", sender(r.lines[0]));  // no From header

  // The name is shown when there is one, cut to 32 bytes without dots.
  t.analyse("From: " + std::string(40, 'n') + " <a@example.jp>\r\n");
  EXPECT_EQ(std::string(32, 'n'), sender(r.lines[0]));
  t.analyse("From: <" + std::string(40, 'a') + ">\r\nSubject: x\r\n");
  EXPECT_EQ(std::string(32, 'a'), sender(r.lines[0]));
  EXPECT_EQ("x", subject(r.lines[0]));
  // Bytes are counted, not characters: 16 double-byte characters fit.
  std::string kana;
  for (int i = 0; i < 20; ++i) kana += "あ";
  t.analyse("From: " + kana + " <a@example.jp>\r\nSubject: " + kana + "\r\n");
  EXPECT_EQ(kana.substr(0, 32), sender(r.lines[0]));
  EXPECT_EQ(kana.substr(0, 30) + "..", subject(r.lines[0]));

  // Rules see the whole subject before it is cut.
  t.deleteRule(0, "needle", kSubjectContains);
  EXPECT_EQ(kVerdictDelete, t.analyse("Subject: " + std::string(40, 'h') + "needle\r\n"));
  EXPECT_EQ(std::string(30, 'h') + "..", subject(t.kel->recentDeleted[0]));
}

TEST(Filter, DeletedAndIgnoredMessages) {
  KelWithRules t;
  t.deleteRule(0, "yamada@example.jp", kSenderAddressEquals);
  t.ignoreRule(0, "Weekly", kSubjectContains);
  EXPECT_EQ(kVerdictDelete, t.analyse(kMessage, 2, 0));
  // The name is shown though the rule tested the address.
  EXPECT_EQ("Yamada", sender(t.kel->recentDeleted[0]));
  EXPECT_EQ("Weekly news", subject(t.kel->recentDeleted[0]));
  EXPECT_EQ(0, t.kel->results[2].lines[0].bytes[0]);
  EXPECT_EQ(kLineEmpty, t.kel->results[2].lineState[0]);
  EXPECT_EQ(0, t.kel->results[2].ignoredCount);

  MailLine before[kRecentDeleted];
  memcpy(before, t.kel->recentDeleted, sizeof before);
  EXPECT_EQ(kVerdictIgnore, t.analyse("Subject: Weekly digest\r\n", 2, 0));
  EXPECT_EQ(0, memcmp(before, t.kel->recentDeleted, sizeof before));
  EXPECT_EQ(0, t.kel->results[2].lines[0].bytes[0]);

  // A field that failed to decode is matched as its failure text.
  t.ignoreRule(1, "ード失", kToContains);
  EXPECT_EQ(kVerdictIgnore, t.analyse("To: =?utf-8?B?QUI?=\r\n", 2, 0));
  EXPECT_EQ(kVerdictKept, t.analyse("To: =?utf-8?B?QUI=?=\r\n", 2, 0));
}

TEST(Filter, RecentDeletedKeepsTheNewestTen) {
  KelWithRules t;
  t.deleteRule(0, "del", kSubjectContains);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(kVerdictDelete, t.analyse("From: <s" + std::to_string(i) + "@x>\r\nSubject: del " +
                                            std::to_string(i) + "\r\n",
                                        i % kAccountSlots, 0));
  }
  for (int k = 0; k < kRecentDeleted; ++k) {
    int i = 10 - k;
    EXPECT_EQ("s" + std::to_string(i) + "@x", sender(t.kel->recentDeleted[k])) << k;
    EXPECT_EQ("del " + std::to_string(i), subject(t.kel->recentDeleted[k])) << k;
  }
}
