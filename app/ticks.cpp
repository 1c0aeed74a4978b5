#include "app/ticks.h"

#include <mutex>

#include "app/application.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/imap/idle_watch.h"
#include "notify/presence.h"

namespace {

using StartFn = bool (*)(Kel&, HANDLE*, uint32_t*);

void tick(Kel& kel, int32_t& minutes, StateWord& state, HANDLE& handle, uint32_t& id,
          int32_t interval, StartFn start, void (*closeHandle)(HANDLE)) {
  ++minutes;
  // The IDLE watcher takes the check worker's word too: every change of it
  // is a compare-and-swap.
  int32_t expected = kFinished;
  if (state.compare_exchange_strong(expected, kIdle)) {
    closeHandle(handle);
    handle = nullptr;
  }
  expected = kIdle;
  // Running before the thread exists, so that it can set Finished.
  if (minutes >= interval && state.compare_exchange_strong(expected, kRunning)) {
    if (!start(kel, &handle, &id)) {
      state = kIdle;  // try again at the next tick
      return;
    }
    minutes = 0;
  }
}

// A worker due after waking starts as soon as none of its kind runs.
void startDue(Kel& kel, int32_t& due, std::atomic<bool>& afterWakeFlag, StateWord& state, int32_t& minutes,
              void (*tickFn)(Kel&, const WorkerOps&), const WorkerOps& ops) {
  if (!due || state == kRunning) return;
  minutes = kCountPastEveryInterval;
  afterWakeFlag = true;  // read by the worker this tick starts
  tickFn(kel, ops);
  if (state == kRunning) {
    due = 0;
  } else {
    afterWakeFlag = false;  // no thread: again at the next tick
  }
}

void releaseHeld(Kel& kel, const WorkerOps& ops) {
  if (!kel.announcementHeld || kel.checkState == kRunning) return;
  if (!announcementMayShow(ops.userState(kel))) return;
  int32_t expected = kFinished;
  if (kel.checkState.compare_exchange_strong(expected, kIdle)) {
    ops.closeHandle(kel.checkThreadHandle);
    kel.checkThreadHandle = nullptr;
  }
  expected = kIdle;
  if (!kel.checkState.compare_exchange_strong(expected, kRunning)) return;  // no check starts while it shows
  kel.announcementHeld = false;
  if (!ops.startAnnouncement(kel, &kel.checkThreadHandle, &kel.checkThreadId)) {
    kel.checkState = kIdle;
    kel.announcementHeld = true;
  }
}

}  // namespace

void halfSecondTick(Kel& kel, const WorkerOps& ops) {
  startDue(kel, kel.checkAfterWakeDue, kel.checkAfterWake, kel.checkState, kel.checkMinutes, mailTick, ops);
  startDue(kel, kel.clockAfterWakeDue, kel.clockAfterWake, kel.clockState, kel.clockMinutes, clockTick, ops);
  releaseHeld(kel, ops);
}

bool resumed(Kel& kel) {
  if (kel.wakeSeen) return false;
  kel.wakeSeen = 1;
  return true;
}

void suspending(Kel& kel) { kel.wakeSeen = 0; }

void afterWake(Kel& kel, const WorkerOps& ops) {
  idleAfterWake(kel);
  kel.checkAfterWakeDue = 1;
  kel.clockAfterWakeDue = 1;
  halfSecondTick(kel, ops);
}

void mailTick(Kel& kel, const WorkerOps& ops) {
  tick(kel, kel.checkMinutes, kel.checkState, kel.checkThreadHandle, kel.checkThreadId,
       mailIntervalFor(kel.mailcbt), ops.startCheck, ops.closeHandle);
  // Between intervals: an account a LOGIN-DELAY held is checked once it ends.
  if (kel.checkState != kIdle) return;
  {
    std::lock_guard<std::mutex> g(kel.checkLock);
    if (firstHeldLoginMs(kel.loginDelays) > monotonicNow(kel)) return;
  }
  kel.checkEndedWaits = true;
  kel.checkState = kRunning;
  if (!ops.startCheck(kel, &kel.checkThreadHandle, &kel.checkThreadId)) {
    kel.checkState = kIdle;
    kel.checkEndedWaits = false;
  }
}

void clockTick(Kel& kel, const WorkerOps& ops) {
  tick(kel, kel.clockMinutes, kel.clockState, kel.clockThreadHandle, kel.clockThreadId,
       clockIntervalFor(kel.tcbt), ops.startClock, ops.closeHandle);
}
