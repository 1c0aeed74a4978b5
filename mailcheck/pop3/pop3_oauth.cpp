// The OAuth2 login of a POP3 session: AUTH (RFC 5034) with XOAUTH2 or
// OAUTHBEARER, always in two steps (a token is kilobytes, past the
// initial-response limit and the command buffer), and after a refusal one
// new token and one more try on the same connection.
#include <string>

#include "mailcheck/pop3/pop3_conversation.h"
#include "mailcheck/sasl.h"
#include "platform/trace.h"

namespace {
// "+ " or a bare "+": the server waits for the client's response.
bool isContinuation(const char* line) { return line[0] == '+' && (line[1] == ' ' || line[1] == '\r'); }
}  // namespace

// One AUTH exchange; true when the server took it. A refusal leaves its
// reply in buf_ and `refused` set; any other failure is the session's.
bool Pop3Conversation::authenticate(SaslMechanism mech, const std::string& token, bool& refused) {
  refused = false;
  if (!sendCommand("AUTH %s\r\n", saslMechanismName(mech)) || !readReply()) return false;
  if (isContinuation(buf_)) {
    std::string response = saslTokenResponse(mech, t_.account.user, token) + "\r\n";
    const std::string placeholder = std::string("(") + saslMechanismName(mech) + " の応答)\n";
    bool sent = send(response.c_str(), static_cast<int>(response.size()), placeholder.c_str());
    response.assign(response.size(), '\0');
    if (!sent || !readReply()) return false;
    // A challenge that carries the server's error: answered so that the
    // refusal follows.
    if (isContinuation(buf_)) {
      std::string answer = std::string(saslErrorAnswer(mech)) + "\r\n";
      if (!send(answer.c_str(), static_cast<int>(answer.size()), answer.c_str()) || !readReply()) return false;
    }
  }
  ReplyClass c = replyClass();
  if (c == kPositive) return true;
  if (c == kOther) return expectPositive();
  refused = true;
  return false;
}

bool Pop3Conversation::oauthLogin() {
  const SaslMechanism mech = chooseSaslMechanism(caps_.saslXoauth2, caps_.saslOauthbearer);
  bool refused = false;
  if (authenticate(mech, accessToken_, refused)) return true;
  if (!refused) return false;
  if (!renewToken()) return false;
  if (authenticate(mech, accessToken_, refused)) return true;
  if (!refused) return false;
  const std::string said(buf_, static_cast<size_t>(length_));  // QUIT's reply takes the buffer
  refusedLogin(kErrorPasswordRefused, "OAuth: 認証失敗\n");
  tokenRefused(said.data(), said.size());
  return false;
}
