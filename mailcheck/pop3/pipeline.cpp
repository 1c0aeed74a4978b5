// TOP and DELE for every message of the maildrop: one command at a time,
// or a window of commands ahead of their replies when the server lists
// PIPELINING.
#include <cstring>
#include <deque>

#include "mailcheck/filter.h"
#include "mailcheck/pop3/pop3_conversation.h"
#include "mailcheck/top_reply.h"
#include "mailcheck/transport.h"

// A message of the listing, between its TOP and the application of its
// effects, which happens strictly in the order of the messages.
struct Pop3Conversation::Fetched {
  enum Dele { kNone, kWanted, kWaiting, kRefused, kDone };
  bool known = false;    // the cache has its headers: no TOP
  bool replied = false;  // the TOP reply has been taken, or the known headers judged
  bool refused = false;  // ... and it was not positive
  bool judged = false;   // its line and counts have been applied
  Judgement judgement{};
  Dele dele = kNone;
  Reason refusal = "";  // the refused reply, kept as read: later replies reuse the buffer
};

// A command whose reply is still to be read.
struct Pop3Conversation::InFlight {
  bool dele;
  int n;
};

bool Pop3Conversation::sendTop(int n, std::deque<InFlight>& inFlight) {
  if (!sendCommand("TOP %d 4\r\n", n)) return false;
  ++t_.topsSent;
  inFlight.push_back({false, n});
  return true;
}

// A reply to TOP, read to its end however long it is; only what the
// header scan reads is kept for the judgement.
bool Pop3Conversation::readTop(Fetched& m, int n) {
  Connection& c = t_.connection;
  int first = readLine(c, buf_);
  if (first < 0) return receiveFailed(kErrorReceiveFailed);
  buf_[first] = '\0';
  m.replied = true;
  if (strncmp(buf_, "+OK", 3) != 0) {  // not traced, not classed
    m.refused = true;
    replyReason(buf_, static_cast<size_t>(first), m.refusal);
    return true;
  }
  TopReplyReader reply;
  reply.start(buf_, static_cast<size_t>(first));
  for (;;) {
    if (c.inStart < c.inEnd)
      c.inStart += static_cast<int>(reply.feed(c.inbox + c.inStart, static_cast<size_t>(c.inEnd - c.inStart)));
    if (reply.complete()) break;
    if (receiveMore(c) < 0) return receiveFailed(kErrorReceiveFailed);
  }
  DecodedMessage decoded;  // from the reply alone: no lock for the decoding
  decodeMessage(reply.text(), decoded);
  return publish([&] {
    m.judgement = judgeMessage(decoded, t_.kel);
    if (withIds_ && mailboxConfigured(t_.kel.accounts, box_))
      t_.kel.headerCache.store(box_, ids_[static_cast<size_t>(n - 1)], decoded.headers);
  });
}

// A message the cache knows, judged when its turn comes with the rules as
// they are then; its DELE, if any, waits for room in the window.
bool Pop3Conversation::judgeKnown(Fetched& m, int n, bool mayDelete) {
  DecodedMessage decoded;
  unpackHeaders(*known_[static_cast<size_t>(n - 1)], decoded.headers);
  decoded.line = shownLine(decoded.headers);
  if (!publish([&] { m.judgement = judgeMessage(decoded, t_.kel); })) return false;
  m.replied = true;
  if (mayDelete && m.judgement.list == 1) m.dele = Fetched::kWanted;
  return true;
}

