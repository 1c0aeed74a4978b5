// What became of a sign-in through the browser, in words for the user.
#pragma once

#include <string>

#include "mailcheck/token_reply.h"
#include "platform/http.h"
#include "settings/loopback.h"
#include "settings/sign_in.h"

struct SignInOutcome {
  WaitOutcome wait = WaitOutcome::kFailed;
  RedirectAnswer redirect;     // when the browser came back
  platform::HttpReply http;    // the code's exchange, when there was one
  TokenReply token;            // its reply, read
};

// True when the sign-in gave a refresh token; otherwise `text` says why
// (empty when the user cancelled).
bool signInSucceeded(const SignInOutcome& o, std::string* text);
