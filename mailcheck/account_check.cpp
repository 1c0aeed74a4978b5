#include "mailcheck/account_check.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/imap/idle_watch.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/transport.h"
#include "notify/presence.h"
#include "platform/trace.h"

const CheckTiming kCheckTiming = {50, 500, 41, 300000, kWakeRetryWaits};

namespace {
std::atomic<int> liveWorkers{0};

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

using Guard = std::lock_guard<std::mutex>;

// The results of the account with this identity, or null once it was
// deleted or changed. Under the lock.
CheckResult* resultsOf(Kel& kel, uint32_t accountId) {
  int slot = accountSlot(kel, accountId);
  return slot < 0 ? nullptr : &kel.results[slot];
}

// reason: what the check saw, for a session that had met no failure of its own.
void markFailed(Kel& kel, uint32_t accountId, const char* reason = nullptr) {
  Guard g(kel.checkLock);
  if (CheckResult* r = resultsOf(kel, accountId)) {
    r->failed = 1;
    r->count = r->prevCount;
    if (reason && r->errorCode == kErrorNone) fixedReason(reason, r->reason);
  }
}

void markSucceeded(Kel& kel, uint32_t accountId) {
  Guard g(kel.checkLock);
  if (CheckResult* r = resultsOf(kel, accountId)) r->lastSuccess = platform::localMinute();
}

// Runs the session on a worker and watches it. Every wait of the worker
// ends within a slice of its give-up, so it is always joined. True when
// the session completed within its budget.
bool runWatched(Kel& kel, const std::shared_ptr<SessionTask>& task, const CheckEffects& fx,
                const CheckTiming& timing) {
  platform::trace("スレッド作成！\n");
  const uint32_t id = task->accountId;
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::thread worker;
  ++liveWorkers;
  try {
    worker = std::thread([task, ended] {
      runSession(*task);
      endNetworkThread();
      *ended = true;
      --liveWorkers;
    });
  } catch (const std::system_error&) {
    --liveWorkers;
    platform::trace("スレッド作成失敗\n");
    {
      Guard g(kel.checkLock);
      // no session ran: nothing of a former one stands
      if (CheckResult* r = resultsOf(kel, id)) r->errorCode = kErrorNone;
    }
    markFailed(kel, id, kReasonNoThread);
    return false;
  }
  pauseCheck(kel, timing.startWaitMs);

  bool completed = false;
  int elapsed = timing.startWaitMs;
  int silentPolls = 0;
  uint32_t seen = task->watch.received.load();
  for (;;) {
    int32_t state = kel.sessionState.load();
    if (state > kSessionClosing) {
      if (state == kSessionFailed) {
        markFailed(kel, id);
      } else {
        markSucceeded(kel, id);
        completed = true;
      }
      break;
    }
    bool gone;
    {
      Guard g(kel.checkLock);
      gone = accountSlot(kel, id) < 0;
    }
    if (gone) {  // deleted or changed: its session has nothing to say
      task->giveUp();
      break;
    }
    if (!pauseCheck(kel, timing.pollMs)) {
      task->giveUp();  // the program is ending: its waits end at once
      break;
    }
    elapsed += timing.pollMs;
    uint32_t now = task->watch.received.load();
    // A token call has its own bound; only the mail server's silence counts.
    silentPolls = now == seen && !task->takingToken ? silentPolls + 1 : 0;
    seen = now;
    if (silentPolls >= timing.polls || elapsed >= timing.totalMs) {
      platform::trace("スレッド強制終了！\n");
      task->giveUp();  // no thread is killed: its waits end instead
      pauseCheck(kel, timing.pollMs);
      if (kel.sessionState.load() != kSessionDone)
        markFailed(kel, id, silentPolls >= timing.polls ? kReasonSilent : kReasonTooLong);
      else
        markSucceeded(kel, id);
      break;
    }
  }
  // A worker waits no longer than a slice once given up; should one ever
  // be stuck beyond that, the check goes on without it (it writes nothing).
  for (int waited = 0; !*ended && waited < 5000; waited += 10) sleepMs(10);
  if (!*ended) {
    worker.detach();
    return completed;
  }
  worker.join();
  task->joined = true;
  if (task->keptOpen) idleTakeConnection(kel, *task);
  if (task->loggedIn) {
    Guard g(kel.checkLock);
    rememberLogin(kel.loginDelays, task->account, task->loginDelaySeconds, task->loginAtMs);
  }
  // The worker has ended: the key it decided to trust stands, given up or
  // not (one whose checks are always given up would never be pinned).
  if (!kel.stopping && task->pinOffer.pin[0] != '\0') {
    PinOffer offer = task->pinOffer;
    {
      Guard g(kel.checkLock);
      offer.slot = accountSlot(kel, id);
    }
    if (offer.slot >= 0) fx.offerPin(kel, offer);
  }
  // So is a rotated refresh token: the old one may no longer be honoured.
  if (!kel.stopping && !task->tokenOffer.refresh.empty()) {
    TokenOffer offer = task->tokenOffer;
    {
      Guard g(kel.checkLock);
      offer.slot = accountSlot(kel, id);
    }
    if (offer.slot >= 0) fx.offerToken(kel, offer);
  }
  return completed;
}

bool slotEmpty(const Kel& kel, int i) { return kel.accounts[i].mailaddr[0] == '\0'; }

bool lineIsNew(const CheckResult& r, int s) {
  return r.lineState[s] == kLineNew && r.lines[s].bytes[0] != '\0';
}

// The tooltip: an account that fails while another works is not hidden
// behind it. The popup's summary row keeps the designed text.
void addFailedCount(char (&tip)[128], int failed, int configured) {
  if (failed == 0 || failed == configured) return;
  size_t n = strlen(tip);
  snprintf(tip + n, sizeof tip - n, " エラー:%d", failed);
}

void announce(Kel& kel, const CheckEffects& fx, const char* summary) {
  platform::trace("新着メール有り\n");
  fx.playSound(kel);  // the melody ends early too when the program ends
  fx.showPopup(kel, true);
  int32_t nmp;
  {
    Guard g(kel.checkLock);  // the settings sheet may be writing it
    nmp = kel.nmp;
  }
  if (nmp == 1) {
    for (int i = 0; i < kAccountSlots && !kel.stopping; ++i) {
      char block[2 * 64];
      bool heading = false;
      {
        Guard g(kel.checkLock);
        const CheckResult& r = kel.results[i];
        bool anyNew = false;
        for (int s = 0; s < kMailLines; ++s) anyNew = anyNew || lineIsNew(r, s);
        if (!slotEmpty(kel, i) && kel.shac != 0 && anyNew) {
          heading = true;
          int n = snprintf(block, 33, "%s", kel.accounts[i].mailaddr);
          n = n > 32 ? 32 : n;
          snprintf(block + n + 1, sizeof block - static_cast<size_t>(n) - 1, "新着:%d 非通知:%d",
                   r.count, r.ignoredCount);
        }
      }
      if (heading) fx.drawText(kel, block, 4000, 2);
      for (int s = 0; s < kMailLines && !kel.stopping; ++s) {
        MailLine line;
        {
          Guard g(kel.checkLock);
          if (!lineIsNew(kel.results[i], s)) continue;
          line = kel.results[i].lines[s];
        }
        line.bytes[sizeof line.bytes - 1] = '\0';
        fx.drawText(kel, line.bytes, 4000, 2);
        Guard g(kel.checkLock);
        kel.results[i].lineState[s] = kLineAnnounced;
      }
    }
  }
  if (!kel.stopping) fx.drawText(kel, summary, 6000, 1);
  fx.showPopup(kel, false);
}

// Announce what arrived (and what is held) now, or hold it while nobody
// can see it. A check after which every account has failed leaves what is
// held as it is.
void announceOrHold(Kel& kel, const CheckEffects& fx, bool arrived, TrayOutcome outcome, const char* summary) {
  if (outcome == kTrayError) return;
  bool held = kel.announcementHeld;
  // Nothing new any more (the mail was read elsewhere): nothing to tell.
  if (outcome != kTrayCount || (!arrived && !held)) {
    kel.announcementHeld = false;
    return;
  }
  if (announcementMayShow(fx.userState(kel))) {  // outside the lock: it asks the shell
    kel.announcementHeld = false;
    announce(kel, fx, summary);
    return;
  }
  {
    Guard g(kel.checkLock);
    snprintf(kel.heldSummary, sizeof kel.heldSummary, "%s", summary);
  }
  if (!held) platform::trace("新着メールを保留\n");
  kel.announcementHeld = true;
}

}  // namespace

