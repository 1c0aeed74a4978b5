#include "settings/pins.h"

#include <cstring>
#include <mutex>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/server_trust.h"

namespace {

using Guard = std::lock_guard<std::mutex>;

bool usedSlot(const Kel& kel, int slot) {
  return slot >= 0 && slot < kAccountSlots && kel.accounts[slot].mailaddr[0] != '\0';
}

// The fields are fixed arrays that may lack their NUL when a caller filled
// them to the brim: compare within the array only.
bool sameText(const char* held, const char* offered, size_t size) { return strncmp(held, offered, size) == 0; }

}  // namespace

PinStored acceptPinOffer(Kel& kel, const PinOffer& offer) {
  char pin[kPinSize];
  memcpy(pin, offer.pin, sizeof pin);
  pin[kPinSize - 1] = '\0';
  if (!isPinText(pin)) return PinStored::kDropped;
  copyPin(pin, pin);
  {
    Guard g(kel.checkLock);
    if (!usedSlot(kel, offer.slot)) return PinStored::kDropped;
    Account& a = kel.accounts[offer.slot];
    if (a.port != offer.port || !sameText(a.pop3server, offer.server, sizeof offer.server) ||
        !sameText(a.user, offer.user, sizeof offer.user))
      return PinStored::kDropped;
    if (strcmp(a.pin, pin) == 0) return PinStored::kAlreadyHeld;
    memcpy(a.pin, pin, sizeof a.pin);
  }
  return saveSettings(kel, kAccountsFile) ? PinStored::kStored : PinStored::kNotWritten;
}

bool refusedKey(Kel& kel, int slot, char (&stored)[kPinSize], char (&seen)[kPinSize]) {
  Guard g(kel.checkLock);
  if (!usedSlot(kel, slot)) return false;
  const CheckResult& r = kel.results[slot];
  if (r.errorCode != kErrorServerKeyChanged) return false;
  char held[kPinSize], shown[kPinSize];
  memcpy(held, kel.accounts[slot].pin, sizeof held);
  memcpy(shown, r.seenPin, sizeof shown);
  held[kPinSize - 1] = shown[kPinSize - 1] = '\0';
  // A pin cleared since (the server or port changed) leaves nothing to
  // accept: the next check trusts what it meets first.
  if (!isPinText(held) || !isPinText(shown)) return false;
  copyPin(stored, held);
  copyPin(seen, shown);
  return strcmp(stored, seen) != 0;
}

SaveOutcome trustKey(Kel& kel, int slot, const char* seen) {
  if (!isPinText(seen)) return SaveOutcome::kSaved;
  {
    Guard g(kel.checkLock);
    if (!usedSlot(kel, slot)) return SaveOutcome::kSaved;
    copyPin(kel.accounts[slot].pin, seen);
  }
  return saveSettings(kel, kAccountsFile) ? SaveOutcome::kSaved : SaveOutcome::kNotWritten;
}
