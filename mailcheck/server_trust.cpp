#include "mailcheck/server_trust.h"

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// 64 hexadecimal digits and nothing more; anything else is no key at all.
bool isPin(const char* pin) {
  if (!pin) return false;
  for (int i = 0; i < kPinSize - 1; ++i)
    if (!isHex(pin[i])) return false;
  return pin[kPinSize - 1] == '\0';
}

char lower(char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c; }

bool samePin(const char* a, const char* b) {
  for (int i = 0; i < kPinSize - 1; ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace

TrustVerdict decideTrust(bool verified, const char* storedPin, const char* seenPin) {
  bool stored = isPin(storedPin);
  if (!isPin(seenPin)) {
    // No key to compare or to store: only a pinned account needs one.
    return verified || !stored ? TrustVerdict::kGoOn : TrustVerdict::kKeyChanged;
  }
  if (stored && samePin(storedPin, seenPin)) return TrustVerdict::kGoOn;
  if (verified || !stored) return TrustVerdict::kGoOnStorePin;
  return TrustVerdict::kKeyChanged;
}
