// Trust in a TLS server's key: a key that verifies is trusted; one that
// does not is trusted on first use and held to afterwards.
#pragma once

#include <cstdint>

#include "settings/settings.h"

enum class TrustVerdict {
  kGoOn,           // verified, or the stored pin matches
  kGoOnStorePin,   // go on, and store (or refresh) the seen key as the pin
  kKeyChanged,     // not verified and not the stored key: fail with code 1
};

// What a session asks the window thread to store: the pin of the account
// in `slot`, unless that account has meanwhile changed or moved.
struct PinOffer {
  int slot;
  char server[64];
  uint16_t port;
  char user[64];
  char pin[kPinSize];  // empty: nothing to store
};

// A pin's text form: true for exactly 64 hexadecimal digits (either case).
bool isPinText(const char* text);
// Copies a pin in lowercase, as the sessions compute it; out holds kPinSize.
void copyPin(char* out, const char* pin);

// What to do with a server after a TLS handshake: `verified` when its chain
// and name checked out, `storedPin` the account's pin ("" for none),
// `seenPin` the key it showed ("" when none was learned). Pure.
TrustVerdict decideTrust(bool verified, const char* storedPin, const char* seenPin);
