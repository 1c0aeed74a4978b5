#include "settings/status_lines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/login_delay.h"
#include "tests/support/kel_fixture.h"

namespace {
void setLine(MailLine& line, const char* sender, const char* subject) {
  memset(&line, 0, sizeof line);
  strcpy(line.bytes, sender);
  strcpy(line.bytes + strlen(sender) + 1, subject);
}
KelPtr withAccount(const char* address) {
  KelPtr k = newKel();
  strcpy(k->accounts[0].mailaddr, address);
  return k;
}
}  // namespace

TEST(ServerStatus, EmptyWithNoAccountAndNothingDeleted) {
  KelPtr k = newKel();
  EXPECT_TRUE(serverStatusLines(*k).empty());
}

TEST(ServerStatus, NeverCheckedAccountHasNoNewMail) {
  auto k = withAccount("taro@example.jp");
  std::vector<std::string> want = {"taro@example.jp", "  新着メールはありません"};
  EXPECT_EQ(want, serverStatusLines(*k));
}

TEST(ServerStatus, NewAndIgnoredCountsAndPaddedMailLines) {
  auto k = withAccount("taro@example.jp");
  k->results[0].count = 3;
  k->results[0].ignoredCount = 2;
  setLine(k->results[0].lines[0], "山田太郎", "こんにちは");
  std::string sender32(32, 's');
  setLine(k->results[0].lines[2], sender32.c_str(), "exact");
  std::vector<std::string> lines = serverStatusLines(*k);
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("  3通の新着メールがあります", lines[1]);
  EXPECT_EQ("  2通の無視メールがあります", lines[2]);
  // 山田太郎 is 8 bytes: 24 spaces of padding, then one more before the subject.
  EXPECT_EQ("    山田太郎" + std::string(24, ' ') + " こんにちは", lines[3]);
  EXPECT_EQ("    " + sender32 + " exact", lines[4]);
}

TEST(ServerStatus, FailedAccountShowsItsErrorAndOldLinesButNoIgnoredLine) {
  auto k = withAccount("taro@example.jp");
  k->results[0].failed = 1;
  k->results[0].errorCode = 8;
  k->results[0].ignoredCount = 4;
  setLine(k->results[0].lines[0], "old@example.jp", "from before");
  std::vector<std::string> lines = serverStatusLines(*k);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("  認証失敗(E8)", lines[1]);
  EXPECT_EQ("    最終成功: なし", lines[2]);
  EXPECT_EQ(0u, lines[3].find("    old@example.jp"));
  k->results[0].errorCode = 42;
  EXPECT_EQ("  通信エラー(E0)", serverStatusLines(*k)[1]);
}

// The dialog shows a code as "(E<n>)": each name keeps its number.
TEST(ServerStatus, ErrorCodeTextNamesTheCodesNumber) {
  const ErrorCode codes[] = {kErrorNone, kErrorServerKeyChanged, kErrorNameNotFound, kErrorConnectFailed, kErrorTlsFailed,
                             kErrorSendFailed, kErrorReceiveFailed, kErrorNotPositive, kErrorPasswordRefused};
  ASSERT_EQ(kErrorCodes, static_cast<int>(sizeof codes / sizeof codes[0]));
  for (int i = 0; i < kErrorCodes; ++i) {
    EXPECT_EQ(i, codes[i]);
    std::string shown = "(E" + std::to_string(i) + ")";
    EXPECT_NE(std::string::npos, std::string(errorCodeText(codes[i])).find(shown)) << i;
  }
  EXPECT_STREQ("  サーバアドレスが取得できません(E2)", errorCodeText(kErrorNameNotFound));
  EXPECT_STREQ("  メールサーバに接続できません(E3)", errorCodeText(kErrorConnectFailed));
  EXPECT_STREQ("  認証失敗(E8)", errorCodeText(kErrorPasswordRefused));
  EXPECT_STREQ(errorCodeText(kErrorNone), errorCodeText(kErrorCodes));
  EXPECT_STREQ(errorCodeText(kErrorNone), errorCodeText(-1));
}

TEST(ServerStatus, DeletedMailHeadingOnlyAfterADeletionNewestFirst) {
  KelPtr k = newKel();
  setLine(k->recentDeleted[0], "spam@example.com", "newest");
  setLine(k->recentDeleted[1], "spam@example.com", "older");
  std::vector<std::string> lines = serverStatusLines(*k);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("最近の削除メール", lines[0]);
  EXPECT_EQ("  spam@example.com" + std::string(16, ' ') + " newest", lines[1]);
  EXPECT_EQ(std::string::npos, lines[2].find("newest"));
}

TEST(ServerStatus, DamagedRecordIsReadOnlyWithinItself) {
  auto k = withAccount("taro@example.jp");
  memset(k->results[0].lines[0].bytes, 'x', sizeof k->results[0].lines[0].bytes);
  std::vector<std::string> lines = serverStatusLines(*k);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("    " + std::string(32, 'x') + " ", lines[2]);
}