// TOP for every message the cache does not know, and DELE for those the
// delete list matches. With PIPELINING the commands go ahead of their
// replies, TOP and DELE alike never more than the window, and no more than
// a window's worth of messages wait for their effects; the replies are
// taken in order, and each message's effects are applied only once every
// command before it in the one-at-a-time exchange has had its reply, so
// that a refusal leaves exactly what that exchange would. A known message
// is judged once every message before it has been (so all are judged in
// order); without PIPELINING also only when no command awaits its reply.
bool Pop3Conversation::fetchAll(int total) {
  const size_t window = caps_.pipelining && t_.maxInFlight > 1 ? static_cast<size_t>(t_.maxInFlight) : 1;
  auto isKnown = [&](int n) { return withIds_ && known_[static_cast<size_t>(n - 1)] != nullptr; };
  std::deque<InFlight> inFlight;
  std::deque<Fetched> pending;  // messages applied + 1 onwards
  std::deque<int> toDelete;     // DELEs decided, waiting for room in the window
  int nextTop = 1;   // the next message to send TOP for or to take from the cache
  int reached = 0;   // messages 1 to reached have been judged
  int applied = 0;
  int listed = 0;
  bool refusalSeen = false;  // no new commands once a TOP was refused
  auto at = [&](int n) -> Fetched& { return pending[static_cast<size_t>(n - applied - 1)]; };
  auto wantDele = [&](Fetched& m, int n) {
    if (m.dele == Fetched::kWanted) toDelete.push_back(n);
  };

  for (;;) {
    const int appliedBefore = applied, nextBefore = nextTop;
    for (;;) {
      while (reached < nextTop - 1) {
        Fetched& m = at(reached + 1);
        if (m.refused) break;
        if (!m.replied) {
          if (!m.known || (window == 1 && !inFlight.empty())) break;
          if (!judgeKnown(m, reached + 1, !refusalSeen)) return false;
          wantDele(m, reached + 1);
        }
        ++reached;
      }
      // DELEs decided before a refusal still go: the exchange reached them.
      while (!toDelete.empty() && inFlight.size() < window) {
        int n = toDelete.front();
        if (!sendCommand("DELE %d\r\n", n)) return false;
        toDelete.pop_front();
        inFlight.push_back({true, n});
        at(n).dele = Fetched::kWaiting;
      }
      if (refusalSeen || nextTop > total || !toDelete.empty() || pending.size() >= window) break;
      bool known = isKnown(nextTop);
      if (known ? window == 1 && (reached < nextTop - 1 || !inFlight.empty()) : inFlight.size() >= window) break;
      pending.emplace_back();
      pending.back().known = known;
      if (!known && !sendTop(nextTop, inFlight)) return false;
      ++nextTop;
    }

    // Apply what the one-at-a-time exchange would have reached by now.
    while (!pending.empty() && pending.front().replied) {
      Fetched& next = pending.front();
      if (next.refused) return refusedReply(&next.refusal);
      if (!next.judged) {
        MessageVerdict verdict = kVerdictKept;
        if (!publish([&] { verdict = applyJudgement(next.judgement, t_.kel, slot_, listed); })) return false;
        if (verdict == kVerdictKept) ++listed;
        if (verdict == kVerdictIgnore) publish([&] {
            --result().count;
            ++result().ignoredCount;
          });
        next.judged = true;
      }
      if (next.dele == Fetched::kWanted || next.dele == Fetched::kWaiting) break;
      if (next.dele == Fetched::kRefused) return refusedReply(&next.refusal);
      if (next.dele == Fetched::kDone) publish([&] { --result().count; });
      pending.pop_front();
      ++applied;
    }
    if (applied >= total) break;

    if (inFlight.empty()) {
      if (applied != appliedBefore || nextTop != nextBefore) continue;  // room made: more to send or judge
      return false;  // nothing to wait for: cannot happen
    }
    InFlight command = inFlight.front();
    inFlight.pop_front();
    Fetched& m = at(command.n);
    if (command.dele) {
      if (!readReply()) return false;
      m.dele = replyClass() == kPositive ? Fetched::kDone : Fetched::kRefused;
      if (m.dele == Fetched::kRefused) replyReason(buf_, static_cast<size_t>(length_), m.refusal);
    } else {
      if (!readTop(m, command.n)) return false;
      if (m.refused) refusalSeen = true;
      if (!refusalSeen && m.judgement.list == 1) {
        m.dele = Fetched::kWanted;
        wantDele(m, command.n);
      }
    }
  }
  clearLines(listed);
  return true;
}
