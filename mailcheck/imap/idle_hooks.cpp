// The watcher's start and stop, and the hooks through which the checks
// lend and hand over connections.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>

#include "app/application.h"
#include "mailcheck/imap/idle_watcher.h"
#include "mailcheck/transport.h"

const IdleTiming kIdleTiming = {600000, 20500, 250, {15000, 30000, 60000, 120000, 300000, 900000}};

using Guard = std::lock_guard<std::mutex>;

bool startIdleWatch(Kel& kel, const CheckEffects& fx, const CheckTiming& check, const IdleTiming& timing) {
  auto w = std::make_unique<IdleWatch>(kel, fx, check, timing);
  IdleWatch* watch = w.get();
  {
    Guard g(kel.checkLock);
    kel.idle = watch;
    try {
      w->thread = std::thread([watch] { watch->run(); });
    } catch (const std::system_error&) {
      kel.idle = nullptr;
      return false;
    }
  }
  w.release();
  return true;
}

void stopIdleWatch(Kel& kel) {
  kel.stopping = true;
  IdleWatch* w;
  {
    Guard g(kel.checkLock);
    w = kel.idle;
  }
  if (!w) return;
  w->thread.join();
  {
    Guard g(kel.checkLock);
    kel.idle = nullptr;
  }
  for (IdleWatch::Incoming& in : w->incoming) closeConnection(*in.conn);
  delete w;
}

void idlePrepareSession(Kel& kel, SessionTask& task) {
  IdleWatch* w = kel.idle;
  if (!w || task.account.protocol != kProtocolImap || task.quiet) return;
  IdleLink* l = w->lent;
  if (l && l->accountId == task.accountId && l->open()) {
    moveConnection(*l->conn, task.connection);
    task.connection.watch = &task.watch;
    l->conn.reset();
    l->movedOut = true;
    task.idleResume = true;
    memcpy(task.idleTag, l->tag, sizeof task.idleTag);
    task.uidValidity = l->uidValidity;
    task.uidplus = l->uidplus;
    task.keepForIdle = true;
    return;
  }
  task.keepForIdle = std::find(w->held.begin(), w->held.end(), task.accountId) == w->held.end() &&
                     w->held.size() < static_cast<size_t>(kIdleLinks);
}

void idleTakeConnection(Kel& kel, SessionTask& task) {
  auto conn = std::make_unique<Connection>();
  moveConnection(task.connection, *conn);
  {
    Guard g(kel.checkLock);
    IdleWatch* w = kel.idle;
    if (w && !kel.stopping && !task.abandoned) {
      IdleLink* l = w->lent;
      const uint32_t id = task.accountId;
      if (task.idleResume && l && l->accountId == id) {
        l->attach(std::move(conn));
        l->uidValidity = task.uidValidity;
        l->uidplus = task.uidplus;
        l->eventPending = task.mailboxChanged;  // a change after the search
      } else if (!task.idleResume && std::find(w->held.begin(), w->held.end(), id) == w->held.end()) {
        w->incoming.push_back({id, std::move(conn), task.uidValidity, task.uidplus});
        w->held.push_back(id);
      }
    }
  }
  if (conn) closeConnection(*conn);
}

void idleAfterWake(Kel& kel) {
  Guard g(kel.checkLock);
  if (kel.idle) kel.idle->wake = true;
}

void idleTokenExpired(Kel& kel, uint32_t accountId) {
  Guard g(kel.checkLock);
  if (kel.idle) kel.idle->expired.push_back(accountId);
}

uint32_t idleChecksMade(const Kel& kel) {
  IdleWatch* w = kel.idle;
  return w ? w->checks.load() : 0;
}