// The clock's two lines come last, after the deleted mail, once a
// synchronisation has run, and only while a server is set.
TEST(ServerStatus, ClockLinesSayWhatTheLastSynchronisationCameTo) {
  const struct {
    ClockOutcome outcome;
    uint32_t refusal;
    double offset;
    const char* text;
  } cases[] = {
      {ClockOutcome::kSynchronised, 0, 0.04, "同期しました（ずれ +0.0秒）"},
      {ClockOutcome::kSynchronised, 0, -0.04, "同期しました（ずれ +0.0秒）"},
      {ClockOutcome::kSynchronised, 0, -12.46, "同期しました（ずれ -12.5秒）"},
      {ClockOutcome::kRefused, platform::kPrivilegeNotHeld, 3.25, "設定できません（権限なし）ずれ +3.2秒"},
      {ClockOutcome::kRefused, 87, -0.5, "設定できません（87）ずれ -0.5秒"},
      {ClockOutcome::kNoAnswer, 0, 0, "サーバが応答しません"},
      {ClockOutcome::kNameNotFound, 0, 0, "サーバのアドレスが取得できません"},
      {ClockOutcome::kUnsynchronised, 0, 0, "サーバが同期していません"},
      {ClockOutcome::kFailed, 0, 0, "メモリが足りません"},
  };
  KelPtr k = newKel();
  setLine(k->recentDeleted[0], "spam@example.com", "newest");
  strcpy(k->server, "ntp.example.jp");
  EXPECT_EQ(2u, serverStatusLines(*k).size());  // none has run yet
  for (const auto& c : cases) {
    k->clockReport = ClockReport{c.outcome, {2026, 3, 9, 7, 5, 59, 0}, c.refusal, c.offset, "メモリが足りません"};
    std::vector<std::string> lines = serverStatusLines(*k);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("最近の削除メール", lines[0]);
    EXPECT_EQ("時刻合わせ", lines[2]);
    EXPECT_EQ(std::string("  03/09 07:05 ") + c.text, lines[3]);
  }
  k->server[0] = '\0';  // switched off: nothing to say of it
  EXPECT_EQ(2u, serverStatusLines(*k).size());
}

// A server's refusal as the dialog shows it: in Shift-JIS whatever it came
// in, with nothing that could disturb a line of the list.
TEST(FailureReason, ReplyLinesBecomeShiftJisText) {
  const struct {
    const char* what;
    std::string line;
    std::string want;
  } cases[] = {
      {"ascii", "-ERR [AUTH] Application-specific password required: https://support.example.com/apppass\r\n",
       "-ERR [AUTH] Application-specific password required: https://support.example.com/apppass"},
      {"utf-8 japanese",
       "-ERR [IN-USE] \xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\xE3\x83\x9C\xE3\x83\x83\xE3\x82\xAF\xE3\x82\xB9\xE3\x81\xAF"
       "\xE4\xBD\xBF\xE7\x94\xA8\xE4\xB8\xAD\xE3\x81\xA7\xE3\x81\x99\r\n",
       "-ERR [IN-USE] メールボックスは使用中です"},
      {"lacking in 932, one '?' each", "-ERR \xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x98\x80 \xC2\x85 ok\r\n",
       "-ERR ?? ? ? ok"},
      {"shift-jis", "-ERR " + std::string("使用中です\\~") + "\r\n", "-ERR 使用中です\\~"},
      {"neither", "-ERR \xFF\xFE abc \x80\xA0 \x82\r\n", "-ERR ?? abc ?? ?"},
      {"control bytes", std::string("-ERR a\tb\x01" "c\x7F\r\0d\x1B$B", 17) + "\r\n", "-ERR a?b?c???d?$B"},
      {"control bytes in utf-8", "\x1B\xE4\xB8\xAD\x0A", "?中?"},
      {"no line end", "-ERR cut", "-ERR cut"},
  };
  for (const auto& c : cases) {
    Reason r;
    replyReason(c.line.data(), c.line.size(), r);
    EXPECT_EQ(c.want, std::string(r)) << c.what;
  }
}

// What a thread's work lets out becomes the reason its account (or its
// synchronisation) failed; the thread goes on.
TEST(FailureReason, AnExceptionBecomesItsWords) {
  const std::string cut = "内部エラー: " + std::string(kReasonBytes - strlen("内部エラー: "), 'x');
  const struct {
    void (*body)();
    std::string want;  // empty: the body ran to its end
  } cases[] = {
      {[] { throw std::bad_alloc(); }, "メモリが足りません"},
      {[] {
         volatile size_t huge = static_cast<size_t>(-1) / 2;  // not a pair the compiler may drop
         ::operator delete(::operator new(huge));
       },
       "メモリが足りません"},
      {[] { throw std::runtime_error("vector::_M_realloc_insert"); }, "内部エラー: vector::_M_realloc_insert"},
      {[] { throw std::runtime_error(std::string(300, 'x')); }, cut},
      {[] { throw 7; }, "内部エラー"},
      {[] {}, ""},
  };
  for (const auto& c : cases) {
    Reason why = "";
    EXPECT_EQ(c.want.empty(), caughtInto(why, c.body)) << c.want;
    EXPECT_EQ(c.want, why);
  }
}

