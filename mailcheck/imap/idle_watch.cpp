#include "mailcheck/imap/idle_watcher.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "app/application.h"
#include "mailcheck/account_check.h"
#include "mailcheck/imap/idle_link.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/transport.h"
#include "platform/net.h"
#include "platform/trace.h"

using Guard = std::lock_guard<std::mutex>;

namespace {

// The check worker: a pass, the held announcement, or a check of one
// account from here. Taken from Idle, or from Finished (then put back for
// the window thread to reap).
bool claimChecks(Kel& kel, int32_t* prior) {
  for (int32_t from : {kIdle, kFinished}) {
    int32_t expected = from;
    if (kel.checkState.compare_exchange_strong(expected, kRunning)) {
      *prior = from;
      return true;
    }
  }
  return false;
}

}  // namespace

void moveConnection(Connection& from, Connection& to) {
  memcpy(&to, &from, sizeof to);
  from.sock = kNoSocket;
  from.tls = nullptr;
  from.ctx = nullptr;
  from.inStart = from.inEnd = 0;
}

IdleLink* IdleWatch::find(uint32_t id) {
  for (auto& l : links_)
    if (l->accountId == id) return l.get();
  return nullptr;
}

void IdleWatch::run() {
  while (!kel_.stopping) {
    exchange();
    for (size_t i = 0; i < links_.size() && !kel_.stopping; ++i) advance(*links_[i], now());
    if (!kel_.stopping) waitForInput();
  }
  shutdown();
  endNetworkThread();
}

// What the other threads handed over, what they see of the links, and the
// links of accounts that are gone.
void IdleWatch::exchange() {
  std::vector<Incoming> arrived;
  std::vector<uint32_t> expiredNow;
  std::vector<size_t> gone;
  uint64_t t = now();
  {
    Guard g(kel_.checkLock);
    arrived.swap(incoming);
    expiredNow.swap(expired);
    for (size_t i = 0; i < links_.size(); ++i) {
      int slot = accountSlot(kel_, links_[i]->accountId);
      if (slot < 0 || kel_.accounts[slot].protocol != kProtocolImap) gone.push_back(i);
    }
    held.clear();
    memset(kel_.idleShown, 0, sizeof kel_.idleShown);
    for (size_t i = 0; i < links_.size() && i < kAccountSlots; ++i) {
      const IdleLink& l = *links_[i];
      IdleShown& s = kel_.idleShown[i];
      s.accountId = l.accountId;
      bool waiting = l.state == IdleLink::kWaiting || l.state == IdleLink::kConnecting;
      s.state = waiting ? kIdleWaiting : kIdleConnected;
      s.retryAtMs = l.state == IdleLink::kWaiting ? l.retryAt : t;
      if (l.open() || l.state == IdleLink::kConnecting || l.state == IdleLink::kChecking) held.push_back(l.accountId);
    }
  }
  for (size_t k = gone.size(); k-- > 0;) {
    size_t i = gone[k];
    if (connects_[i]) {  // its worker ends within a slice once given up
      connects_[i]->task->giveUp();
      connects_[i]->worker.join();
    }
    links_[i]->logoutNow();
    links_.erase(links_.begin() + static_cast<long>(i));
    connects_.erase(connects_.begin() + static_cast<long>(i));
  }
  bool woke = wake.exchange(false);
  for (auto& l : links_) {
    bool expiredLink = std::find(expiredNow.begin(), expiredNow.end(), l->accountId) != expiredNow.end();
    if (l->state == IdleLink::kWaiting && (woke || expiredLink)) l->retryAt = t;
    if (l->state == IdleLink::kIdling && woke) l->since = 0;  // renewed at once
    if (expiredLink && l->open()) {
      l->close();
      l->state = IdleLink::kWaiting;
      l->retryAt = t;
    }
  }
  for (Incoming& in : arrived) {
    IdleLink* l = find(in.accountId);
    if (!l && links_.size() < static_cast<size_t>(kIdleLinks)) {
      links_.push_back(std::make_unique<IdleLink>(in.accountId));
      connects_.emplace_back();
      l = links_.back().get();
    }
    if (!l || l->open() || l->state == IdleLink::kConnecting) {
      closeConnection(*in.conn);  // one link per account
      continue;
    }
    l->attach(std::move(in.conn));
    l->uidValidity = in.uidValidity;
    l->uidplus = in.uidplus;
    l->retryStep = 0;
    startIdle(*l, t);
  }
}

