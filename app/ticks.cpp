#include "app/ticks.h"

#include "app/application.h"
#include "notify/presence.h"

namespace {

using StartFn = bool (*)(Kel&, HANDLE*, uint32_t*);

void tick(Kel& kel, int32_t& minutes, StateWord& state, HANDLE& handle, uint32_t& id,
          int32_t interval, StartFn start, void (*closeHandle)(HANDLE)) {
  ++minutes;
  if (state == kFinished) {
    closeHandle(handle);
    handle = nullptr;
    state = kIdle;
  }
  if (minutes >= interval && state == kIdle) {
    // Running before the thread exists, so that it can set Finished.
    state = kRunning;
    if (!start(kel, &handle, &id)) {
      state = kIdle;  // try again at the next tick
      return;
    }
    minutes = 0;
  }
}

void releaseHeld(Kel& kel, const WorkerOps& ops) {
  if (!kel.announcementHeld || kel.checkState == kRunning) return;
  if (!announcementMayShow(ops.userState(kel))) return;
  if (kel.checkState == kFinished) {
    ops.closeHandle(kel.checkThreadHandle);
    kel.checkThreadHandle = nullptr;
    kel.checkState = kIdle;
  }
  kel.announcementHeld = false;
  kel.checkState = kRunning;  // no check starts while it shows
  if (!ops.startAnnouncement(kel, &kel.checkThreadHandle, &kel.checkThreadId)) {
    kel.checkState = kIdle;
    kel.announcementHeld = true;
  }
}

}  // namespace

void halfSecondTick(Kel& kel, const WorkerOps& ops) { releaseHeld(kel, ops); }

void mailTick(Kel& kel, const WorkerOps& ops) {
  tick(kel, kel.checkMinutes, kel.checkState, kel.checkThreadHandle, kel.checkThreadId,
       mailIntervalFor(kel.mailcbt), ops.startCheck, ops.closeHandle);
}

void clockTick(Kel& kel, const WorkerOps& ops) {
  tick(kel, kel.clockMinutes, kel.clockState, kel.clockThreadHandle, kel.clockThreadId,
       clockIntervalFor(kel.tcbt), ops.startClock, ops.closeHandle);
}
