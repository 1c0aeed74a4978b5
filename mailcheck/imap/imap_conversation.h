// The conversation of one IMAP check (RFC 9051, RFC 3501 servers too),
// shared by its two files: imap_session.cpp (greeting, TLS, login, LOGOUT)
// and imap_mailbox.cpp (SELECT, SEARCH, FETCH, the effects of the rules).
// It leaves the same results, trace and reasons as a POP3 check.
#pragma once

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/application.h"
#include "mailcheck/conversation.h"
#include "mailcheck/error_code.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/filter.h"
#include "mailcheck/imap/imap_reader.h"
#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/sasl.h"
#include "mailcheck/transport.h"
#include "platform/trace.h"

struct ImapCapabilities {
  bool known = false;  // listed since the last change of state
  bool starttls = false;
  bool loginDisabled = false;
  bool authPlain = false;
  bool saslIr = false;
  bool literalPlus = false;
  bool uidplus = false;
  bool idle = false;
  bool saslXoauth2 = false;
  bool saslOauthbearer = false;
};
// Reads the words after "CAPABILITY", from a response code or data.
void noteImapCapabilities(const std::vector<std::string>& words, ImapCapabilities& caps);

class ImapConversation : public Conversation {
 public:
  explicit ImapConversation(SessionTask& t) : Conversation(t), in_(t.connection) {}

  int converse() override;
  // Goes on from an IDLE on a connection already in INBOX.
  int resume();

 private:
  enum Tagged { kOk, kNo, kBad, kContinue, kFailed };

  bool failWith(ErrorCode code, const char* fixed) {
    platform::trace("エラー\n");
    Reason reason;
    fixedReason(fixed, reason);
    setFailure(code, reason);
    return false;
  }
  // The tagged (or greeting) response at hand as the reason, with this code.
  bool refused(ErrorCode code);
  void traceStatus();

  // session
  bool send(const std::string& bytes, const char* traced);
  bool command(const std::string& text, const char* traced = nullptr);
  Tagged await(const std::function<void(const ImapResponse&)>& onData = nullptr, bool continuation = false,
               LiteralKeeper* keeper = nullptr);
  bool readFailed(ImapRead why);
  bool expectOk(Tagged r) { return r == kOk || (r != kFailed && refused(kErrorNotPositive)); }
  bool greeting();
  bool askCapabilities() override;
  void noteCode(const std::string& code);
  Link secureLink();
  Link upgrade();
  bool reconnectInClear() override;
  bool login();
  Tagged loginCommand();
  // OAuth2 (imap_oauth.cpp).
  Tagged authenticate(SaslMechanism mech, const std::string& token);
  bool oauthLogin();
  bool refusedLogin();
  bool logout();
  bool keepOpen();

  // mailbox
  bool select();
  bool search();
  bool learnKnown();
  bool fetchHeaders();
  bool fetchChunk(const std::vector<uint32_t>& uids, size_t from, size_t to);
  bool judgeAll();
  bool removeDeleted();

  ConnectionSource in_;
  ImapResponse r_;
  char tag_[16] = "";
  unsigned tagNumber_ = 0;
  ImapCapabilities caps_;
  bool preauth_ = false;
  std::string bye_;  // an untagged BYE's line: why the server went away
  uint32_t uidValidity_ = 0;
  std::vector<uint32_t> uids_;  // unseen, undeleted, ascending
  struct Message {
    bool known = false;      // the cache has its headers
    bool fetched = false;    // its FETCH has been judged
    Judgement judgement{};
  };
  std::vector<Message> messages_;  // by position in uids_
  std::vector<uint32_t> toDelete_;
};
