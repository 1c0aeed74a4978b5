// The conversation of one session, shared by its two files: pop3_session.cpp
// (greeting, login, STAT, QUIT) and pipeline.cpp (TOP and DELE for every
// message, in a window of commands sent ahead of their replies).
#pragma once

#include <cstring>
#include <deque>
#include <mutex>

#include <string>
#include <vector>

#include "app/application.h"
#include "mailcheck/conversation.h"
#include "mailcheck/pop3/capabilities.h"
#include "mailcheck/error_code.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/header_cache.h"
#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/sasl.h"
#include "mailcheck/transport.h"

class Pop3Conversation : public Conversation {
 public:
  explicit Pop3Conversation(SessionTask& t) : Conversation(t) {}
  // The listing's ids go with it: the cache may take their room again.
  ~Pop3Conversation() override {
    if (withIds_) publish([&] { t_.kel.headerCache.hold(0); });
  }

  int converse() override;

 private:
  enum ReplyClass { kPositive, kNegative, kOther };
  struct Fetched;   // a message between its TOP and its effects
  struct InFlight;  // a command whose reply is still to be read

  void setCode(ErrorCode code) {
    publish([&] { result().errorCode = code; });
  }
  // The code, and the reply line at hand as the reason.
  void replyRefused(ErrorCode code) {
    Reason reason;
    replyReason(buf_, static_cast<size_t>(length_), reason);
    setFailure(code, reason);
  }

  bool send(const char* command, int length, const char* traced);
  bool sendCommand(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool readReply(bool greeting = false);
  bool receiveFailed(ErrorCode code);
  ReplyClass replyClass() const;
  bool expectPositive();
  // kErrorNotPositive, for the reply at hand or the refusal kept from earlier.
  bool refusedReply(const Reason* kept = nullptr);
  bool askCapabilities() override;
  Link secureLink();
  Link upgrade();
  bool login();
  // OAuth2 (pop3_oauth.cpp).
  bool oauthLogin();
  bool authenticate(SaslMechanism mech, const std::string& token, bool& refused);
  bool refusedLogin(ErrorCode code, const char* traceLine);
  // The ids of the maildrop and what the cache knows of them
  // (known_messages.cpp); false only for a failure of the session.
  bool learnIds(int total, bool ask, bool sent);
  bool readIdListing(int total);
  bool noteLogin();
  bool fetchAll(int total);
  bool readTop(Fetched& m, int n);
  bool judgeKnown(Fetched& m, int n, bool mayDelete);
  bool sendTop(int n, std::deque<InFlight>& inFlight);

  Capabilities caps_;
  bool withIds_ = false;              // the listing was usable
  char buf_[kSessionBufferSize];  // the reply line at hand
  int length_ = 0;
};
