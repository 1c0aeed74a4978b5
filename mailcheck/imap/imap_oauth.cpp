// The OAuth2 login of an IMAP session: AUTHENTICATE with XOAUTH2 or
// OAUTHBEARER, the response on a line of its own after the server's "+"
// (a token is kilobytes), and after a refusal one new token and one more
// try on the same connection.
#include <string>

#include "mailcheck/imap/imap_conversation.h"
#include "platform/codepage.h"
#include "platform/trace.h"

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
  if (!renewToken()) return false;
  r = authenticate(mech, accessToken_);
  if (r == kOk || r == kFailed) return r == kOk;
  std::string said = r_.status + (r_.code.empty() ? "" : " [" + r_.code + "]") + " " + r_.text;
  platform::trace("OAuth: 認証失敗\n");
  tokenRefused(said.data(), said.size());
  if (command("LOGOUT")) await();
  return false;
}
