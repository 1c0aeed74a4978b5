#include "mailcheck/pop3/pop3_session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "app/application.h"
#include "mailcheck/access_token.h"
#include "mailcheck/pop3/apop.h"
#include "mailcheck/pop3/capabilities.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/pop3/pop3_conversation.h"
#include "mailcheck/transport.h"
#include "platform/trace.h"

namespace {
uint32_t stampAccount(Kel& kel, int slot) {
  uint32_t& id = kel.results[slot].accountId;
  if (id == 0) {
    if (++kel.lastAccountId == 0) ++kel.lastAccountId;
    id = kel.lastAccountId;
  }
  return id;
}
}  // namespace

int accountSlot(const Kel& kel, uint32_t accountId) {
  for (int i = 0; i < kAccountSlots && accountId != 0; ++i)
    if (kel.results[i].accountId == accountId) return i;
  return -1;
}

SessionTask::SessionTask(Kel& k, int i)
    : kel(k), index(i), accountId(stampAccount(k, i)), account(k.accounts[i]), connection(), oauth(k.oauth[i]) {
  connection.sock = kNoSocket;
  connection.watch = &watch;
}

SessionTask::~SessionTask() { closeConnection(connection); }

void SessionTask::giveUp() {
  {
    std::lock_guard<std::mutex> guard(kel.checkLock);
    abandoned = true;
  }
  watch.cancel = true;
}

namespace {

// A refusal of PASS that says the password was not judged (RFC 2449,
// RFC 3206): the mailbox is busy, or the server wants fewer logins.
bool refusalIsTemporary(const char* reply) {
  if (strncmp(reply, "-ERR [", 6) != 0) return false;
  const char* code = reply + 6;
  for (const char* known : {"IN-USE", "LOGIN-DELAY", "SYS/TEMP"}) {
    size_t n = strlen(known);
    if (sameLetters(code, known, n) && (code[n] == ']' || code[n] == '/')) return true;
  }
  return false;
}

// The count of "+OK n m": digits from the fifth byte up to the next space.
// Anything else than digits, or no space before the line end, ends it there.
int statCount(const char* line) {
  int count = 0;
  if (strlen(line) < 5) return 0;
  for (const char* p = line + 4; *p >= '0' && *p <= '9'; ++p) {
    if (count > (0x7FFFFFFF - 9) / 10) return 0;  // no maildrop holds that many
    count = count * 10 + (*p - '0');
  }
  return count;
}

}  // namespace

bool Pop3Conversation::send(const char* command, int length, const char* traced) {
  platform::trace(traced);
  if (sendAll(t_.connection, command, length) < 0) {
    platform::trace("サーバへの送信に失敗しました。\n");
    linkFailed(kErrorSendFailed, kErrorSendFailed);
    return false;
  }
  return true;
}

