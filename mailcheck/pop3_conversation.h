// The conversation of one session, shared by its two files: pop3_session.cpp
// (greeting, login, STAT, QUIT) and pipeline.cpp (TOP and DELE for every
// message, in a window of commands sent ahead of their replies).
#pragma once

#include <deque>
#include <mutex>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/pop3_session.h"
#include "mailcheck/transport.h"

class Pop3Conversation {
 public:
  explicit Pop3Conversation(SessionTask& t) : t_(t), result_(t.kel.results[t.index]) {}

  int run();
  int converse();

 private:
  enum ReplyClass { kPositive, kNegative, kOther };
  struct Fetched;   // a message between its TOP and its effects
  struct InFlight;  // a command whose reply is still to be read

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
  bool trustServer(ServerKey& key);
  void offerPin(const ServerKey& key);
  bool secureLink();
  bool upgrade();
  bool upgradeFailed(const char* traceLine);
  bool login();
  bool refusedLogin(ErrorCode code, const char* traceLine);
  bool noteLogin();
  bool fetchAll(int total);
  bool readTop(Fetched& m);
  bool sendTop(int n, std::deque<InFlight>& inFlight);
  int fail();
  void clearLines(int from);

  SessionTask& t_;
  CheckResult& result_;
  bool pipelining_ = false;
  bool stls_ = false;  // CAPA lists STLS
  uint32_t loginDelay_ = 0;        // CAPA's LOGIN-DELAY, in seconds
  bool loginDelayPerUser_ = false; // ... which may differ once logged in
  char buf_[kSessionBufferSize];  // the reply line at hand
  int length_ = 0;
};