void IdleWatch::startIdle(IdleLink& link, uint64_t t) {
  link.since = t;
  if (link.command("IDLE")) {
    link.state = IdleLink::kStarting;
  } else {
    lost(link, t);
  }
}

// The connection ended: made again after the next wait of the schedule, at
// once when an access token expired.
void IdleWatch::lost(IdleLink& link, uint64_t t) {
  platform::trace("IDLE: 接続が切れました。\n");
  link.close();
  link.state = IdleLink::kWaiting;
  link.eventPending = false;
  int step = std::min(link.retryStep, 5);
  link.retryAt = link.tokenExpired ? t : t + static_cast<uint64_t>(timing_.retryMs[step]);
  link.tokenExpired = false;
}

void IdleWatch::advance(IdleLink& link, uint64_t t) {
  switch (link.state) {
    case IdleLink::kWaiting:
      if (t >= link.retryAt) startConnect(link, t);
      break;
    case IdleLink::kConnecting: watchConnect(link, t); break;
    case IdleLink::kStarting:
    case IdleLink::kEnding:
      if (t - link.since > static_cast<uint64_t>(timing_.answerMs)) lost(link, t);
      break;
    case IdleLink::kIdling:
      if (link.eventPending) {
        checkOn(link);
      } else if (link.since == 0 || t - link.since >= static_cast<uint64_t>(timing_.renewMs)) {
        link.since = t;
        if (link.sendRaw("DONE\r\n")) link.state = IdleLink::kEnding;
        else lost(link, t);
      }
      break;
    case IdleLink::kChecking: break;
  }
}

void IdleWatch::read(IdleLink& link, uint64_t t) {
  bool ok = link.pump([&](const std::string& line) {
    platform::tracef("IDLE: %s\n", line.c_str());
    switch (classifyIdleLine(line, link.tag)) {
      case IdleLine::kContinuation:
        if (link.state == IdleLink::kStarting) {
          link.state = IdleLink::kIdling;
          link.since = t;
        }
        break;
      case IdleLine::kEvent:
        link.eventPending = true;
        break;
      case IdleLine::kBye:
        if (byeSaysTokenExpired(line)) link.tokenExpired = true;
        break;
      case IdleLine::kTaggedOk:
        if (link.state == IdleLink::kEnding) startIdle(link, t);
        break;
      case IdleLine::kTaggedRefused: link.close(); break;
      case IdleLine::kOther: break;
    }
  });
  if (!ok) lost(link, t);
}

void IdleWatch::waitForInput() {
  std::vector<SOCKET> sockets;
  std::vector<IdleLink*> whose;
  for (auto& l : links_) {
    if (!l->open() || l->state == IdleLink::kChecking) continue;
    sockets.push_back(l->conn->sock);
    whose.push_back(l.get());
  }
  // TLS may hold a whole record already read from the socket.
  for (IdleLink* l : whose)
    if (l->buffered()) return read(*l, now());
  if (sockets.empty()) {
    pauseCheck(kel_, timing_.sliceMs);
    return;
  }
  std::unique_ptr<bool[]> ready(new bool[sockets.size()]());
  int n = platform::waitAnyReadable(sockets.data(), static_cast<int>(sockets.size()), ready.get(), timing_.sliceMs);
  if (n < 0) {
    pauseCheck(kel_, timing_.sliceMs);
    return;
  }
  for (size_t i = 0; i < whose.size(); ++i)
    if (ready[i]) read(*whose[i], now());
}

