// What a POP3 and an IMAP conversation share: where their results go, how
// a failure keeps its reason, the server's key, the give-up on an upgrade
// to TLS, and the access token of an OAuth2 account. Each protocol's own
// exchange is in its folder.
#pragma once

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/header_cache.h"
#include "mailcheck/mailbox_key.h"
#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/transport.h"

class Conversation {
 public:
  explicit Conversation(SessionTask& t) : t_(t), slot_(t.index) {}
  virtual ~Conversation() { accessToken_.assign(accessToken_.size(), '\0'); }
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  // Connects and converses; 0 when the check went through.
  int run();
  // From the server's greeting on a connection already made.
  virtual int converse() = 0;

 protected:
  enum Link { kLinkReady, kLinkFailed, kLinkReconnect };

  // Shared state is written only under the lock, into the slot that holds
  // the account's results now, and not at all once the session has been
  // given up or its account deleted or changed. The IDLE watcher's own
  // connect (quiet) writes nothing shared.
  template <class F>
  bool publish(F write) {
    if (t_.quiet) return !t_.abandoned;
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
  void startResults();
  // What the cache holds of each of ids_, into known_, after it forgets
  // what the mailbox no longer names; `unread` counts down for each found.
  // False when the session may no longer write.
  bool lookUpKnown(int& unread);
  void clearLines(int from);
  int fail();

  virtual bool askCapabilities() = 0;
  bool trustServer(ServerKey& key);
  // The server lists no upgrade (`name` is its command).
  Link withoutUpgrade(const char* name);
  // After the upgrade command's positive reply: TLS on this connection,
  // then the key and the capabilities over it.
  Link finishUpgrade(const char* name);
  Link upgradeFailed(const char* traceLine, const Reason& why, bool sameConnection);
  virtual bool reconnectInClear();

  // An OAuth2 account: a token is never sent in clear, like a password to a
  // server whose key is pinned.
  bool usesOAuth() const { return oauthProviderFor(t_.oauth.oauth) != kOAuthNone; }
  bool neverInClear() const { return t_.account.pin[0] != '\0' || usesOAuth(); }
  // Into accessToken_; refresh: a new one, after the server refused one.
  bool takeToken(bool refresh);
  // The server refused a token: one new one, and false when none came.
  bool renewToken();
  // Even the new token was refused (`said`, the server's words): the user
  // must sign in again.
  void tokenRefused(const char* said, size_t length);

  SessionTask& t_;
  int slot_;  // where publish found the account's results
  bool clearOnly_ = false;  // an upgrade failed: this session asks for none
  std::string accessToken_;  // an OAuth2 account's, taken before connecting
  MailboxKey box_;
  std::vector<std::string> ids_;      // the messages' lasting ids, when the server has them
  std::vector<PackedHeaders> known_;  // by message: what the cache held, or null
};
