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
#include "mailcheck/pop3/capabilities.h"
#include "mailcheck/error_code.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/header_cache.h"
#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/sasl.h"
#include "mailcheck/transport.h"

class Pop3Conversation {
 public:
  explicit Pop3Conversation(SessionTask& t) : t_(t), slot_(t.index) {}
  // The listing's ids go with it: the cache may take their room again.
  ~Pop3Conversation() {
    if (withIds_) publish([&] { t_.kel.headerCache.hold(0); });
  }

  int run();
  int converse();

 private:
  enum ReplyClass { kPositive, kNegative, kOther };
  struct Fetched;   // a message between its TOP and its effects
  struct InFlight;  // a command whose reply is still to be read

  // Shared state is written only under the lock, into the slot that holds
  // the account's results now, and not at all once the session has been
  // given up or its account deleted or changed.
  template <class F>
  bool publish(F write) {
    std::lock_guard<std::mutex> guard(t_.kel.checkLock);
    if (t_.abandoned) return false;
    slot_ = accountSlot(t_.kel, t_.accountId);
    if (slot_ < 0) return false;
    write();
    return true;
  }
  CheckResult& result() { return t_.kel.results[slot_]; }
  void setState(int32_t s) {
    publish([&] { t_.kel.sessionState = s; });
  }
  void setCode(ErrorCode code) {
    publish([&] { result().errorCode = code; });
  }
  // The code and the words that say why.
  void setFailure(ErrorCode code, const Reason& reason) {
    publish([&] {
      result().errorCode = code;
      memcpy(result().reason, reason, sizeof result().reason);
    });
  }
  // The code, and what the connection met for a failure of kind `what`.
  void linkFailed(ErrorCode code, ErrorCode what) {
    Reason reason;
    linkReason(what, linkFailure(t_.connection), reason);
    setFailure(code, reason);
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
  bool askCapabilities();
  bool trustServer(ServerKey& key);
  void offerPin(const ServerKey& key);
  enum Link { kLinkReady, kLinkFailed, kLinkReconnect };
  Link secureLink();
  Link upgrade();
  Link upgradeFailed(const char* traceLine, const Reason& why, bool sameConnection);
  bool reconnectInClear();
  bool login();
  // OAuth2 (pop3_oauth.cpp). A token never goes in clear, like a password
  // to a server whose key is pinned.
  bool usesOAuth() const { return oauthProviderFor(t_.oauth.oauth) != kOAuthNone; }
  bool neverInClear() const { return t_.account.pin[0] != '\0' || usesOAuth(); }
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
  int fail();
  void clearLines(int from);

  SessionTask& t_;
  int slot_;  // where publish found the account's results
  Capabilities caps_;
  bool clearOnly_ = false;  // an upgrade failed: this session asks for none
  MailboxKey box_;
  bool withIds_ = false;              // the listing was usable
  std::vector<std::string> ids_;      // by message number
  std::vector<PackedHeaders> known_;  // by message number: what the cache held, or null
  std::string accessToken_;       // an OAuth2 account's, taken before connecting
  char buf_[kSessionBufferSize];  // the reply line at hand
  int length_ = 0;
};