int sessionWorkersRunning() { return liveWorkers.load(); }

bool pauseCheck(const Kel& kel, int ms) {
  for (; ms > 0 && !kel.stopping; ms -= 50) sleepMs(ms < 50 ? ms : 50);
  return !kel.stopping;
}

std::shared_ptr<SessionTask> beginSession(Kel& kel, int slot, uint32_t* waitSeconds) {
  auto task = std::make_shared<SessionTask>(kel, slot);
  CheckResult& r = kel.results[slot];
  r.counted = 0;
  // A server that asked for fewer logins is not connected to before its
  // time: the account counts as checked with nothing new, and a failed one
  // stays as its last check left it.
  *waitSeconds = holdForLoginDelay(kel.loginDelays, kel.accounts[slot], monotonicNow(kel));
  if (*waitSeconds) {
    r.prevCount = r.count;
    r.counted = r.failed != 1;
    return nullptr;
  }
  idlePrepareSession(kel, *task);
  kel.session = task;
  kel.sessionState = kSessionStarting;
  return task;
}

bool watchSession(Kel& kel, const std::shared_ptr<SessionTask>& task, const CheckEffects& fx,
                  const CheckTiming& timing) {
  bool completed = runWatched(kel, task, fx, timing);
  if (completed) {
    Guard g(kel.checkLock);
    if (CheckResult* r = resultsOf(kel, task->accountId)) r->counted = 1;
  }
  return completed;
}

