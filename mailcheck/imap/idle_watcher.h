// The IDLE watcher's thread and what it shares with the hooks the checks
// call (idle_watch.h): the two files that make it up use this.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "mailcheck/account_check.h"
#include "mailcheck/imap/idle_link.h"
#include "mailcheck/imap/idle_watch.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/pop3/pop3_session.h"

// Moves an open connection's record; `from` is left closed.
void moveConnection(Connection& from, Connection& to);

class IdleWatch {
 public:
  IdleWatch(Kel& kel, const CheckEffects& fx, const CheckTiming& check, const IdleTiming& timing)
      : kel_(kel), fx_(fx), check_(check), timing_(timing) {}

  void run();

  // Under kel.checkLock.
  struct Incoming {
    uint32_t accountId;
    std::unique_ptr<Connection> conn;
    uint32_t uidValidity;
    bool uidplus;
  };
  std::vector<Incoming> incoming;
  std::vector<uint32_t> held;  // accounts whose link holds or makes a connection
  IdleLink* lent = nullptr;    // the link whose connection the check now running may take
  std::vector<uint32_t> expired;
  std::atomic<bool> wake{false};
  std::atomic<uint32_t> checks{0};
  std::thread thread;

 private:
  // A reconnect: the session's own connect, login and SELECT, on a worker.
  struct Connect {
    std::shared_ptr<SessionTask> task;
    std::shared_ptr<std::atomic<bool>> ended;
    std::thread worker;
    uint32_t seen = 0;
    uint64_t progressAt = 0;
  };

  void exchange();
  void advance(IdleLink& link, uint64_t now);
  void read(IdleLink& link, uint64_t now);
  void waitForInput();
  void startIdle(IdleLink& link, uint64_t now);
  void lost(IdleLink& link, uint64_t now);
  void startConnect(IdleLink& link, uint64_t now);
  void watchConnect(IdleLink& link, uint64_t now);
  void checkOn(IdleLink& link);
  void shutdown();
  IdleLink* find(uint32_t id);
  uint64_t now() const { return monotonicNow(kel_); }

  Kel& kel_;
  const CheckEffects fx_;
  const CheckTiming check_;
  const IdleTiming timing_;
  std::vector<std::unique_ptr<IdleLink>> links_;
  std::vector<std::unique_ptr<Connect>> connects_;  // by position in links_
};

