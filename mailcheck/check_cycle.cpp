#include "mailcheck/check_cycle.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/application.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/pop3_session.h"
#include "mailcheck/transport.h"
#include "platform/trace.h"

const CheckTiming kCheckTiming = {50, 500, 41, 300000};

namespace {
std::atomic<int> liveWorkers{0};

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits in short steps; false when the program is ending.
bool pause(const Kel& kel, int ms) {
  for (; ms > 0 && !kel.stopping; ms -= 50) sleepMs(ms < 50 ? ms : 50);
  return !kel.stopping;
}

using Guard = std::lock_guard<std::mutex>;

void markFailed(Kel& kel, int i) {
  Guard g(kel.checkLock);
  kel.results[i].failed = 1;
  kel.results[i].count = kel.results[i].prevCount;
}

// A server that asked for fewer logins (LOGIN-DELAY) is not connected to
// before its time: the account counts as checked with nothing new.
bool waitsForLoginDelay(Kel& kel, int i) {
  uint32_t left;
  {
    Guard g(kel.checkLock);
    left = loginDelayLeft(kel.loginDelays, kel.accounts[i], monotonicNow(kel));
    if (left == 0) return false;
    CheckResult& r = kel.results[i];
    r.prevCount = r.count;
    if (r.failed != 1) {
      kel.totalNew += r.count;
      kel.totalIgnored += r.ignoredCount;
    }
  }
  platform::tracef("LOGIN-DELAY: あと%u秒は接続しません。\n", left);
  return true;
}

// Runs one account's session on a worker and watches it. Every wait of the
// worker ends within a slice of its give-up, so it is always joined.
void checkAccount(Kel& kel, int i, const CheckEffects& fx, const CheckTiming& timing) {
  if (waitsForLoginDelay(kel, i)) return;
  platform::trace("スレッド作成！\n");
  kel.sessionState = kSessionStarting;
  std::shared_ptr<SessionTask> task;
  {
    Guard g(kel.checkLock);
    task = std::make_shared<SessionTask>(kel, i);
    kel.session = task;
  }
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
    markFailed(kel, i);
    return;
  }
  pause(kel, timing.startWaitMs);

  bool givenUp = false;
  int elapsed = timing.startWaitMs;
  int silentPolls = 0;
  uint32_t seen = task->watch.received.load();
  for (;;) {
    int32_t state = kel.sessionState.load();
    if (state > kSessionClosing) {
      if (state == kSessionFailed) {
        markFailed(kel, i);
      } else {
        Guard g(kel.checkLock);
        kel.totalNew += kel.results[i].count;
        kel.totalIgnored += kel.results[i].ignoredCount;
      }
      break;
    }
    if (!pause(kel, timing.pollMs)) {
      task->giveUp();  // the program is ending: its waits end at once
      givenUp = true;
      break;
    }
    elapsed += timing.pollMs;
    uint32_t now = task->watch.received.load();
    silentPolls = now == seen ? silentPolls + 1 : 0;
    seen = now;
    if (silentPolls >= timing.polls || elapsed >= timing.totalMs) {
      platform::trace("スレッド強制終了！\n");
      task->giveUp();  // no thread is killed: its waits end instead
      givenUp = true;
      pause(kel, timing.pollMs);
      if (kel.sessionState.load() != kSessionDone) markFailed(kel, i);
      break;
    }
  }
  // A worker waits no longer than a slice once given up; should one ever
  // be stuck beyond that, the pass goes on without it (it writes nothing).
  for (int waited = 0; !*ended && waited < 5000; waited += 10) sleepMs(10);
  if (!*ended) {
    worker.detach();
    return;
  }
  worker.join();
  if (task->loggedIn) {
    Guard g(kel.checkLock);
    rememberLogin(kel.loginDelays, task->account, task->loginDelaySeconds, task->loginAtMs);
  }
  // Only a session that ran its course speaks for the server's key.
  if (!givenUp && task->pinOffer.pin[0] != '\0') fx.offerPin(kel, task->pinOffer);
}

bool slotEmpty(const Kel& kel, int i) { return kel.accounts[i].mailaddr[0] == '\0'; }

bool lineIsNew(const CheckResult& r, int s) {
  return r.lineState[s] == kLineNew && r.lines[s].bytes[0] != '\0';
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

}  // namespace

int sessionWorkersRunning() { return liveWorkers.load(); }

void runCheckCycle(Kel& kel, const CheckEffects& fx, const CheckTiming& timing) {
  {
    Guard g(kel.checkLock);
    kel.totalNew = 0;
    kel.totalIgnored = 0;
    forgetUnconfigured(kel.loginDelays, kel.accounts);
  }
  for (int i = 0; i < kAccountSlots; ++i) {
    bool empty;
    {
      Guard g(kel.checkLock);
      empty = slotEmpty(kel, i);
      if (empty) {
        kel.results[i].count = 0;
        kel.results[i].ignoredCount = 0;
        kel.results[i].prevCount = 0;
      }
    }
    if (!empty) checkAccount(kel, i, fx, timing);
    if (kel.stopping) break;
  }
  if (kel.stopping) {  // nothing more to show: the program is ending
    kel.checkState = kFinished;
    return;
  }

  int unavailable = 0, arrived = 0, totalNew, totalIgnored;
  HICON oldPair[2];
  char tip[128];
  TrayOutcome outcome;
  {
    Guard g(kel.checkLock);
    for (int i = 0; i < kAccountSlots; ++i) {
      if (slotEmpty(kel, i) || kel.results[i].failed == 1) ++unavailable;
      if (kel.results[i].prevCount < kel.results[i].count) ++arrived;
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
    snprintf(kel.trayIconData.szTip, sizeof kel.trayIconData.szTip, "%s", tip);
  }
  if (outcome == kTrayCount && arrived > 0) announce(kel, fx, tip);
  fx.destroyTrayPair(oldPair);
  kel.checkState = kFinished;
}
