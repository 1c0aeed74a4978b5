#include "settings/edits.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/header_cache.h"
#include "settings/settings.h"
#include "tests/support/kel_fixture.h"
#include "tests/unit/test_dir.h"

namespace {

struct Editing {
  TempDir dir;
  KelPtr kel = loadedKel(dir.path());
  int add(const char* keyword, int32_t code = kAddToDeleteList) {
    return storeRule(*kel, code, keyword, kSubjectContains, nullptr);
  }
};

}  // namespace

TEST(Edits, CutNeverSplitsATwoByteCharacter) {
  char out[8];
  copyCut(out, "abcdefghij", 5);
  EXPECT_STREQ("abcde", out);
  copyCut(out, "abcd\x95\x5C", 5);  // a lead byte would be the fifth
  EXPECT_STREQ("abcd", out);
  copyCut(out, "abc\x95\x5Cz", 5);
  EXPECT_STREQ("abc\x95\x5C", out);
  copyCut(out, "ab\xB1\xB2\xB3", 4);  // half-width kana are single bytes
  EXPECT_STREQ("ab\xB1\xB2", out);
}

TEST(Edits, RulesDeletedFromTheMiddleCloseTheGapAndFreeTheLastSlot) {
  Editing t;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(i, t.add(("k" + std::to_string(i)).c_str()));
  t.add("ignored", kAddToIgnoreList);
  EXPECT_EQ(SaveOutcome::kSaved, deleteRule(*t.kel, true, 1));
  EXPECT_STREQ("k0", t.kel->deleteList[0]->keyword);
  EXPECT_STREQ("k2", t.kel->deleteList[1]->keyword);
  EXPECT_STREQ("k4", t.kel->deleteList[3]->keyword);
  EXPECT_EQ(nullptr, t.kel->deleteList[4]);
  ASSERT_NE(nullptr, t.kel->ignoreList[0]);
  EXPECT_EQ(nullptr, t.kel->ignoreList[1]);
  EXPECT_EQ(4, t.add("again"));  // the freed end is the next free slot
}

TEST(Edits, EditCodesNameTheirListAndSlot) {
  Editing t;
  t.add("d0");
  t.add("i0", kAddToIgnoreList);
  t.add("i1", kAddToIgnoreList);
  EXPECT_STREQ("d0", ruleForCode(*t.kel, 1)->keyword);
  EXPECT_STREQ("i1", ruleForCode(*t.kel, -2)->keyword);
  EXPECT_EQ(nullptr, ruleForCode(*t.kel, 2));
  EXPECT_EQ(nullptr, ruleForCode(*t.kel, 65));
  EXPECT_EQ(nullptr, ruleForCode(*t.kel, 0));
  EXPECT_EQ(nullptr, ruleForCode(*t.kel, kAddToIgnoreList));  // adding designates no rule yet
  EXPECT_EQ(1, storeRule(*t.kel, -2, "changed", 9, nullptr));  // an unknown kind is not stored
  EXPECT_EQ(kSenderAddressEquals, t.kel->ignoreList[1]->kind);
  EXPECT_EQ(-1, storeRule(*t.kel, 5, "nothing there", 0, nullptr));
}

TEST(Edits, AnUnwritableFileIsReportedAndTheChangeKept) {
  Editing t;
  strcpy(t.kel->moduleDir, (t.dir.path() + "missing/").c_str());
  AccountFields f{"a@example.jp", "pop.example.jp", "a", "pw", false, true, false};
  SaveOutcome saved = SaveOutcome::kSaved;
  EXPECT_EQ(1, storeAccount(*t.kel, -1, f, &saved));
  EXPECT_EQ(SaveOutcome::kNotWritten, saved);
  EXPECT_EQ(995, t.kel->accounts[0].port);
}

TEST(Edits, TextsThatSayNothingAreKnown) {
  for (const char* nothing : {"", " ", "\t \t", "\"\"", "''", " \"\" ", "\"  \"", " ' ' "})
    EXPECT_TRUE(saysNothing(nothing)) << "[" << nothing << "]";
  for (const char* something : {"a", " a ", "\"", "'", "\"'", "\"a\"", " \" \"x", "x\"\""})
    EXPECT_FALSE(saysNothing(something)) << "[" << something << "]";
}

