#include "mailcheck/check_cycle.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/pop3_session.h"
#include "platform/trace.h"

namespace {

using Guard = std::lock_guard<std::mutex>;

bool slotEmpty(const Kel& kel, int i) { return kel.accounts[i].mailaddr[0] == '\0'; }

// The first slot whose account this pass has not checked yet, or -1; the
// counts of the empty slots on the way are 0. Under the lock.
int nextAccount(Kel& kel, const std::vector<uint32_t>& checked) {
  for (int i = 0; i < kAccountSlots; ++i) {
    CheckResult& r = kel.results[i];
    if (slotEmpty(kel, i)) {
      r.count = 0;
      r.ignoredCount = 0;
      r.prevCount = 0;
    } else if (r.accountId == 0 || std::find(checked.begin(), checked.end(), r.accountId) == checked.end()) {
      return i;
    }
  }
  return -1;
}

// One try at every account, from fresh totals.
void checkAllAccounts(Kel& kel, const CheckEffects& fx, const CheckTiming& timing) {
  {
    Guard g(kel.checkLock);
    kel.totalNew = 0;
    kel.totalIgnored = 0;
    for (CheckResult& r : kel.results) r.counted = 0;
    forgetUnconfigured(kel.loginDelays, kel.accounts);
  }
  // Accounts in slot order, each once: one that a deletion moves down is
  // still checked, one that is changed is checked as it is now.
  std::vector<uint32_t> checked;
  while (!kel.stopping) {
    std::shared_ptr<SessionTask> task;
    uint32_t wait = 0;
    {
      Guard g(kel.checkLock);
      int i = nextAccount(kel, checked);
      if (i < 0) break;
      task = beginSession(kel, i, &wait);
      checked.push_back(kel.results[i].accountId);
    }
    if (task) {
      watchSession(kel, task, fx, timing);
    } else {
      platform::tracef("LOGIN-DELAY: あと%u秒は接続しません。\n", wait);
    }
  }
}

// Every configured account failed to find its server (code 2 or 3): just
// after waking, the network is not up yet.
bool noNetworkYet(Kel& kel) {
  Guard g(kel.checkLock);
  int configured = 0;
  for (int i = 0; i < kAccountSlots; ++i) {
    if (slotEmpty(kel, i)) continue;
    ++configured;
    const CheckResult& r = kel.results[i];
    bool offline = r.errorCode == kErrorNameNotFound || r.errorCode == kErrorConnectFailed;
    if (r.failed != 1 || !offline) return false;
  }
  return configured > 0;
}

bool sameAccount(const Account& a, const Account& b) {
  return strcmp(a.mailaddr, b.mailaddr) == 0 && strcmp(a.pop3server, b.pop3server) == 0 &&
         strcmp(a.user, b.user) == 0 && a.port == b.port;
}

// The pass after waking: while it finds no network it tries again after the
// waits of timing.wake. What a try that is tried again left is put back, so
// the status dialog goes on showing the last check until the last try.
void checkAfterWaking(Kel& kel, const CheckEffects& fx, const CheckTiming& timing) {
  static_assert(sizeof(CheckResult) * kAccountSlots < 16384, "kept on the stack");
  CheckResult before[kAccountSlots];
  Account whose[kAccountSlots];
  {
    Guard g(kel.checkLock);
    for (int i = 0; i < kAccountSlots; ++i) {
      before[i] = kel.results[i];
      whose[i] = kel.accounts[i];
    }
  }
  checkAllAccounts(kel, fx, timing);
  for (int waitMs : timing.wake.afterMs) {
    if (kel.stopping || !noNetworkYet(kel)) break;
    {
      Guard g(kel.checkLock);
      for (int i = 0; i < kAccountSlots; ++i)  // unless the user changed the account meanwhile
        if (sameAccount(whose[i], kel.accounts[i])) kel.results[i] = before[i];
    }
    platform::trace("接続できないので後で再試行します\n");
    if (!pauseCheck(kel, waitMs)) break;
    checkAllAccounts(kel, fx, timing);
  }
}

}  // namespace

void runCheckCycle(Kel& kel, const CheckEffects& fx, const CheckTiming& timing) {
  if (kel.checkAfterWake.exchange(false))
    checkAfterWaking(kel, fx, timing);
  else
    checkAllAccounts(kel, fx, timing);
  if (!kel.stopping) showResults(kel, fx, 0);  // nothing more to show once the program ends
  kel.checkState = kFinished;
}
