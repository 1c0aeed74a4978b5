#include "mailcheck/pop3_session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/application.h"
#include "mailcheck/apop.h"
#include "mailcheck/filter.h"
#include "mailcheck/transport.h"
#include "platform/net.h"
#include "platform/trace.h"

const char* const errorCodeTexts[9] = {
    "  通信エラー(E0)", "  通信エラー(E1)", "  サーバアドレスが取得できません(E2)",
    "  メールサーバに接続できません(E3)", "  通信エラー(E4)", "  通信エラー(E5)",
    "  通信エラー(E6)", "  通信エラー(E7)", "  認証失敗(E8)",
};

const char* errorCodeText(int code) { return errorCodeTexts[code >= 0 && code <= 8 ? code : 0]; }

SessionTask::SessionTask(Kel& k, int i) : kel(k), index(i), account(k.accounts[i]), connection() {
  connection.sock = kNoSocket;
}

void SessionTask::giveUp() {
  {
    std::lock_guard<std::mutex> guard(kel.checkLock);
    abandoned = true;
  }
  platform::shutdownSocket(liveSocket.load());
}

namespace {

enum ReplyClass { kPositive, kNegative, kOther };

class Session {
 public:
  explicit Session(SessionTask& t) : t_(t), result_(t.kel.results[t.index]) {}

  int run();
  int converse();

 private:
  // Shared state is written only under the lock, and not at all once the
  // session has been given up.
  template <class F>
  bool publish(F write) {
    std::lock_guard<std::mutex> guard(t_.kel.checkLock);
    if (t_.abandoned) return false;
    write();
    return true;
  }
  void setState(int32_t s) {
    publish([&] { t_.kel.sessionState = s; });
  }

