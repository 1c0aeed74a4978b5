// What an account that signs in with OAuth2 keeps beside its Account record
// (one entry per slot, moved with it; Account itself is copied into every
// session and stays as it was): the provider, the client, another
// provider's endpoints, and the refresh token protected for the current
// user. The access token lives in memory only.
#pragma once

#include <cstdint>
#include <string>

#include "settings/edits.h"
#include "settings/settings.h"

enum OAuthProvider : int32_t {
  kOAuthNone = 0,
  kOAuthMicrosoft = 1,
  kOAuthGoogle = 2,
  kOAuthOther = 3,
};

struct OAuthSettings {
  int32_t oauth = kOAuthNone;  // "oauth"
  std::string client;          // "oauthclient"
  std::string secret;          // "oauthsecret" (Google's desktop clients send one)
  std::string authorize;       // "oauthauthorize", for kOAuthOther only
  std::string token;           // "oauthtoken", for kOAuthOther only
  std::string scope;           // "oauthscope", for kOAuthOther only
  // "oauthrefresh": standard base64 of the protected refresh token, or empty
  // when the account has never signed in.
  std::string refresh;

  // Memory only: the access token and when it expires on the monotonic
  // clock (ms), and that the token endpoint refused the refresh token (no
  // check asks again until the user signs in).
  std::string accessToken;
  uint64_t accessExpiresMs = 0;
  bool signInAgain = false;
};

// The endpoints and scope of the account's provider: the presets, or the
// account's own for kOAuthOther. authorizeExtra is appended to the
// authorization request ("" for none). All null for kOAuthNone.
struct OAuthEndpoints {
  const char* authorize;
  const char* token;
  const char* scope;
  const char* authorizeExtra;
};
OAuthEndpoints oauthEndpoints(const OAuthSettings& s);

// A provider number as stored; anything unknown reads as none.
int32_t oauthProviderFor(int32_t stored);

// The same client and endpoints: tokens of one are no good for the other.
bool sameOAuthMethod(const OAuthSettings& a, const OAuthSettings& b);
// Forgets the refresh and access tokens (not the method).
void forgetOAuthTokens(OAuthSettings& s);

// The refresh token protected for this user and in base64 ("oauthrefresh"),
// and back. False when it cannot be protected, or when the stored text is
// damaged or protected for another user or computer.
bool sealRefreshToken(const std::string& token, std::string& stored);
bool openRefreshToken(const std::string& stored, std::string& token);

// A refresh token for the account in `slot` (a sign-in's, or a rotation's):
// stored when the account there still has the server, port, user and
// client it was obtained for; saved to mail2.ini at once.
struct TokenOffer {
  int slot;
  char server[64];
  uint16_t port;
  char user[64];
  std::string client;
  std::string refresh;  // sealed, as stored; empty: nothing to store
};
enum class TokenStored { kStored, kDropped, kNotWritten };
TokenStored acceptTokenOffer(Kel& kel, const TokenOffer& offer);

// The account's OAuth2 settings as the editor writes them: tokens are kept
// while the method stays the same, forgotten otherwise. Saves file 2.
SaveOutcome storeOAuthSettings(Kel& kel, int slot, const OAuthSettings& method);
