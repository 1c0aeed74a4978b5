// What a token endpoint's reply (RFC 6749 sections 5.1 and 5.2) says: an
// access token with its lifetime and perhaps a new refresh token, or an
// error, or nothing usable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Replies are small; one past this is no token endpoint's.
constexpr size_t kTokenReplyMaxBytes = 64 * 1024;

struct TokenReply {
  enum Outcome { kGranted, kRefused, kUnreadable };
  Outcome outcome = kUnreadable;
  std::string accessToken;
  int64_t expiresIn = 0;     // seconds
  std::string refreshToken;  // a new one (rotation), or empty: keep the old one
  std::string error;         // "invalid_grant", ... for kRefused
  std::string description;   // error_description, printable ASCII only
};

// status: the HTTP status; body: the reply's JSON.
TokenReply readTokenReply(int status, const std::string& body);
