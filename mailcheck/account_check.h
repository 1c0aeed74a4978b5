// The check of one account: its session on a worker of its own, given up
// after about 20.5 s without a byte from its server or 300 s in all; then
// the tray, the tooltip and the announcement from every account's last
// results. The pass over the slots runs the first part for each account
// and the second once; a check of one account alone runs both.
#pragma once

#include <cstdint>
#include <memory>

#include "app/wake.h"
#include "platform/os_types.h"

class Kel;
struct PinOffer;
struct SessionTask;

enum TrayOutcome { kTrayError, kTrayIdle, kTrayCount };

// What a check asks of the screen and the speakers. The windows build
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
  // What Windows says of the person at the computer (notify/presence.h),
  // asked before an announcement.
  int (*userState)(Kel& kel);
};

// How long a check waits; tests may shorten it.
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

// Waits in short steps; false when the program is ending.
bool pauseCheck(const Kel& kel, int ms);

// Under the check lock: the session of the account in this slot, made the
// running one; or null while its server's LOGIN-DELAY holds it, when the
// account stands as its last check left it and *waitSeconds says how long.
std::shared_ptr<SessionTask> beginSession(Kel& kel, int slot, uint32_t* waitSeconds);

// Runs a begun session on a worker and watches it; true when it completed
// within its budget. Its counts then go into the totals.
bool watchSession(Kel& kel, const std::shared_ptr<SessionTask>& task, const CheckEffects& fx, const CheckTiming& timing);

// The tray, the tooltip and the announcement from every account's last
// results. New mail is looked for in the account with this identity only,
// or in every account for 0.
void showResults(Kel& kel, const CheckEffects& fx, uint32_t onlyAccount);

// The account with this identity, checked alone now: its session, then
// what every account's results show. Nothing when it is gone; false when
// its session did not complete (or a LOGIN-DELAY held it).
bool checkOneAccount(Kel& kel, uint32_t accountId, const CheckEffects& fx, const CheckTiming& timing = kCheckTiming);

// The announcement held while nobody could see it, given now on a worker of
// its own (checkState Running, as for a pass); sets checkState to Finished
// as its last act.
void runHeldAnnouncement(Kel& kel, const CheckEffects& effects);
