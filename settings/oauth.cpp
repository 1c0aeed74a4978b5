#include "settings/oauth.h"

#include <cstring>
#include <mutex>

#include "app/application.h"
#include "platform/secret.h"

namespace {

using Guard = std::lock_guard<std::mutex>;

// Both protocols are asked for at once, so that an IMAP account of the
// same mailbox needs no sign-in of its own.
const OAuthEndpoints kMicrosoft = {
    "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
    "https://login.microsoftonline.com/common/oauth2/v2.0/token",
    "https://outlook.office.com/POP.AccessAsUser.All https://outlook.office.com/IMAP.AccessAsUser.All "
    "offline_access",
    ""};
// Google hands out a refresh token only with these on the authorization.
const OAuthEndpoints kGoogle = {"https://accounts.google.com/o/oauth2/v2/auth",
                                "https://oauth2.googleapis.com/token", "https://mail.google.com/",
                                "access_type=offline&prompt=consent"};

bool usedSlot(const Kel& kel, int slot) {
  return slot >= 0 && slot < kAccountSlots && kel.accounts[slot].mailaddr[0] != '\0';
}

}  // namespace

int32_t oauthProviderFor(int32_t stored) {
  return stored >= kOAuthMicrosoft && stored <= kOAuthOther ? stored : kOAuthNone;
}

OAuthEndpoints oauthEndpoints(const OAuthSettings& s) {
  switch (oauthProviderFor(s.oauth)) {
    case kOAuthMicrosoft: return kMicrosoft;
    case kOAuthGoogle: return kGoogle;
    case kOAuthOther: return {s.authorize.c_str(), s.token.c_str(), s.scope.c_str(), ""};
    default: return {nullptr, nullptr, nullptr, nullptr};
  }
}

bool sameOAuthMethod(const OAuthSettings& a, const OAuthSettings& b) {
  const int32_t p = oauthProviderFor(a.oauth);
  if (p != oauthProviderFor(b.oauth) || a.client != b.client || a.secret != b.secret) return false;
  return p != kOAuthOther || (a.authorize == b.authorize && a.token == b.token && a.scope == b.scope);
}

void forgetOAuthTokens(OAuthSettings& s) {
  s.refresh.clear();
  s.accessToken.clear();
  s.accessExpiresMs = 0;
  s.signInAgain = false;
}

bool sealRefreshToken(const std::string& token, std::string& stored) {
  std::string blob;
  if (token.empty() || !platform::protectSecret(token, blob)) return false;
  stored = platform::base64Encode(blob);
  return true;
}

bool openRefreshToken(const std::string& stored, std::string& token) {
  std::string blob;
  token.clear();
  return platform::base64Decode(stored, blob) && platform::unprotectSecret(blob, token) && !token.empty();
}

TokenStored acceptTokenOffer(Kel& kel, const TokenOffer& offer) {
  if (offer.refresh.empty()) return TokenStored::kDropped;
  {
    Guard g(kel.checkLock);
    if (!usedSlot(kel, offer.slot)) return TokenStored::kDropped;
    const Account& a = kel.accounts[offer.slot];
    OAuthSettings& o = kel.oauth[offer.slot];
    if (a.port != offer.port || strncmp(a.pop3server, offer.server, sizeof offer.server) != 0 ||
        strncmp(a.user, offer.user, sizeof offer.user) != 0 || oauthProviderFor(o.oauth) == kOAuthNone ||
        o.client != offer.client)
      return TokenStored::kDropped;
    o.refresh = offer.refresh;
    o.signInAgain = false;
  }
  return saveSettings(kel, kAccountsFile) ? TokenStored::kStored : TokenStored::kNotWritten;
}

SaveOutcome storeOAuthSettings(Kel& kel, int slot, const OAuthSettings& method) {
  {
    Guard g(kel.checkLock);
    if (!usedSlot(kel, slot)) return SaveOutcome::kSaved;
    OAuthSettings& o = kel.oauth[slot];
    const bool same = sameOAuthMethod(o, method);
    OAuthSettings next = method;
    next.oauth = oauthProviderFor(method.oauth);
    if (same) {
      next.refresh = o.refresh;
      next.accessToken = o.accessToken;
      next.accessExpiresMs = o.accessExpiresMs;
      next.signInAgain = o.signInAgain;
    } else {
      forgetOAuthTokens(next);
    }
    o = next;
  }
  return saveSettings(kel, kAccountsFile) ? SaveOutcome::kSaved : SaveOutcome::kNotWritten;
}
