// Signing in through the user's browser (window thread): listens on
// loopback, opens the authorization page, waits in a small modal window
// that can be cancelled, and exchanges the code for the tokens.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct BrowserSignIn {
  int32_t method;
  std::string clientId, secret;
  const char* authorize;
  const char* token;
  const char* scope;
  const char* authorizeExtra;
  std::string loginHint;
};

// True with the refresh token; false after telling the user why (nothing
// is told when the user cancelled). `owner` stays put but is not topmost
// while the browser is in use.
bool signInWithBrowser(HWND owner, HINSTANCE instance, const BrowserSignIn& s, std::string* refresh);