void showResults(Kel& kel, const CheckEffects& fx, uint32_t onlyAccount) {
  int unavailable = 0, arrived = 0, configured = 0, failed = 0, totalNew, totalIgnored;
  HICON oldPair[2];
  char tip[128], shownTip[128];
  TrayOutcome outcome;
  {
    Guard g(kel.checkLock);
    kel.totalNew = 0;
    kel.totalIgnored = 0;
    for (int i = 0; i < kAccountSlots; ++i) {
      const CheckResult& r = kel.results[i];
      if (slotEmpty(kel, i) || r.failed == 1) ++unavailable;
      if (!slotEmpty(kel, i)) {
        ++configured;
        if (r.failed == 1) ++failed;
      }
      if (r.prevCount < r.count && (onlyAccount == 0 || r.accountId == onlyAccount)) ++arrived;
      // The accounts that are still there and whose last checks completed.
      if (r.accountId != 0 && r.counted) {
        kel.totalNew += r.count;
        kel.totalIgnored += r.ignoredCount;
      }
    }
    totalNew = kel.totalNew;
    totalIgnored = kel.totalIgnored;
    oldPair[0] = kel.trayIcons[0];
    oldPair[1] = kel.trayIcons[1];
    kel.trayIconRefreshed = 0;
    if (unavailable == kAccountSlots) {
      outcome = kTrayError;
      snprintf(tip, sizeof tip, "接続エラー");
    } else if (totalNew == 0) {
      outcome = kTrayIdle;
      snprintf(tip, sizeof tip, "新着メールなし 非通知:%d", totalIgnored);
    } else {
      outcome = kTrayCount;
      snprintf(tip, sizeof tip, "新着:%d 非通知:%d", totalNew, totalIgnored);
    }
    fx.loadTrayPair(kel, outcome, totalNew);
    snprintf(shownTip, sizeof shownTip, "%s", tip);
    addFailedCount(shownTip, failed, configured);
    snprintf(kel.trayIconData.szTip, sizeof kel.trayIconData.szTip, "%s", shownTip);
  }
  announceOrHold(kel, fx, arrived > 0, outcome, tip);
  fx.destroyTrayPair(oldPair);
}

bool checkOneAccount(Kel& kel, uint32_t accountId, const CheckEffects& fx, const CheckTiming& timing) {
  std::shared_ptr<SessionTask> task;
  uint32_t wait = 0;
  {
    Guard g(kel.checkLock);
    int slot = accountSlot(kel, accountId);
    if (slot < 0) return false;
    task = beginSession(kel, slot, &wait);
  }
  bool completed = false;
  if (task) completed = watchSession(kel, task, fx, timing);
  else platform::tracef("LOGIN-DELAY: あと%u秒は接続しません。\n", wait);
  if (!kel.stopping) showResults(kel, fx, accountId);
  return completed;
}

void runHeldAnnouncement(Kel& kel, const CheckEffects& fx) {
  char summary[sizeof kel.heldSummary];
  {
    Guard g(kel.checkLock);
    memcpy(summary, kel.heldSummary, sizeof summary);
  }
  summary[sizeof summary - 1] = '\0';
  if (!kel.stopping) announce(kel, fx, summary);
  kel.checkState = kFinished;
}
