// The minute ticks of timers 30000 (mail check) and 30001 (clock): count a
// minute, reap a finished worker, start the next one when its interval has
// passed and none runs.
#pragma once

#include <cstdint>

#include "platform/os_types.h"

class Kel;

struct WorkerOps {
  // Starts the worker; false when no thread could be made.
  bool (*startCheck)(Kel& kel, HANDLE* handle, uint32_t* id);
  bool (*startClock)(Kel& kel, HANDLE* handle, uint32_t* id);
  void (*closeHandle)(HANDLE handle);
  // The held announcement, on a worker kept as the check thread.
  bool (*startAnnouncement)(Kel& kel, HANDLE* handle, uint32_t* id);
  // What Windows says of the person at the computer (notify/presence.h).
  int (*userState)(Kel& kel);
};

constexpr int32_t kCountPastEveryInterval = 0xFFFFFF;

void mailTick(Kel& kel, const WorkerOps& ops);
void clockTick(Kel& kel, const WorkerOps& ops);

// Every 500 ms, and when the session is unlocked: starts the check and the
// clock sync due after waking once no worker of theirs runs, then gives the
// held announcement once someone can see it and no check runs.
void halfSecondTick(Kel& kel, const WorkerOps& ops);

// A resume from sleep (both messages of one wake may come): true for the
// first of a wake, when the caller waits kWakeSettleMs and calls afterWake.
bool resumed(Kel& kel);
// The system is going to sleep: the next resume is a wake of its own.
void suspending(Kel& kel);
// The settle time after waking has passed: a mail check and a clock sync,
// each at once or as soon as the one running ends.
void afterWake(Kel& kel, const WorkerOps& ops);
