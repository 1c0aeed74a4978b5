// An account's trusted server key ("pin"): its text form, the hand-over of a
// key a check learned, and the user's acceptance of a key a check refused.
// All of it runs on the window thread, the only writer of accounts.
#pragma once

#include "settings/edits.h"
#include "settings/settings.h"

#include "mailcheck/server_trust.h"

enum class PinStored { kStored, kAlreadyHeld, kDropped, kNotWritten };
// Stores the offered pin when the account in its slot still has the
// server, port and user the session checked; otherwise (the account was
// changed, moved or deleted meanwhile) the offer is dropped. Saves file 2
// only when the pin changed.
PinStored acceptPinOffer(Kel& kel, const PinOffer& offer);

// The key that the last check of slot refused (code 1), when the account
// still holds another pin: both in lowercase. False when there is nothing
// for the user to decide.
bool refusedKey(Kel& kel, int slot, char (&stored)[kPinSize], char (&seen)[kPinSize]);
// The user's yes: the account trusts `seen` from now on.
SaveOutcome trustKey(Kel& kel, int slot, const char* seen);