bool Pop3Conversation::sendCommand(const char* format, ...) {
  char command[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(command, sizeof command, format, args);
  va_end(args);
  n = n < 0 ? 0 : (n < static_cast<int>(sizeof command) ? n : static_cast<int>(sizeof command) - 1);
  return send(command, n, command);
}

// The greeting's loss is code 5, yet the reason says what happened.
bool Pop3Conversation::receiveFailed(ErrorCode code) {
  platform::trace("サーバからの受信に失敗しました。\n");
  linkFailed(code, kErrorReceiveFailed);
  return false;
}

bool Pop3Conversation::readReply(bool greeting) {
  int n = readLine(t_.connection, buf_);
  if (n < 0) return receiveFailed(greeting ? kErrorSendFailed : kErrorReceiveFailed);
  length_ = n;
  buf_[n] = '\0';
  platform::trace(buf_);
  return true;
}

Pop3Conversation::ReplyClass Pop3Conversation::replyClass() const {
  bool crlf = length_ >= 2 && buf_[length_ - 2] == '\r' && buf_[length_ - 1] == '\n';
  if (crlf && strncmp(buf_, "+OK", 3) == 0) return kPositive;
  if (crlf && strncmp(buf_, "-ER", 3) == 0) return kNegative;
  return kOther;
}

bool Pop3Conversation::expectPositive() { return replyClass() == kPositive || refusedReply(); }

bool Pop3Conversation::refusedReply(const Reason* kept) {
  platform::trace("エラー\n");
  if (kept)
    setFailure(kErrorNotPositive, *kept);
  else
    replyRefused(kErrorNotPositive);
  return false;
}

// CAPA after the greeting, and again after STLS; a server of RFC 1939
// alone refuses it.
bool Pop3Conversation::askCapabilities() {
  caps_ = Capabilities{};
  if (!sendCommand("CAPA\r\n") || !readReply()) return false;
  if (replyClass() != kPositive) return true;
  caps_.answered = true;
  for (;;) {
    if (!readReply()) return false;
    if (strcmp(buf_, ".\r\n") == 0) return true;
    noteCapability(buf_, caps_);
  }
}

// Before the password on a plain connection: STLS when the server offers
// it. A pinned account never goes on in clear.
Pop3Conversation::Link Pop3Conversation::secureLink() {
  return caps_.stls && !clearOnly_ ? upgrade() : withoutUpgrade("STLS");
}

// STLS (RFC 2595).
Pop3Conversation::Link Pop3Conversation::upgrade() {
  if (!sendCommand("STLS\r\n") || !readReply()) return kLinkFailed;
  if (replyClass() != kPositive) {
    Reason said, why;
    replyReason(buf_, static_cast<size_t>(length_), said);
    fixedReason((std::string("TLS: STLS ") + said).c_str(), why);
    return upgradeFailed("STLSに失敗しました。\n", why, true);
  }
  return finishUpgrade("STLS");
}

// After a refused login: the code, then QUIT, whose own fate changes nothing.
bool Pop3Conversation::refusedLogin(ErrorCode code, const char* traceLine) {
  platform::trace(traceLine);
  replyRefused(code);
  static const char quit[] = "QUIT\r\n";
  platform::trace(quit);
  if (sendAll(t_.connection, quit, sizeof quit - 1) < 0) {
    platform::trace("サーバへの送信に失敗しました。\n");
  } else {
    int n = readLine(t_.connection, buf_);
    if (n < 0) {
      platform::trace("サーバからの受信に失敗しました。\n");
    } else {
      buf_[n] = '\0';
      platform::trace(buf_);
    }
  }
  return false;
}

bool Pop3Conversation::login() {
  if (usesOAuth()) return oauthLogin();
  const Account& a = t_.account;
  {
    char input[kApopInputSize];
    if (a.apop && apopDigestInput(buf_, a.pass, input)) {
      char digest[36];
      md5Hex(input, digest);
      memset(input, 0, sizeof input);
      return sendCommand("APOP %s %s\r\n", a.user, digest) && readReply() && expectPositive();
    }
  }
  if (!sendCommand("USER %s\r\n", a.user) || !readReply() || !expectPositive()) return false;
  char command[64];
  int n = snprintf(command, sizeof command, "PASS %s\r\n", a.pass);
  bool sent = send(command, n, "PASS xxxxxx\n");
  memset(command, 0, sizeof command);
  if (sent) publish([&] { result().passwordInClear = t_.connection.tls == nullptr; });
  if (!sent || !readReply()) return false;
  ReplyClass c = replyClass();
  if (c == kPositive) return true;
  if (c == kOther) return expectPositive();
  if (refusalIsTemporary(buf_)) return refusedLogin(kErrorNotPositive, "エラー\n");
  return refusedLogin(kErrorPasswordRefused, "PASSが違う～♪\n");
}

// The delay counts from this moment. "LOGIN-DELAY n USER" says the value
// for this user is only told after login (RFC 2449 section 6.5).
bool Pop3Conversation::noteLogin() {
  t_.loggedIn = true;
  t_.loginAtMs = monotonicNow(t_.kel);
  t_.loginDelaySeconds = caps_.loginDelay;
  if (!caps_.loginDelayPerUser) return true;
  if (!askCapabilities()) return false;
  t_.loginDelaySeconds = caps_.loginDelay;
  return true;
}

int Pop3Conversation::converse() {
  if (t_.abandoned) return fail();
  setState(kSessionConnected);

  // The greeting is needed for APOP after CAPA has used the buffer.
  char greeting[kSessionBufferSize];
  for (;;) {
    if (!readReply(true)) return fail();
    if (!expectPositive()) return fail();
    memcpy(greeting, buf_, static_cast<size_t>(length_) + 1);
    if (!askCapabilities()) return fail();
    Link link = t_.account.ssl ? kLinkReady : secureLink();
    if (link == kLinkFailed) return fail();
    if (link == kLinkReady) break;
    if (!reconnectInClear()) return fail();
  }
  memcpy(buf_, greeting, sizeof greeting);
  if (!login()) return fail();
  if (!noteLogin()) return fail();

  // UIDL goes with STAT when the server may have it: listed, or no CAPA.
  const bool askIds = caps_.uidl || !caps_.answered;
  if (!sendCommand("STAT\r\n")) return fail();
  if (askIds && caps_.pipelining && !sendCommand("UIDL\r\n")) return fail();
  if (!readReply() || !expectPositive()) return fail();
  int total = statCount(buf_);
  publish([&] { result().count = total; });
  if (!learnIds(total, askIds, caps_.pipelining)) return fail();
  if (total <= 0) {
    clearLines(0);
  } else if (!fetchAll(total)) {
    return fail();
  }

  if (!sendCommand("QUIT\r\n")) return fail();
  if (!readReply()) return fail();
  setState(kSessionClosing);
  closeConnection(t_.connection);
  setState(kSessionDone);
  return t_.abandoned ? 1 : 0;
}
