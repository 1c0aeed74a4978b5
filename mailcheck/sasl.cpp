#include "mailcheck/sasl.h"

#include "platform/secret.h"

SaslMechanism chooseSaslMechanism(bool listsXoauth2, bool listsOauthbearer) {
  return listsOauthbearer && !listsXoauth2 ? SaslMechanism::kOauthbearer : SaslMechanism::kXoauth2;
}

const char* saslMechanismName(SaslMechanism m) {
  return m == SaslMechanism::kOauthbearer ? "OAUTHBEARER" : "XOAUTH2";
}

std::string saslTokenResponse(SaslMechanism m, const std::string& user, const std::string& accessToken) {
  std::string plain;
  if (m == SaslMechanism::kOauthbearer) {
    // The GS2 header names the user; ',' and '=' in it are escaped (RFC 5801).
    plain = "n,a=";
    for (char c : user) {
      if (c == ',')
        plain += "=2C";
      else if (c == '=')
        plain += "=3D";
      else
        plain += c;
    }
    plain += ",\x01";
  } else {
    plain = "user=" + user + "\x01";
  }
  plain += "auth=Bearer " + accessToken + "\x01\x01";
  return platform::base64Encode(plain);
}

const char* saslErrorAnswer(SaslMechanism m) { return m == SaslMechanism::kOauthbearer ? "AQ==" : ""; }
