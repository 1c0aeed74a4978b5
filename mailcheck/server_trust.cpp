#include "mailcheck/server_trust.h"

#include <cstring>

#include "platform/hex.h"

bool isPinText(const char* text) {
  if (!text) return false;
  int n = 0;
  while (n < kPinSize - 1 && platform::hexDigitValue(text[n]) >= 0) ++n;
  return n == kPinSize - 1 && text[n] == '\0';
}

void copyPin(char* out, const char* pin) {
  int i = 0;
  for (; i < kPinSize - 1 && pin[i]; ++i) out[i] = pin[i] >= 'A' && pin[i] <= 'F' ? pin[i] - 'A' + 'a' : pin[i];
  out[i] = '\0';
}

TrustVerdict decideTrust(bool verified, const char* storedPin, const char* seenPin) {
  bool stored = isPinText(storedPin);
  if (!isPinText(seenPin)) {
    // No key to compare or to store: only a pinned account needs one.
    return verified || !stored ? TrustVerdict::kGoOn : TrustVerdict::kKeyChanged;
  }
  if (stored) {
    char held[kPinSize], seen[kPinSize];
    copyPin(held, storedPin);
    copyPin(seen, seenPin);
    if (strcmp(held, seen) == 0) return TrustVerdict::kGoOn;
  }
  if (verified || !stored) return TrustVerdict::kGoOnStorePin;
  return TrustVerdict::kKeyChanged;
}
