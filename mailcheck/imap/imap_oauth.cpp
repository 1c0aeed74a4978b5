// The OAuth2 login of an IMAP session: AUTHENTICATE with XOAUTH2 or
// OAUTHBEARER, the response on a line of its own after the server's "+"
// (a token is kilobytes), and after a refusal one new token and one more
// try on the same connection.
#include <string>

#include "mailcheck/access_token.h"
#include "mailcheck/imap/imap_conversation.h"
#include "platform/codepage.h"
#include "platform/trace.h"

// Before the connection: the server waits for no HTTP call.
bool ImapConversation::takeToken() {
  AccessToken taken = takeAccessToken(t_, false);
  if (taken.code != kErrorNone) {
    setFailure(taken.code, taken.reason);
    return false;
  }
  accessToken_ = taken.token;
  return true;
}

// kOk; kNo or kBad, the tagged refusal in r_; or kFailed.
ImapConversation::Tagged ImapConversation::authenticate(SaslMechanism mech, const std::string& token) {
  const std::string name = saslMechanismName(mech);
  if (!command("AUTHENTICATE " + name)) return kFailed;
  Tagged r = await(nullptr, true);
  if (r != kContinue) return r;
  std::string response = saslTokenResponse(mech, platform::toUtf8(t_.account.user), token) + "\r\n";
  const std::string shown = "(" + name + " の応答)\n";
  bool sent = send(response, shown.c_str());
  response.assign(response.size(), '\0');
  if (!sent) return kFailed;
  r = await(nullptr, true);
  if (r != kContinue) return r;
  // A challenge that carries the server's error: answered so that the
  // refusal follows.
  const std::string answer = saslErrorAnswer(mech);
  if (!send(answer + "\r\n", (answer + "\n").c_str())) return kFailed;
  return await();
}

bool ImapConversation::oauthLogin() {
  const SaslMechanism mech = chooseSaslMechanism(caps_.saslXoauth2, caps_.saslOauthbearer);
  Tagged r = authenticate(mech, accessToken_);
  if (r == kOk || r == kFailed) return r == kOk;
  // The token may have been revoked or expired early: one new one.
  platform::trace("OAuth: トークンを拒否されました。更新して再試行します。\n");
  AccessToken fresh = takeAccessToken(t_, true);
  accessToken_.assign(accessToken_.size(), '\0');
  if (fresh.code != kErrorNone) {
    setFailure(fresh.code, fresh.reason);
    return false;
  }
  accessToken_ = fresh.token;
  r = authenticate(mech, accessToken_);
  if (r == kOk || r == kFailed) return r == kOk;
  std::string said = r_.status + (r_.code.empty() ? "" : " [" + r_.code + "]") + " " + r_.text;
  Reason server, why;
  replyReason(said.data(), said.size(), server);
  fixedReason((std::string(kReasonSignInAgain) + " " + server).c_str(), why);
  forgetAccessToken(t_);
  platform::trace("OAuth: 認証失敗\n");
  setFailure(kErrorPasswordRefused, why);
  if (command("LOGOUT")) await();
  return false;
}
