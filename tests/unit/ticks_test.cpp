#include "app/ticks.h"

#include <gtest/gtest.h>

#include "app/application.h"
#include "notify/presence.h"
#include "tests/support/kel_fixture.h"

namespace {
int checksStarted = 0, clocksStarted = 0, closed = 0;
bool failStart = false;
bool startCheck(Kel&, HANDLE* h, uint32_t* id) {
  if (failStart) return false;
  ++checksStarted;
  *h = reinterpret_cast<HANDLE>(1);
  *id = 7;
  return true;
}
bool startClock(Kel&, HANDLE* h, uint32_t*) {
  ++clocksStarted;
  *h = reinterpret_cast<HANDLE>(2);
  return true;
}
void closeHandle(HANDLE) { ++closed; }
int announcements = 0;
bool startAnnouncement(Kel&, HANDLE* h, uint32_t*) {
  if (failStart) return false;
  ++announcements;
  *h = reinterpret_cast<HANDLE>(3);
  return true;
}
int userState = kUserAccepts;
int askUserState(Kel&) { return userState; }
const WorkerOps kOps = {startCheck, startClock, closeHandle, startAnnouncement, askUserState};

KelPtr fresh() {
  checksStarted = clocksStarted = closed = announcements = 0;
  failStart = false;
  userState = kUserAccepts;
  KelPtr k = newKel();
  k->mailcbt = 4;  // 10 minutes
  k->tcbt = 6;     // 120 minutes
  return k;
}
}  // namespace

TEST(Ticks, StartUpChecksAtOnceAndTheIntervalFollows) {
  auto k = fresh();
  k->checkMinutes = kCountPastEveryInterval;
  mailTick(*k, kOps);
  EXPECT_EQ(1, checksStarted);
  EXPECT_EQ(kRunning, k->checkState.load());
  EXPECT_EQ(0, k->checkMinutes);
  k->checkState = kFinished;
  for (int m = 1; m < 10; ++m) mailTick(*k, kOps);
  EXPECT_EQ(1, closed);  // reaped at the first tick after it finished
  EXPECT_EQ(kIdle, k->checkState.load());
  EXPECT_EQ(1, checksStarted);
  mailTick(*k, kOps);  // the tenth minute
  EXPECT_EQ(2, checksStarted);
}

TEST(Ticks, CheckNowWhileOneRunsStartsNoneUntilItEnds) {
  auto k = fresh();
  k->checkMinutes = kCountPastEveryInterval;
  mailTick(*k, kOps);
  k->checkMinutes = kCountPastEveryInterval;  // the menu's check now
  mailTick(*k, kOps);
  EXPECT_EQ(1, checksStarted);
  k->checkState = kFinished;
  mailTick(*k, kOps);
  EXPECT_EQ(2, checksStarted);
}

TEST(Ticks, OneMinuteIntervalWithLongChecksFollowsAtTheFirstTickAfterEach) {
  auto k = fresh();
  k->mailcbt = 0;
  k->checkMinutes = kCountPastEveryInterval;
  mailTick(*k, kOps);
  mailTick(*k, kOps);
  mailTick(*k, kOps);  // still running for two minutes
  EXPECT_EQ(1, checksStarted);
  k->checkState = kFinished;
  mailTick(*k, kOps);
  EXPECT_EQ(2, checksStarted);
}

TEST(Ticks, AThreadThatCannotBeMadeLeavesTheStateIdle) {
  auto k = fresh();
  failStart = true;
  k->checkMinutes = kCountPastEveryInterval;
  mailTick(*k, kOps);
  EXPECT_EQ(kIdle, k->checkState.load());
  failStart = false;
  mailTick(*k, kOps);
  EXPECT_EQ(1, checksStarted);
}

