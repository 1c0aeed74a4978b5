#include "settings/status_lines.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/login_delay.h"
#include "platform/shift_jis.h"
#include "settings/clock_lines.h"

namespace {

// Indexed by ErrorCode: "(E<n>)" tells the user the code.
const char* const kErrorCodeTexts[kErrorCodes] = {
    "  通信エラー(E0)", "  通信エラー(E1)", "  サーバアドレスが取得できません(E2)",
    "  メールサーバに接続できません(E3)", "  通信エラー(E4)", "  通信エラー(E5)",
    "  通信エラー(E6)", "  通信エラー(E7)", "  認証失敗(E8)",
};

// The sender and the subject of a line, each within the 96-byte record.
void lineTexts(const MailLine& line, char (&sender)[33], char (&subject)[33]) {
  size_t n = strnlen(line.bytes, 32);
  memcpy(sender, line.bytes, n);
  sender[n] = '\0';
  const char* rest = line.bytes + strnlen(line.bytes, sizeof line.bytes - 1) + 1;
  size_t room = static_cast<size_t>(line.bytes + sizeof line.bytes - rest);
  size_t m = strnlen(rest, room < 32 ? room : 32);
  memcpy(subject, rest, m);
  subject[m] = '\0';
}

void addMailLine(std::vector<std::string>& out, const char* format, const MailLine& line) {
  char sender[33], subject[33], text[96];
  lineTexts(line, sender, subject);
  snprintf(text, sizeof text, format, sender, subject);
  out.emplace_back(text);
}

// The reason of a failed account on up to three lines of at most 60 bytes
// of it, cut between characters and lined up under its first; a reason
// that does not fit ends in "..". With the heading each line stays within
// the 70 columns of the list.
void addReasonLines(std::vector<std::string>& out, const char* reason) {
  constexpr size_t kPerLine = 60;
  constexpr int kLines = 3;
  const char* rest = reason;
  for (int line = 0; line < kLines && *rest; ++line) {
    char piece[kPerLine + 1];
    platform::copyCut(piece, rest, kPerLine);
    size_t taken = strlen(piece);
    if (taken == 0) break;  // cannot happen: 60 bytes hold a character
    if (line == kLines - 1 && rest[taken] != '\0') {
      platform::copyCut(piece, rest, kPerLine - 2);
      strcat(piece, "..");
      taken = strlen(rest);
    }
    out.emplace_back(std::string(line == 0 ? "    理由: " : "          ") + piece);
    rest += taken;
  }
}

// An IMAP account's IDLE connection, when it has one or waits to make one.
void addIdleLine(std::vector<std::string>& out, const Kel& kel, uint32_t accountId) {
  if (accountId == 0) return;
  for (const IdleShown& s : kel.idleShown) {
    if (s.accountId != accountId || s.state == kIdleNone) continue;
    if (s.state == kIdleConnected) {
      out.emplace_back("    IDLE: 接続中");
      return;
    }
    uint64_t now = monotonicNow(kel);
    uint64_t left = s.retryAtMs > now ? (s.retryAtMs - now + 999) / 1000 : 0;
    char text[64];
    snprintf(text, sizeof text, "    IDLE: 再接続待ち（あと%u秒）", static_cast<unsigned>(left));
    out.emplace_back(text);
    return;
  }
}

// What stands between the account and its next check, and what its last
// one did that the user should know.
void addNotes(std::vector<std::string>& out, Kel& kel, const Account& a, const CheckResult& r) {
  if (uint32_t wait = loginDelayLeft(kel.loginDelays, a, monotonicNow(kel))) {
    char text[96];
    snprintf(text, sizeof text, "    ログイン間隔: あと%u秒（サーバの指定）", wait);
    out.emplace_back(text);
  }
  if (r.passwordInClear) out.emplace_back("    暗号化なし: パスワードが平文で送られました");
  addIdleLine(out, kel, r.accountId);
}

void addLastSuccess(std::vector<std::string>& out, const platform::LocalTime& t) {
  char text[32];
  if (t.month == 0)
    snprintf(text, sizeof text, "なし");
  else
    snprintf(text, sizeof text, "%02d/%02d %02d:%02d", t.month % 100, t.day % 100, t.hour % 100, t.minute % 100);
  out.emplace_back(std::string("    最終成功: ") + text);
}

}  // namespace

const char* errorCodeText(int32_t code) { return kErrorCodeTexts[code >= 0 && code < kErrorCodes ? code : 0]; }

std::vector<std::string> serverStatusLines(Kel& kel) {
  std::lock_guard<std::mutex> guard(kel.checkLock);
  std::vector<std::string> out;
  char text[96];
  for (int i = 0; i < kAccountSlots; ++i) {
    const Account& a = kel.accounts[i];
    if (a.mailaddr[0] == '\0') continue;
    const CheckResult& r = kel.results[i];
    out.emplace_back(std::string(a.mailaddr, strnlen(a.mailaddr, sizeof a.mailaddr - 1)));
    if (r.failed == 1) {
      out.emplace_back(errorCodeText(r.errorCode));
      addNotes(out, kel, a, r);
      char reason[sizeof r.reason];
      platform::copyCut(reason, r.reason, sizeof reason - 1);
      addReasonLines(out, reason);
      addLastSuccess(out, r.lastSuccess);
    } else if (r.count == 0) {
      out.emplace_back("  新着メールはありません");
      addNotes(out, kel, a, r);
    } else {
      snprintf(text, sizeof text, "  %d通の新着メールがあります", r.count);
      out.emplace_back(text);
      addNotes(out, kel, a, r);
    }
    if (r.failed != 1 && r.ignoredCount != 0) {
      snprintf(text, sizeof text, "  %d通の無視メールがあります", r.ignoredCount);
      out.emplace_back(text);
    }
    for (const MailLine& line : r.lines)
      if (line.bytes[0] != '\0') addMailLine(out, "    %-32s %s", line);
  }
  if (kel.recentDeleted[0].bytes[0] != '\0') {
    out.emplace_back("最近の削除メール");
    // Marked on an IMAP server that cannot expunge one message alone: it
    // stays there, hidden from the counts.
    for (int i = 0; i < kRecentDeleted; ++i)
      if (i == 0 || kel.recentDeleted[i].bytes[0] != '\0')
        addMailLine(out, kel.recentDeletedMarkOnly[i] ? "  %-32s %s（印のみ）" : "  %-32s %s", kel.recentDeleted[i]);
  }
  appendClockLines(kel, out);
  return out;
}
