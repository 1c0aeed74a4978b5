#include "mailcheck/access_token.h"

#include <cstdio>
#include <mutex>

#include "app/application.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/token_reply.h"
#include "platform/http.h"
#include "platform/trace.h"
#include "settings/oauth.h"

const char kReasonSignInNeeded[] = "サインインが必要です";
const char kReasonSignInAgain[] = "OAuth: サインインし直してください";

namespace {

AccessToken failed(ErrorCode code, const std::string& reason) {
  AccessToken t;
  t.code = code;
  fixedReason(reason.c_str(), t.reason);
  return t;
}

// The network's codes, so that the retries after waking still apply.
ErrorCode codeOf(platform::HttpFailure f) {
  switch (f) {
    case platform::HttpFailure::kNameNotFound: return kErrorNameNotFound;
    case platform::HttpFailure::kTlsFailed: return kErrorTlsFailed;
    default: return kErrorConnectFailed;
  }
}

const char* wordsOf(platform::HttpFailure f) {
  switch (f) {
    case platform::HttpFailure::kNameNotFound: return "トークンのサーバが見つかりません";
    case platform::HttpFailure::kTlsFailed: return "トークンのサーバとTLSで接続できません";
    case platform::HttpFailure::kTimedOut: return "トークンのサーバが応答しません";
    case platform::HttpFailure::kTooLarge: return "トークンのサーバの応答が長すぎます";
    default: return "トークンのサーバに接続できません";
  }
}

// Into the account's entry, while the session is not given up and the
// account is the one it checks, with the same client.
template <class F>
void publishToken(SessionTask& task, F write) {
  std::lock_guard<std::mutex> guard(task.kel.checkLock);
  if (task.abandoned) return;
  int slot = accountSlot(task.kel, task.accountId);
  if (slot < 0 || !sameOAuthMethod(task.kel.oauth[slot], task.oauth)) return;
  write(task.kel.oauth[slot]);
}

void offerRotated(SessionTask& task, const std::string& sealed) {
  TokenOffer& o = task.tokenOffer;
  o.slot = task.index;
  snprintf(o.server, sizeof o.server, "%s", task.account.pop3server);
  o.port = task.account.port;
  snprintf(o.user, sizeof o.user, "%s", task.account.user);
  o.client = task.oauth.client;
  o.refresh = sealed;
}

}  // namespace

void forgetAccessToken(SessionTask& task) {
  task.oauth.accessToken.clear();
  publishToken(task, [](OAuthSettings& held) {
    held.accessToken.clear();
    held.accessExpiresMs = 0;
  });
}

AccessToken takeAccessToken(SessionTask& task, bool refresh) {
  OAuthSettings& o = task.oauth;  // the session's own copy
  const uint64_t now = monotonicNow(task.kel);
  if (!refresh && !o.accessToken.empty() && o.accessExpiresMs > now + kTokenMarginMs) {
    AccessToken t;
    t.token = o.accessToken;
    return t;
  }
  if (o.signInAgain) return failed(kErrorPasswordRefused, kReasonSignInAgain);
  std::string refreshToken;
  if (!openRefreshToken(o.refresh, refreshToken)) {
    platform::trace(o.refresh.empty() ? "OAuth: サインインしていません。\n" : "OAuth: 保存されたトークンが読めません。\n");
    return failed(kErrorPasswordRefused, kReasonSignInNeeded);
  }
  const char* url = oauthEndpoints(o).token;
  if (!url || !platform::httpUrlAllowed(url)) return failed(kErrorConnectFailed, "OAuth: トークンのURLが使えません");

  std::string form;
  platform::addFormField(form, "grant_type", "refresh_token");
  platform::addFormField(form, "refresh_token", refreshToken);
  platform::addFormField(form, "client_id", o.client);
  if (!o.secret.empty()) platform::addFormField(form, "client_secret", o.secret);
  if (oauthProviderFor(o.oauth) != kOAuthGoogle) platform::addFormField(form, "scope", oauthEndpoints(o).scope);
  platform::tracef("OAuth: トークンを更新します。%s\n", url);
  task.takingToken = true;
  platform::HttpReply reply = platform::httpPostForm(url, form, &task.watch.cancel, kTokenCallMs, kTokenReplyMaxBytes);
  task.takingToken = false;
  if (reply.failure != platform::HttpFailure::kNone) {
    platform::tracef("OAuth: %s (%s)\n", wordsOf(reply.failure), reply.reason.c_str());
    return failed(codeOf(reply.failure), std::string("OAuth: ") + wordsOf(reply.failure) + " (" + reply.reason + ")");
  }
  TokenReply r = readTokenReply(reply.status, reply.body);
  if (r.outcome == TokenReply::kRefused && r.error == "invalid_grant") {
    platform::tracef("OAuth: 更新を拒否されました。%s\n", r.description.c_str());
    o.signInAgain = true;
    publishToken(task, [](OAuthSettings& held) { held.signInAgain = true; });
    return failed(kErrorPasswordRefused, kReasonSignInAgain);
  }
  if (r.outcome == TokenReply::kRefused) {
    platform::tracef("OAuth: 更新を拒否されました。%s %s\n", r.error.c_str(), r.description.c_str());
    return failed(kErrorPasswordRefused, "OAuth: " + r.error + " " + r.description);
  }
  if (r.outcome != TokenReply::kGranted) {
    platform::tracef("OAuth: トークンの応答が読めません。HTTP %d\n", reply.status);
    return failed(kErrorConnectFailed, "OAuth: トークンの応答が読めません (HTTP " + std::to_string(reply.status) + ")");
  }
  o.accessToken = r.accessToken;
  o.accessExpiresMs = now + static_cast<uint64_t>(r.expiresIn) * 1000;
  std::string sealed;
  if (!r.refreshToken.empty() && sealRefreshToken(r.refreshToken, sealed)) {
    o.refresh = sealed;
    offerRotated(task, sealed);
  }
  publishToken(task, [&](OAuthSettings& held) {
    held.accessToken = o.accessToken;
    held.accessExpiresMs = o.accessExpiresMs;
    if (!sealed.empty()) held.refresh = sealed;  // at once; the window thread saves it
  });
  AccessToken t;
  t.token = r.accessToken;
  return t;
}