TEST(Ticks, OutOfRangeIndexesUseTheDefaults) {
  auto k = fresh();
  k->mailcbt = 99;
  k->tcbt = -4;
  k->checkMinutes = 9;
  mailTick(*k, kOps);  // 10 minutes, as for mailcbt 4
  EXPECT_EQ(1, checksStarted);
  k->clockMinutes = 118;
  clockTick(*k, kOps);
  EXPECT_EQ(0, clocksStarted);
  clockTick(*k, kOps);
  EXPECT_EQ(1, clocksStarted);
}

// The held announcement starts on the half-second tick only while no check
// runs and the user can see it, as the check thread, once; a thread that
// cannot be made keeps it held.
TEST(Ticks, AHeldAnnouncementStartsOnceWhenTheUserCanSeeItAndNoCheckRuns) {
  auto k = fresh();
  halfSecondTick(*k, kOps);
  EXPECT_EQ(0, announcements);  // nothing held
  k->announcementHeld = true;
  userState = kUserPresenting;
  halfSecondTick(*k, kOps);
  EXPECT_EQ(0, announcements);
  userState = kUserAccepts;
  k->checkState = kRunning;
  halfSecondTick(*k, kOps);
  EXPECT_EQ(0, announcements);
  k->checkState = kFinished;  // a pass ended, not reaped yet
  failStart = true;
  halfSecondTick(*k, kOps);
  EXPECT_EQ(kIdle, k->checkState.load());
  EXPECT_TRUE(k->announcementHeld);
  EXPECT_EQ(1, closed);
  failStart = false;
  halfSecondTick(*k, kOps);
  halfSecondTick(*k, kOps);
  EXPECT_EQ(1, announcements);
  EXPECT_EQ(kRunning, k->checkState.load());
  EXPECT_FALSE(k->announcementHeld);
  k->checkMinutes = kCountPastEveryInterval;
  mailTick(*k, kOps);
  EXPECT_EQ(0, checksStarted);  // not while it shows
}

// Both resume messages of a wake start one settle time; a suspend makes the
// next resume a wake of its own. After it, a check and a clock sync start at
// once when none runs, or at the first half-second tick after the running
// one finished (not at the next minute), as the workers after waking.
TEST(Ticks, AfterWakingACheckAndAClockSyncStartOnceNoneOfTheirsRuns) {
  auto k = fresh();
  EXPECT_TRUE(resumed(*k));
  EXPECT_FALSE(resumed(*k));
  suspending(*k);
  EXPECT_TRUE(resumed(*k));

  afterWake(*k, kOps);
  EXPECT_EQ(1, checksStarted);
  EXPECT_EQ(1, clocksStarted);
  EXPECT_TRUE(k->checkAfterWake);
  EXPECT_TRUE(k->clockAfterWake);
  k->checkAfterWake = k->clockAfterWake = false;  // as the workers take them
  halfSecondTick(*k, kOps);
  EXPECT_EQ(1, checksStarted);

  afterWake(*k, kOps);  // the next wake, while both still run (cut by the sleep)
  halfSecondTick(*k, kOps);
  EXPECT_EQ(1, checksStarted);
  EXPECT_FALSE(k->checkAfterWake);
  k->checkState = kFinished;
  halfSecondTick(*k, kOps);
  EXPECT_EQ(2, checksStarted);
  EXPECT_TRUE(k->checkAfterWake);
  EXPECT_EQ(1, clocksStarted);
  k->clockState = kFinished;
  halfSecondTick(*k, kOps);
  EXPECT_EQ(2, clocksStarted);
  k->checkState = k->clockState = kFinished;
  halfSecondTick(*k, kOps);
  EXPECT_EQ(2, checksStarted);  // once per wake
  EXPECT_EQ(2, clocksStarted);

  failStart = true;  // no thread: due until one can be made
  k->checkAfterWake = false;
  afterWake(*k, kOps);
  EXPECT_FALSE(k->checkAfterWake);
  failStart = false;
  halfSecondTick(*k, kOps);
  EXPECT_EQ(3, checksStarted);
}
