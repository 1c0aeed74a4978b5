// One pass over the nine account slots: a POP3 session per configured
// account on a worker of its own, given up after about 20.5 s without a
// byte from its server or 300 s in all; then the totals, the tray outcome,
// and the announcement of new mail.
#pragma once

#include "app/wake.h"
#include "platform/os_types.h"

class Kel;
struct PinOffer;
struct TokenOffer;

enum TrayOutcome { kTrayError, kTrayIdle, kTrayCount };

// What the pass asks of the screen and the speakers. The windows build
// fills it from notify/; tests record the calls.
struct CheckEffects {
  void (*playSound)(Kel& kel);
  void (*showPopup)(Kel& kel, bool show);
  void (*drawText)(Kel& kel, const char* block, int holdMs, int lineCount);
  // Puts the pair for the outcome into kel.trayIcons (the count pair for
  // totalNew with kTrayCount).
  void (*loadTrayPair)(Kel& kel, TrayOutcome outcome, int totalNew);
  void (*destroyTrayPair)(HICON pair[2]);
  // A key a session asks to trust from now on; pins are written on the
  // window thread only, so the windows build posts it there.
  void (*offerPin)(Kel& kel, const PinOffer& offer);
  // A refresh token the token endpoint rotated, stored the same way.
  void (*offerToken)(Kel& kel, const TokenOffer& offer);
  // What Windows says of the person at the computer (notify/presence.h),
  // asked before an announcement.
  int (*userState)(Kel& kel);
};

// How long the pass waits; tests may shorten it.
struct CheckTiming {
  int startWaitMs;  // 50
  int pollMs;       // 500
  int polls;        // 41 polls in a row without progress give the session up
  int totalMs;      // 300000: a session that progresses is given up after this
  WakeRetries wake; // 15, 30, 60 s: a pass after waking that finds no network tries again
};
extern const CheckTiming kCheckTiming;

// Session workers whose threads have not ended (one left to end by itself
// included).
int sessionWorkersRunning();

// The whole pass; sets checkState to Finished as its last act.
void runCheckCycle(Kel& kel, const CheckEffects& effects, const CheckTiming& timing = kCheckTiming);

// The announcement held while nobody could see it, given now on a worker of
// its own (checkState Running, as for a pass); sets checkState to Finished
// as its last act.
void runHeldAnnouncement(Kel& kel, const CheckEffects& effects);
