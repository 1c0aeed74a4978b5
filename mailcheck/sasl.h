// The SASL responses of an OAuth2 login, for any protocol's AUTH or
// AUTHENTICATE: XOAUTH2 (Google's and Microsoft's) and OAUTHBEARER
// (RFC 7628). Both are sent in base64 on a line of their own.
#pragma once

#include <string>

enum class SaslMechanism { kXoauth2, kOauthbearer };

// OAUTHBEARER only when the server lists it and not XOAUTH2.
SaslMechanism chooseSaslMechanism(bool listsXoauth2, bool listsOauthbearer);
const char* saslMechanismName(SaslMechanism m);

// The initial response, in base64.
std::string saslTokenResponse(SaslMechanism m, const std::string& user, const std::string& accessToken);
// What answers a challenge that carries the server's error, so that it
// ends the exchange with its refusal: an empty line, or "AQ==" (a ^A).
const char* saslErrorAnswer(SaslMechanism m);
