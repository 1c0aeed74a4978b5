// TOP and DELE for every message of the maildrop: one command at a time,
// or a window of commands ahead of their replies when the server lists
// PIPELINING.
#include <cstring>
#include <deque>

#include "mailcheck/filter.h"
#include "mailcheck/pop3_conversation.h"
#include "mailcheck/top_reply.h"
#include "mailcheck/transport.h"

// A message of the listing, between its TOP and the application of its
// effects, which happens strictly in the order of the messages.
struct Pop3Conversation::Fetched {
  enum Dele { kNone, kWaiting, kRefused, kDone };
  bool replied = false;  // the TOP reply has been taken
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
  inFlight.push_back({false, n});
  return true;
}

// A reply to TOP, read to its end however long it is; only what the
// header scan reads is kept for the judgement.
bool Pop3Conversation::readTop(Fetched& m) {
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
  return publish([&] { m.judgement = judgeMessage(decoded, t_.kel); });
}

// TOP for every message, and DELE for those the delete list matches. With
// PIPELINING the commands go ahead of their replies in a bounded window;
// the replies are taken in order, and each message's effects are applied
// only once every command before it in the one-at-a-time exchange has had
// its reply, so that a refusal leaves exactly what that exchange would.
bool Pop3Conversation::fetchAll(int total) {
  const size_t window = pipelining_ && t_.maxInFlight > 1 ? static_cast<size_t>(t_.maxInFlight) : 1;
  std::deque<InFlight> inFlight;
  std::deque<Fetched> pending;  // messages applied + 1 onwards
  int nextTop = 1;
  int applied = 0;
  int listed = 0;
  bool refusalSeen = false;  // no new commands once a TOP was refused

  while (applied < total) {
    while (!refusalSeen && nextTop <= total && inFlight.size() < window) {
      if (!sendTop(nextTop, inFlight)) return false;
      pending.emplace_back();
      ++nextTop;
    }
    if (inFlight.empty()) return false;  // nothing to wait for: cannot happen
    InFlight command = inFlight.front();
    inFlight.pop_front();
    Fetched& m = pending[static_cast<size_t>(command.n - applied - 1)];
    if (command.dele) {
      if (!readReply()) return false;
      m.dele = replyClass() == kPositive ? Fetched::kDone : Fetched::kRefused;
      if (m.dele == Fetched::kRefused) replyReason(buf_, static_cast<size_t>(length_), m.refusal);
    } else {
      if (!readTop(m)) return false;
      if (m.refused) refusalSeen = true;
      if (!refusalSeen && m.judgement.list == 1) {
        if (!sendCommand("DELE %d\r\n", command.n)) return false;
        inFlight.push_back({true, command.n});
        m.dele = Fetched::kWaiting;
      }
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
      if (next.dele == Fetched::kWaiting) break;
      if (next.dele == Fetched::kRefused) return refusedReply(&next.refusal);
      if (next.dele == Fetched::kDone) publish([&] { --result().count; });
      pending.pop_front();
      ++applied;
    }
  }
  clearLines(listed);
  return true;
}