namespace {
std::vector<std::string> failedWith(const std::string& reason, platform::LocalTime lastSuccess) {
  auto k = withAccount("taro@example.jp");
  k->results[0].failed = 1;
  k->results[0].errorCode = kErrorPasswordRefused;
  snprintf(k->results[0].reason, sizeof k->results[0].reason, "%s", reason.c_str());
  k->results[0].lastSuccess = lastSuccess;
  return serverStatusLines(*k);
}
std::string times(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}
}  // namespace

TEST(ServerStatus, FailedAccountSaysWhyAndSinceWhen) {
  std::vector<std::string> want = {"taro@example.jp", "  認証失敗(E8)", "    理由: -ERR [AUTH] wrong",
                                   "    最終成功: 03/07 09:05"};
  EXPECT_EQ(want, failedWith("-ERR [AUTH] wrong", {3, 7, 9, 5}));
  EXPECT_EQ("    最終成功: なし", failedWith("x", {}).back());
  EXPECT_EQ(3u, failedWith("", {}).size());  // no empty reason line
}

// 300 bytes that are neither ASCII nor even: the reason keeps 180 of them,
// and the dialog three lines of at most 60, each cut between characters.
TEST(ServerStatus, LongReasonWrapsAtWholeCharactersOnThreeLines) {
  const std::string a = "あ";
  std::string line = "x" + times(a, 58) + "y" + times(a, 91);
  ASSERT_EQ(300u, line.size());
  Reason r;
  replyReason(line.data(), line.size(), r);
  EXPECT_EQ(line.substr(0, 180), std::string(r));
  std::vector<std::string> lines = failedWith(r, {});
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ("    理由: x" + times(a, 29), lines[2]);
  EXPECT_EQ(std::string(10, ' ') + times(a, 29) + "y", lines[3]);
  EXPECT_EQ(std::string(10, ' ') + times(a, 29) + "..", lines[4]);
  for (const std::string& l : lines) EXPECT_LE(l.size(), 70u) << l;
  // One that fits exactly needs no mark.
  EXPECT_EQ(std::string(10, ' ') + std::string(60, 'c'),
            failedWith(std::string(60, 'a') + std::string(60, 'b') + std::string(60, 'c'), {})[4]);
}

// What waits between an account and its next check, a password its last
// check sent in clear and its IDLE connection follow its count or failure
// line; another account's IDLE state is not said.
TEST(ServerStatus, LoginDelayClearPasswordAndIdleFollowTheCountOrFailureLine) {
  static uint64_t clockMs = 100000;
  const std::string who = "taro@example.jp", none = "  新着メールはありません", two = "  2通の新着メールがあります",
                    refused = "  認証失敗(E8)", never = "    最終成功: なし";
  const std::string wait = "    ログイン間隔: あと260秒（サーバの指定）", clear = "    暗号化なし: パスワードが平文で送られました";
  const struct {
    int failed, count, ignored;
    uint32_t delaySeconds;  // asked at the login 40 s ago
    int clear;
    int32_t idle;
    uint64_t retryAtMs;
    std::vector<std::string> want;
  } rows[] = {
      {0, 0, 0, 300, 0, kIdleNone, 0, {who, none, wait}},
      {0, 2, 1, 300, 1, kIdleConnected, 0, {who, two, wait, clear, "    IDLE: 接続中", "  1通の無視メールがあります"}},
      {0, 2, 0, 40, 1, kIdleNone, 0, {who, two, clear}},  // the wait has ended
      {1, 0, 0, 300, 0, kIdleNone, 0, {who, refused, wait, never}},
      {1, 0, 0, 0, 1, kIdleNone, 0, {who, refused, clear, never}},
      {0, 0, 0, 0, 0, kIdleConnected, 0, {who, none, "    IDLE: 接続中"}},
      {0, 0, 0, 0, 0, kIdleWaiting, 100000 + 14001, {who, none, "    IDLE: 再接続待ち（あと15秒）"}},
      {1, 0, 0, 0, 0, kIdleWaiting, 100000 + 900000, {who, refused, "    IDLE: 再接続待ち（あと900秒）", never}},
      {0, 0, 0, 0, 0, kIdleWaiting, 90000, {who, none, "    IDLE: 再接続待ち（あと0秒）"}},  // a connect under way
      {0, 0, 0, 0, 0, kIdleNone, 0, {who, none}},
  };
  for (const auto& row : rows) {
    auto k = withAccount(who.c_str());
    k->monotonicClock = [] { return clockMs; };
    rememberLogin(k->loginDelays, k->accounts[0], row.delaySeconds, 60000);
    CheckResult& r = k->results[0];
    r.failed = row.failed;
    r.errorCode = row.failed ? kErrorPasswordRefused : kErrorNone;
    r.count = row.count;
    r.ignoredCount = row.ignored;
    r.passwordInClear = row.clear;
    r.accountId = 5;
    k->idleShown[3] = {5, row.idle, row.retryAtMs};
    k->idleShown[4] = {6, kIdleConnected, 0};  // another account's
    EXPECT_EQ(row.want, serverStatusLines(*k)) << row.count << " " << row.delaySeconds << " " << row.idle;
  }
}