  bool send(const char* traced);
  bool sendCommand(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool readReply(bool greeting = false);
  ReplyClass replyClass() const;
  bool expectPositive();
  bool login();
  bool fetchAll(int total);
  bool fetchOne(int n, int& listed);
  int fail();
  void clearLines(int from);

  SessionTask& t_;
  CheckResult& result_;
  char buf_[kSessionBufferSize];
  int length_ = 0;
};

bool Session::send(const char* traced) {
  platform::trace(traced);
  if (sendBytes(t_.connection, buf_, length_) < 0) {
    platform::trace("サーバへの送信に失敗しました。\n");
    publish([&] { result_.errorCode = 5; });
    return false;
  }
  return true;
}

bool Session::sendCommand(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buf_, sizeof buf_, format, args);
  va_end(args);
  length_ = n < 0 ? 0 : (n < static_cast<int>(sizeof buf_) ? n : static_cast<int>(sizeof buf_) - 1);
  return send(buf_);
}

bool Session::readReply(bool greeting) {
  int n = readLine(t_.connection, buf_);
  if (n < 0) {
    platform::trace("サーバからの受信に失敗しました。\n");
    publish([&] { result_.errorCode = greeting ? 5 : 6; });
    return false;
  }
  length_ = n;
  buf_[n] = '\0';
  platform::trace(buf_);
  return true;
}

ReplyClass Session::replyClass() const {
  bool crlf = length_ >= 2 && buf_[length_ - 2] == '\r' && buf_[length_ - 1] == '\n';
  if (crlf && strncmp(buf_, "+OK", 3) == 0) return kPositive;
  if (crlf && strncmp(buf_, "-ER", 3) == 0) return kNegative;
  return kOther;
}

bool Session::expectPositive() {
  if (replyClass() == kPositive) return true;
  platform::trace("エラー\n");
  publish([&] { result_.errorCode = 7; });
  return false;
}

bool Session::login() {
  const Account& a = t_.account;
  char input[kApopInputSize];
  if (a.apop && apopDigestInput(buf_, a.pass, input)) {
    char digest[36];
    md5Hex(input, digest);
    memset(input, 0, sizeof input);
    return sendCommand("APOP %s %s\r\n", a.user, digest) && readReply() && expectPositive();
  }
  if (!sendCommand("USER %s\r\n", a.user) || !readReply() || !expectPositive()) return false;
  length_ = snprintf(buf_, sizeof buf_, "PASS %s\r\n", a.pass);
  bool sent = send("PASS xxxxxx\n");
  memset(buf_, 0, static_cast<size_t>(length_));
  if (!sent || !readReply()) return false;
  ReplyClass c = replyClass();
  if (c == kPositive) return true;
  if (c == kOther) return expectPositive();
  platform::trace("PASSが違う～♪\n");
  publish([&] { result_.errorCode = 8; });
  length_ = snprintf(buf_, sizeof buf_, "QUIT\r\n");
  platform::trace(buf_);
  if (sendBytes(t_.connection, buf_, length_) < 0) {
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

bool Session::fetchOne(int n, int& listed) {
  if (!sendCommand("TOP %d 4\r\n", n)) return false;
  int first = readLine(t_.connection, buf_);
  if (first < 0) {
    platform::trace("サーバからの受信に失敗しました。\n");
    publish([&] { result_.errorCode = 6; });
    return false;
  }
  if (first < 3 || strncmp(buf_, "+OK", 3) != 0) {
    buf_[first] = '\0';
    platform::trace("エラー\n");
    publish([&] { result_.errorCode = 7; });
    return false;
  }
  int used = first;
  int room = kSessionBufferSize - used;
  auto ended = [&] { return used >= 5 && memcmp(buf_ + used - 5, "\r\n.\r\n", 5) == 0; };
  while (!ended() && room > 2) {
    int got = receiveBytes(t_.connection, buf_ + used, room - 1);
    if (got < 0) {
      platform::trace("サーバからの受信に失敗しました。\n");
      publish([&] { result_.errorCode = 6; });
      return false;
    }
    used += got;
    room -= got;
  }
  if (room < 3) return false;  // the reply did not fit: no code of its own
  buf_[used] = '\0';

  MessageVerdict verdict = kVerdictKept;
  if (!publish([&] { verdict = analyseMessage(buf_, t_.kel, t_.index, listed); })) return false;
  switch (verdict) {
    case kVerdictKept: ++listed; break;
    case kVerdictIgnore:
      publish([&] {
        --result_.count;
        ++result_.ignoredCount;
      });
      break;
    case kVerdictDelete:
      if (!sendCommand("DELE %d\r\n", n) || !readReply() || !expectPositive()) return false;
      publish([&] { --result_.count; });
      break;
    case kVerdictKeptUnlisted: break;
  }
  return true;
}

void Session::clearLines(int from) {
  publish([&] {
    for (int i = from; i < kMailLines; ++i) {
      result_.lines[i].bytes[0] = '\0';
      result_.lineState[i] = kLineEmpty;
    }
  });
}

bool Session::fetchAll(int total) {
  int listed = 0;
  for (int n = 1; n <= total; ++n)
    if (!fetchOne(n, listed)) return false;
  clearLines(listed);
  return true;
}

int Session::fail() {
  platform::trace("エラ～発生！\n");
  closeConnection(t_.connection);
  setState(kSessionFailed);
  return 1;
}

int Session::run() {
  publish([&] {
    result_.failed = 0;
    result_.prevCount = result_.count;
    result_.count = 0;
    result_.ignoredCount = 0;
    result_.errorCode = 0;
  });
  int rc = connectServer(t_.connection, t_.account.pop3server, t_.account.port, t_.account.ssl);
  publish([&] { result_.errorCode = rc; });
  if (rc != 0) {
    setState(kSessionFailed);
    return 1;
  }
  return converse();
}

int Session::converse() {
  t_.liveSocket = t_.connection.sock;
  if (t_.abandoned) return fail();
  setState(kSessionConnected);

  if (!readReply(true)) return fail();
  if (!expectPositive()) return fail();
  if (!login()) return fail();

  if (!sendCommand("STAT\r\n") || !readReply() || !expectPositive()) return fail();
  int total = statCount(buf_);
  publish([&] { result_.count = total; });
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

}  // namespace

int runSession(SessionTask& task) {
  Session session(task);
  return session.run();
}

int runSessionOnConnection(SessionTask& task) {
  Session session(task);
  return session.converse();
}
