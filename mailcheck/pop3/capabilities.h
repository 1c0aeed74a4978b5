// What a server's CAPA reply (RFC 2449) tells a session, one line at a time.
#pragma once

#include <cstddef>
#include <cstdint>

struct Capabilities {
  bool answered = false;    // CAPA was positive; false for a server of RFC 1939 alone
  bool pipelining = false;  // commands may go ahead of their replies
  bool stls = false;
  bool uidl = false;
  // LOGIN-DELAY (RFC 2449 section 6.5): seconds between logins, and whether
  // the value for this user is only told after login.
  uint32_t loginDelay = 0;
  bool loginDelayPerUser = false;
  // The OAuth2 mechanisms its SASL line lists.
  bool saslXoauth2 = false;
  bool saslOauthbearer = false;
};

// One line of the list (CR LF included), before its terminating ".".
void noteCapability(const char* line, Capabilities& caps);
// The first n bytes of text are word's, in any letter case (word in capitals).
bool sameLetters(const char* text, const char* word, size_t n);
