#include "mailcheck/pop3_session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "app/application.h"
#include "mailcheck/apop.h"
#include "mailcheck/error_code.h"
#include "mailcheck/filter.h"
#include "mailcheck/top_reply.h"
#include "mailcheck/transport.h"
#include "platform/trace.h"

SessionTask::SessionTask(Kel& k, int i) : kel(k), index(i), account(k.accounts[i]), connection() {
  connection.sock = kNoSocket;
  connection.watch = &watch;
}

void SessionTask::giveUp() {
  {
    std::lock_guard<std::mutex> guard(kel.checkLock);
    abandoned = true;
  }
  watch.cancel = true;
}

namespace {

enum ReplyClass { kPositive, kNegative, kOther };

bool sameLetters(const char* text, const char* word, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
    if (c != word[i]) return false;
  }
  return true;
}

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

// A capability line: its first word, in any letter case.
bool listsPipelining(const char* line) {
  return sameLetters(line, "PIPELINING", 10) && (line[10] == '\r' || line[10] == ' ');
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

// A message of the listing, between its TOP and the application of its
// effects, which happens strictly in the order of the messages.
struct Fetched {
  enum Dele { kNone, kWaiting, kRefused, kDone };
  bool replied = false;  // the TOP reply has been taken
  bool refused = false;  // ... and it was not positive
  bool judged = false;   // its line and counts have been applied
  Judgement judgement{};
  Dele dele = kNone;
};

// A command whose reply is still to be read.
struct InFlight {
  bool dele;
  int n;
};

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
  void setCode(ErrorCode code) {
    publish([&] { result_.errorCode = code; });
  }

  bool send(const char* command, int length, const char* traced);
  bool sendCommand(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool readReply(bool greeting = false);
  bool receiveFailed(ErrorCode code);
  ReplyClass replyClass() const;
  bool expectPositive();
  bool refusedReply();  // kErrorNotPositive
  bool askCapabilities();
  bool login();
  bool refusedLogin(ErrorCode code, const char* traceLine);
  bool fetchAll(int total);
  bool readTop(Fetched& m);
  bool sendTop(int n, std::deque<InFlight>& inFlight);
  int fail();
  void clearLines(int from);

  SessionTask& t_;
  CheckResult& result_;
  bool pipelining_ = false;
  char buf_[kSessionBufferSize];  // the reply line at hand
  int length_ = 0;
};

bool Session::send(const char* command, int length, const char* traced) {
  platform::trace(traced);
  if (sendAll(t_.connection, command, length) < 0) {
    platform::trace("サーバへの送信に失敗しました。\n");
    setCode(kErrorSendFailed);
    return false;
  }
  return true;
}

bool Session::sendCommand(const char* format, ...) {
  char command[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(command, sizeof command, format, args);
  va_end(args);
  n = n < 0 ? 0 : (n < static_cast<int>(sizeof command) ? n : static_cast<int>(sizeof command) - 1);
  return send(command, n, command);
}

bool Session::receiveFailed(ErrorCode code) {
  platform::trace("サーバからの受信に失敗しました。\n");
  setCode(code);
  return false;
}

bool Session::readReply(bool greeting) {
  int n = readLine(t_.connection, buf_);
  if (n < 0) return receiveFailed(greeting ? kErrorSendFailed : kErrorReceiveFailed);
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

bool Session::expectPositive() { return replyClass() == kPositive || refusedReply(); }

bool Session::refusedReply() {
  platform::trace("エラー\n");
  setCode(kErrorNotPositive);
  return false;
}

// CAPA once after the greeting; a server of RFC 1939 alone refuses it.
bool Session::askCapabilities() {
  if (!sendCommand("CAPA\r\n") || !readReply()) return false;
  if (replyClass() != kPositive) return true;
  for (;;) {
    if (!readReply()) return false;
    if (strcmp(buf_, ".\r\n") == 0) return true;
    if (listsPipelining(buf_)) pipelining_ = true;
  }
}

// After a refused login: the code, then QUIT, whose own fate changes nothing.
bool Session::refusedLogin(ErrorCode code, const char* traceLine) {
  platform::trace(traceLine);
  setCode(code);
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

bool Session::login() {
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
  if (!sent || !readReply()) return false;
  ReplyClass c = replyClass();
  if (c == kPositive) return true;
  if (c == kOther) return expectPositive();
  if (refusalIsTemporary(buf_)) return refusedLogin(kErrorNotPositive, "エラー\n");
  return refusedLogin(kErrorPasswordRefused, "PASSが違う～♪\n");
}

bool Session::sendTop(int n, std::deque<InFlight>& inFlight) {
  if (!sendCommand("TOP %d 4\r\n", n)) return false;
  inFlight.push_back({false, n});
  return true;
}

// A reply to TOP, read to its end however long it is; only what the
// header scan reads is kept for the judgement.
bool Session::readTop(Fetched& m) {
  Connection& c = t_.connection;
  int first = readLine(c, buf_);
  if (first < 0) return receiveFailed(kErrorReceiveFailed);
  buf_[first] = '\0';
  m.replied = true;
  if (strncmp(buf_, "+OK", 3) != 0) {  // not traced, not classed
    m.refused = true;
    return true;
  }
  TopReplyReader reply;
  reply.start(buf_, static_cast<size_t>(first));
  for (;;) {
    if (c.inStart < c.inEnd)
      c.inStart += static_cast<int>(reply.feed(c.inbox + c.inStart, static_cast<size_t>(c.inEnd - c.inStart)));
    if (reply.complete()) break;
    if (receiveMore(c) < 0) return receiveFailed(kErrorReceiveFailed);
  }
  DecodedMessage decoded;  // from the reply alone: no lock for the decoding
  decodeMessage(reply.text(), decoded);
  return publish([&] { m.judgement = judgeMessage(decoded, t_.kel); });
}

// TOP for every message, and DELE for those the delete list matches. With
// PIPELINING the commands go ahead of their replies in a bounded window;
// the replies are taken in order, and each message's effects are applied
// only once every command before it in the one-at-a-time exchange has had
// its reply, so that a refusal leaves exactly what that exchange would.
bool Session::fetchAll(int total) {
  const size_t window = pipelining_ && t_.maxInFlight > 1 ? static_cast<size_t>(t_.maxInFlight) : 1;
  std::deque<InFlight> inFlight;
  std::deque<Fetched> pending;  // messages applied + 1 onwards
  int nextTop = 1;
  int applied = 0;
  int listed = 0;
  bool refusalSeen = false;  // no new commands once a TOP was refused

  while (applied < total) {
    while (!refusalSeen && nextTop <= total && inFlight.size() < window) {
      if (!sendTop(nextTop, inFlight)) return false;
      pending.emplace_back();
      ++nextTop;
    }
    if (inFlight.empty()) return false;  // nothing to wait for: cannot happen
    InFlight command = inFlight.front();
    inFlight.pop_front();
    Fetched& m = pending[static_cast<size_t>(command.n - applied - 1)];
    if (command.dele) {
      if (!readReply()) return false;
      m.dele = replyClass() == kPositive ? Fetched::kDone : Fetched::kRefused;
    } else {
      if (!readTop(m)) return false;
      if (m.refused) refusalSeen = true;
      if (!refusalSeen && m.judgement.list == 1) {
        if (!sendCommand("DELE %d\r\n", command.n)) return false;
        inFlight.push_back({true, command.n});
        m.dele = Fetched::kWaiting;
      }
    }

    // Apply what the one-at-a-time exchange would have reached by now.
    while (!pending.empty() && pending.front().replied) {
      Fetched& next = pending.front();
      if (next.refused) return refusedReply();
      if (!next.judged) {
        MessageVerdict verdict = kVerdictKept;
        if (!publish([&] { verdict = applyJudgement(next.judgement, t_.kel, t_.index, listed); })) return false;
        if (verdict == kVerdictKept) ++listed;
        if (verdict == kVerdictIgnore) publish([&] {
            --result_.count;
            ++result_.ignoredCount;
          });
        next.judged = true;
      }
      if (next.dele == Fetched::kWaiting) break;
      if (next.dele == Fetched::kRefused) return refusedReply();
      if (next.dele == Fetched::kDone) publish([&] { --result_.count; });
      pending.pop_front();
      ++applied;
    }
  }
  clearLines(listed);
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
    result_.errorCode = kErrorNone;
  });
  ErrorCode rc = connectServer(t_.connection, t_.account.pop3server, t_.account.port, t_.account.ssl);
  setCode(rc);
  if (rc != kErrorNone) {
    setState(kSessionFailed);
    return 1;
  }
  return converse();
}

int Session::converse() {
  if (t_.abandoned) return fail();
  setState(kSessionConnected);

  if (!readReply(true)) return fail();
  if (!expectPositive()) return fail();
  // The greeting is needed for APOP after CAPA has used the buffer.
  char greeting[kSessionBufferSize];
  memcpy(greeting, buf_, static_cast<size_t>(length_) + 1);
  if (!askCapabilities()) return fail();
  memcpy(buf_, greeting, sizeof greeting);
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