// What a check left (counts, lines, reason, last success, the password
// sent in clear) belongs to the server, port and mailbox it was had with.
TEST(Edits, AnotherServerPortOrUserForgetsTheLastSuccess) {
  Editing t;
  AccountFields f{"a@example.jp", "pop.example.jp", "a", "pw", false, false, false};
  ASSERT_EQ(1, storeAccount(*t.kel, -1, f, nullptr));
  const platform::LocalTime had{3, 7, 9, 5};
  struct Change {
    const char* server;
    const char* user;
    bool ssl;
    const char* pass;
    bool forgets;
  } changes[] = {
      {"pop.example.jp", "a", false, "new password", false},
      {"pop2.example.jp", "a", false, "pw", true},
      {"pop.example.jp", "b", false, "pw", true},
      {"pop.example.jp", "a", true, "pw", true},  // port 995
  };
  for (const Change& c : changes) {
    ASSERT_EQ(1, storeAccount(*t.kel, 0, f, nullptr));  // back to the first
    CheckResult& r = t.kel->results[0];
    r = CheckResult{1, kErrorPasswordRefused, 4, 3, 2, {}, {}, "", 7, "-ERR no", had, 1, 1};
    strcpy(r.lines[0].bytes, "old");
    AccountFields changed{f.mailaddr, c.server, c.user, c.pass, false, c.ssl, false};
    ASSERT_EQ(1, storeAccount(*t.kel, 0, changed, nullptr));
    EXPECT_EQ(c.forgets ? 0 : 3, r.lastSuccess.month) << c.server << " " << c.user;
    EXPECT_EQ(!c.forgets, r.count == 4 && r.prevCount == 3 && r.ignoredCount == 2 && r.failed == 1 &&
                              r.accountId == 7 && r.passwordInClear == 1 && strcmp(r.reason, "-ERR no") == 0);
    EXPECT_EQ(c.forgets, r.count + r.prevCount + r.ignoredCount + r.failed + r.passwordInClear == 0 &&
                             r.accountId == 0 && r.reason[0] == '\0' && r.lines[0].bytes[0] == '\0');
  }
}

// What the header cache knows of a mailbox goes when no account names it:
// its server, port or user changed, or the account deleted.
TEST(Edits, AMailboxNoAccountNamesLosesItsCachedHeaders) {
  Editing t;
  MessageHeaders h{};
  auto boxOf = [&](int s) { return mailboxOf(t.kel->accounts[s]); };
  auto fill = [&](int s) { return t.kel->headerCache.store(boxOf(s), "id", h); };
  const AccountFields a{"a@example.jp", "pop.example.jp", "a", "pw", false, false, false};
  const AccountFields b{"b@example.jp", "pop.example.jp", "b", "pw", false, false, false};
  ASSERT_EQ(1, storeAccount(*t.kel, -1, a, nullptr));
  ASSERT_EQ(2, storeAccount(*t.kel, -1, b, nullptr));
  ASSERT_TRUE(fill(0) && fill(1));

  AccountFields kept = a;
  kept.mailaddr = "other@example.jp";  // not part of the mailbox
  kept.apop = true;
  storeAccount(*t.kel, 0, kept, nullptr);
  EXPECT_EQ(1u, t.kel->headerCache.entries(boxOf(0)));

  AccountFields user = a, server = a, port = a;
  user.user = "a2";
  server.pop3server = "pop2.example.jp";
  port.ssl = true;  // 995
  for (const AccountFields& changed : {user, server, port}) {
    storeAccount(*t.kel, 0, a, nullptr);
    ASSERT_TRUE(fill(0));
    MailboxKey before = boxOf(0);
    storeAccount(*t.kel, 0, changed, nullptr);
    EXPECT_EQ(0u, t.kel->headerCache.entries(before)) << changed.user << changed.pop3server << changed.ssl;
    EXPECT_EQ(1u, t.kel->headerCache.entries(boxOf(1)));  // the other account's stay
  }
  MailboxKey second = boxOf(1);
  deleteAccount(*t.kel, 1);
  EXPECT_EQ(0u, t.kel->headerCache.entries(second));
}
