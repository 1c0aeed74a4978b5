#include "app/thread_entries.h"

#include <cstring>
#include <mutex>

#include "app/application.h"
#include "clock/sntp.h"
#include "mailcheck/check_cycle.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/pop3/pop3_session.h"
#include "platform/shift_jis.h"
#include "platform/trace.h"

void checkThreadEntry(Kel& kel, const CheckEffects& effects) {
  Reason why;
  if (caughtInto(why, [&] { runCheckCycle(kel, effects); })) return;
  platform::tracef("チェックを中断: %s\n", why);
  {
    std::lock_guard<std::mutex> g(kel.checkLock);
    int32_t state = kel.sessionState.load();
    int slot = kel.session && state <= kSessionClosing ? accountSlot(kel, kel.session->accountId) : -1;
    if (slot >= 0) {  // the account whose check was under way
      CheckResult& r = kel.results[slot];
      r.failed = 1;
      r.count = r.prevCount;
      r.errorCode = kErrorNone;
      memcpy(r.reason, why, sizeof r.reason);
      kel.sessionState = kSessionFailed;
    }
  }
  kel.checkState = kFinished;
}

void announcementThreadEntry(Kel& kel, const CheckEffects& effects) {
  Reason why;
  if (caughtInto(why, [&] { runHeldAnnouncement(kel, effects); })) return;
  platform::tracef("新着メールの通知を中断: %s\n", why);
  kel.checkState = kFinished;
}

void clockThreadEntry(Kel& kel, const ClockEffects& effects) {
  Reason why;
  if (caughtInto(why, [&] { runClockSync(kel, effects); })) return;
  platform::tracef("時刻合わせを中断: %s\n", why);
  {
    std::lock_guard<std::mutex> g(kel.checkLock);
    ClockReport report{};
    report.outcome = ClockOutcome::kFailed;
    report.when = platform::localNow();
    platform::copyCut(report.failure, why, sizeof report.failure - 1);
    kel.clockReport = report;
  }
  kel.clockState = kFinished;
}