void IdleWatch::startConnect(IdleLink& link, uint64_t t) {
  size_t i = 0;
  while (links_[i].get() != &link) ++i;
  auto c = std::make_unique<Connect>();
  {
    Guard g(kel_.checkLock);
    int slot = accountSlot(kel_, link.accountId);
    if (slot < 0) return;
    c->task = std::make_shared<SessionTask>(kel_, slot);
  }
  c->task->quiet = true;
  c->task->keepForIdle = true;
  c->ended = std::make_shared<std::atomic<bool>>(false);
  c->progressAt = t;
  platform::trace("IDLE: 接続し直します。\n");
  try {
    auto task = c->task;
    auto ended = c->ended;
    c->worker = std::thread([task, ended] {
      runSession(*task);
      endNetworkThread();
      *ended = true;
    });
  } catch (const std::system_error&) {
    link.retryAt = t + static_cast<uint64_t>(timing_.retryMs[std::min(link.retryStep, 5)]);
    return;
  }
  link.state = IdleLink::kConnecting;
  connects_[i] = std::move(c);
}

// A connect that stays silent as long as a check would is given up; its
// waits end within a slice, and it is joined once it has ended.
void IdleWatch::watchConnect(IdleLink& link, uint64_t t) {
  size_t i = 0;
  while (links_[i].get() != &link) ++i;
  Connect& c = *connects_[i];
  if (!*c.ended) {
    uint32_t got = c.task->watch.received.load();
    if (got != c.seen) {
      c.seen = got;
      c.progressAt = t;
    } else if (t - c.progressAt > static_cast<uint64_t>(timing_.answerMs)) {
      c.task->giveUp();
    }
    return;
  }
  c.worker.join();
  std::shared_ptr<SessionTask> task = c.task;
  connects_[i].reset();
  if (task->keptOpen && !task->abandoned) {
    auto conn = std::make_unique<Connection>();
    moveConnection(task->connection, *conn);
    link.attach(std::move(conn));
    link.uidValidity = task->uidValidity;
    link.uidplus = task->uidplus;
    link.retryStep = 0;
    link.eventPending = true;  // what came while it was away
    startIdle(link, t);
    return;
  }
  link.state = IdleLink::kWaiting;
  link.retryStep = std::min(link.retryStep + 1, 5);
  link.retryAt = t + static_cast<uint64_t>(timing_.retryMs[link.retryStep]);
}

// The check of one account on this link's connection: it ends the IDLE
// with DONE and gives the connection back in INBOX for the next IDLE.
void IdleWatch::checkOn(IdleLink& link) {
  int32_t prior;
  if (!claimChecks(kel_, &prior)) return;  // a check runs: this one comes after it
  link.eventPending = false;
  link.movedOut = false;
  link.state = IdleLink::kChecking;
  {
    Guard g(kel_.checkLock);
    lent = &link;
  }
  platform::trace("IDLE: 新着を確認します。\n");
  ++checks;
  checkOneAccount(kel_, link.accountId, fx_, check_);
  {
    Guard g(kel_.checkLock);
    lent = nullptr;
  }
  kel_.checkState = prior;
  uint64_t t = now();
  if (!link.movedOut) {  // no session took it: the IDLE goes on
    link.state = link.open() ? IdleLink::kIdling : IdleLink::kWaiting;
    if (!link.open()) lost(link, t);
  } else if (link.open()) {
    startIdle(link, t);
  } else {
    lost(link, t);
  }
}

void IdleWatch::shutdown() {
  for (size_t i = 0; i < links_.size(); ++i) {
    if (connects_[i]) {
      connects_[i]->task->giveUp();
      connects_[i]->worker.join();
    }
    links_[i]->logoutNow();
  }
  links_.clear();
  connects_.clear();
}

