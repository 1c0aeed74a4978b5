// The access token a session's login sends, taken on its worker: the one
// in memory while it has more than a minute left, else a new one from the
// token endpoint with the stored refresh token. Any protocol's login uses it.
#pragma once

#include <string>

#include "mailcheck/error_code.h"
#include "mailcheck/failure_reason.h"

struct SessionTask;

// The token endpoint's own time bound; the session's silence counts only
// the mail server's bytes.
constexpr int kTokenCallMs = 15000;
// A token that expires within this is refreshed first.
constexpr uint64_t kTokenMarginMs = 60000;

struct AccessToken {
  ErrorCode code = kErrorNone;  // kErrorNone: token holds one
  Reason reason{};
  std::string token;
};

// refresh: ask the endpoint even when the one in memory looks good (the
// server refused it). A rotated refresh token goes to task.tokenOffer; the
// new access token (and a refused refresh token) into the account's table
// entry unless the session was given up or the account changed.
AccessToken takeAccessToken(SessionTask& task, bool refresh);
// The server refused even a new token: the next check asks for another
// instead of sending this one.
void forgetAccessToken(SessionTask& task);

extern const char kReasonSignInNeeded[];  // "サインインが必要です"
extern const char kReasonSignInAgain[];   // "OAuth: サインインし直してください"
