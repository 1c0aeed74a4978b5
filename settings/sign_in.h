// Signing in with the authorization code and PKCE (S256) through the user's
// browser and a redirect to a listener on loopback: the request the browser
// is sent with, what comes back to the listener, and the code's exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The sign-in methods as the account's "oauth" key stores them.
constexpr int32_t kSignInMicrosoft = 1;
constexpr int32_t kSignInGoogle = 2;
constexpr int32_t kSignInOther = 3;

// The secrets of one attempt: the code verifier (32 random bytes, 43
// characters), its S256 challenge and the state (16 random bytes).
struct Pkce {
  std::string verifier;
  std::string challenge;
  std::string state;
};
// False when the system has no random bytes to give.
bool makePkce(Pkce* out);
// BASE64URL(SHA-256(verifier)) without padding.
std::string s256Challenge(const std::string& verifier);
std::string base64Url(const unsigned char* data, size_t size);

// Microsoft matches its registered "http://localhost" by host, whatever the
// port; Google's desktop clients expect the address.
std::string redirectUri(int32_t method, uint16_t port);

struct AuthorizationRequest {
  int32_t method;
  const char* endpoint;
  const char* clientId;
  const char* scope;
  const char* loginHint;  // Shift-JIS; left out unless it is ASCII
  const char* extra;      // the provider's own parameters, encoded ("" for none)
  const std::string* redirect;
  const Pkce* pkce;
};
std::string authorizationUrl(const AuthorizationRequest& r);

// The form the token endpoint is sent for the code; `secret` may be empty.
std::string codeExchangeForm(const std::string& code, const std::string& redirect, const std::string& clientId,
                             const std::string& verifier, const std::string& secret);

// What one request to the listener was.
enum class RedirectKind {
  kNotOurs,     // anything else a browser asks (a favicon, a pre-connect): 404
  kCode,        // the redirect with a code and the right state
  kRefused,     // the redirect with an error (access_denied when the user declined)
  kWrongState,  // a redirect whose state is not this attempt's
};
struct RedirectAnswer {
  RedirectKind kind = RedirectKind::kNotOurs;
  std::string code;
  std::string error;        // the error parameter, printable ASCII only, cut to 64
  std::string description;  // error_description, the same, cut to 200
};
// `request`: the request's head, up to its blank line.
RedirectAnswer readRedirect(const std::string& request, const std::string& state);
// The whole HTTP reply the browser gets for it, its page's charset declared.
std::string redirectReply(RedirectKind kind);
