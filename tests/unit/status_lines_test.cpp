#include "settings/status_lines.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/application.h"
#include "mailcheck/error_code.h"
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
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("  認証失敗(E8)", lines[1]);
  EXPECT_EQ(0u, lines[2].find("    old@example.jp"));
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
      {ClockOutcome::kSynchronised, 0, -12.46, "同期しました（ずれ -12.5秒）"},
      {ClockOutcome::kRefused, platform::kPrivilegeNotHeld, 3.25, "設定できません（権限なし）ずれ +3.2秒"},
      {ClockOutcome::kRefused, 87, -0.5, "設定できません（87）ずれ -0.5秒"},
      {ClockOutcome::kNoAnswer, 0, 0, "サーバが応答しません"},
      {ClockOutcome::kNameNotFound, 0, 0, "サーバのアドレスが取得できません"},
      {ClockOutcome::kUnsynchronised, 0, 0, "サーバが同期していません"},
  };
  KelPtr k = newKel();
  setLine(k->recentDeleted[0], "spam@example.com", "newest");
  strcpy(k->server, "ntp.example.jp");
  EXPECT_EQ(2u, serverStatusLines(*k).size());  // none has run yet
  for (const auto& c : cases) {
    k->clockReport = ClockReport{c.outcome, {2026, 3, 9, 7, 5, 59, 0}, c.refusal, c.offset};
    std::vector<std::string> lines = serverStatusLines(*k);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("最近の削除メール", lines[0]);
    EXPECT_EQ("時刻合わせ", lines[2]);
    EXPECT_EQ(std::string("  03/09 07:05 ") + c.text, lines[3]);
  }
  k->server[0] = '\0';  // switched off: nothing to say of it
  EXPECT_EQ(2u, serverStatusLines(*k).size());
}
