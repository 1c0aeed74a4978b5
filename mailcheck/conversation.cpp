#include "mailcheck/conversation.h"

#include <cstdio>
#include <string>

#include "mailcheck/access_token.h"
#include "mailcheck/server_trust.h"
#include "platform/trace.h"

int Conversation::run() {
  startResults();
  // The token before the connection: the server waits for no HTTP call.
  if (usesOAuth() && !takeToken(false)) {
    setState(kSessionFailed);
    return 1;
  }
  ServerKey key{};
  ErrorCode rc = connectServer(t_.connection, t_.account.pop3server, t_.account.port, t_.account.ssl, &key);
  if (rc != kErrorNone) {
    linkFailed(rc, rc);
    setState(kSessionFailed);
    return 1;
  }
  if (t_.account.ssl && !trustServer(key)) return fail();
  return converse();
}

void Conversation::startResults() {
  publish([&] {
    result().failed = 0;
    result().prevCount = result().count;
    result().count = 0;
    result().ignoredCount = 0;
    result().errorCode = kErrorNone;
    result().seenPin[0] = '\0';
    result().reason[0] = '\0';
    result().passwordInClear = 0;
  });
}

bool Conversation::lookUpKnown(int& unread) {
  box_ = mailboxOf(t_.account);
  known_.assign(ids_.size(), nullptr);
  return publish([&] {
    HeaderCache& cache = t_.kel.headerCache;
    cache.forgetUnconfigured(t_.kel.accounts);
    cache.keepOnly(box_, ids_);
    for (size_t i = 0; i < ids_.size(); ++i) {
      known_[i] = cache.find(box_, ids_[i]);
      if (known_[i]) --unread;
    }
  });
}

void Conversation::clearLines(int from) {
  publish([&] {
    for (int i = from; i < kMailLines; ++i) {
      result().lines[i].bytes[0] = '\0';
      result().lineState[i] = kLineEmpty;
    }
  });
}

int Conversation::fail() {
  platform::trace("エラ～発生！\n");
  closeConnection(t_.connection);
  setState(kSessionFailed);
  return 1;
}

// After a handshake: a key that verifies or is the one trusted goes on, a
// first one is trusted from now on (the window thread stores it, if the
// account is still this one), a changed one ends the session before
// anything is sent over it.
bool Conversation::trustServer(ServerKey& key) {
  if (t_.inspectKey) t_.inspectKey(key);
  key.pin[sizeof key.pin - 1] = '\0';
  const Account& a = t_.account;
  switch (decideTrust(key.verified, a.pin, key.pin)) {
    case TrustVerdict::kGoOn: return true;
    case TrustVerdict::kGoOnStorePin: {
      PinOffer& o = t_.pinOffer;
      o.slot = t_.index;
      snprintf(o.server, sizeof o.server, "%s", a.pop3server);
      o.port = a.port;
      snprintf(o.user, sizeof o.user, "%s", a.user);
      memcpy(o.pin, key.pin, sizeof o.pin);
      if (!key.verified && !a.pin[0]) platform::tracef("サーバの鍵を登録します。%s\n", key.pin);
      return true;
    }
    case TrustVerdict::kKeyChanged: break;
  }
  platform::tracef("サーバの鍵が登録と違います。登録 %s 今回 %s\n", a.pin, key.pin[0] ? key.pin : "-");
  publish([&] {
    result().errorCode = kErrorServerKeyChanged;
    fixedReason(kReasonKeyChanged, result().reason);
    memcpy(result().seenPin, key.pin, sizeof result().seenPin);
  });
  return false;
}

Conversation::Link Conversation::withoutUpgrade(const char* name) {
  if (!neverInClear()) return kLinkReady;
  Reason why;
  fixedReason((std::string("TLS: ") + name + "がありません").c_str(), why);
  return upgradeFailed((std::string(name) + "がありません。\n").c_str(), why, true);
}

// Bytes that arrived behind the positive reply came before TLS and could
// only have been put there by someone else; what the server listed in
// clear is asked again.
Conversation::Link Conversation::finishUpgrade(const char* name) {
  Reason why;
  if (t_.connection.inStart != t_.connection.inEnd) {
    fixedReason((std::string("TLS: ") + name + "の応答の後に余計なデータがあります").c_str(), why);
    return upgradeFailed((std::string(name) + "の応答の後に余計なデータがあります。\n").c_str(), why, false);
  }
  ServerKey key{};
  ErrorCode rc = startTls(t_.connection, t_.account.pop3server, &key);
  if (rc != kErrorNone) {
    linkReason(rc, linkFailure(t_.connection), why);
    return upgradeFailed((std::string(name) + "に失敗しました。\n").c_str(), why, false);
  }
  return trustServer(key) && askCapabilities() ? kLinkReady : kLinkFailed;
}

// A pinned or OAuth2 account fails before anything goes in clear, with
// `why` as its reason. Any other has nothing to protect yet and goes on in
// clear: on this connection while it still speaks plain, else on a new one
// that asks for no upgrade. The next check tries the upgrade again.
Conversation::Link Conversation::upgradeFailed(const char* traceLine, const Reason& why, bool sameConnection) {
  platform::trace(traceLine);
  if (neverInClear()) {
    setFailure(kErrorTlsFailed, why);
    return kLinkFailed;
  }
  platform::trace(sameConnection ? "暗号化せずに続けます。\n" : "暗号化せずに接続し直します。\n");
  return sameConnection ? kLinkReady : kLinkReconnect;
}

bool Conversation::reconnectInClear() {
  closeConnection(t_.connection);
  ErrorCode rc = connectServer(t_.connection, t_.account.pop3server, t_.account.port, 0);
  if (rc != kErrorNone) linkFailed(rc, rc);
  clearOnly_ = true;
  return rc == kErrorNone;
}

bool Conversation::takeToken(bool refresh) {
  AccessToken taken = takeAccessToken(t_, refresh);
  accessToken_.assign(accessToken_.size(), '\0');
  if (taken.code != kErrorNone) {
    setFailure(taken.code, taken.reason);
    return false;
  }
  accessToken_ = taken.token;
  return true;
}

// Refused, with or without a challenge (Microsoft sends a plain refusal):
// the token may have been revoked or expired early.
bool Conversation::renewToken() {
  platform::trace("OAuth: トークンを拒否されました。更新して再試行します。\n");
  return takeToken(true);
}

void Conversation::tokenRefused(const char* said, size_t length) {
  Reason server, why;
  replyReason(said, length, server);
  fixedReason((std::string(kReasonSignInAgain) + " " + server).c_str(), why);
  forgetAccessToken(t_);
  setFailure(kErrorPasswordRefused, why);
}
