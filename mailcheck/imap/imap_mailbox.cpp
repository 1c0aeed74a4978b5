// An IMAP check's INBOX: the unseen, undeleted messages counted, their
// headers read once each (BODY.PEEK leaves them unseen), every one judged
// with the rules as they stand, and what the delete list matches marked
// \Deleted and expunged by its own UID when the server allows that.
#include <algorithm>
#include <cstdio>
#include <string>

#include "mailcheck/filter.h"
#include "mailcheck/header_cache.h"
#include "mailcheck/imap/imap_conversation.h"
#include "mailcheck/imap/imap_session.h"
#include "mailcheck/top_reply.h"
#include "platform/trace.h"

namespace {

constexpr size_t kUidsPerCommand = 200;  // keeps a command line short

// The header literal read as the tail of a TOP reply would be: the same
// reader keeps the same bounded part of it.
class HeaderKeeper : public LiteralKeeper {
 public:
  void begin(uint64_t) override {
    reader_ = TopReplyReader();
    reader_.start("+OK\r\n", 5);
    lineStart_ = true;
    last_ = '\n';
  }
  void take(const char* bytes, size_t n) override {
    for (size_t i = 0; i < n && !reader_.complete(); ++i) {
      // A line that begins with "." would end a TOP reply: stuffed, as a
      // POP3 server would send it.
      if (lineStart_ && bytes[i] == '.') reader_.feed(".", 1);
      reader_.feed(bytes + i, 1);
      lineStart_ = bytes[i] == '\n';
      last_ = bytes[i];
    }
  }
  std::string end() override {
    if (last_ != '\n') reader_.feed("\r\n", 2);
    reader_.feed("\r\n.\r\n", 5);
    return reader_.complete() ? std::string(reader_.text()) : std::string("+OK\r\n\r\n.\r\n");
  }

 private:
  TopReplyReader reader_;
  bool lineStart_ = true;
  char last_ = '\n';
};

std::string uidSet(const std::vector<uint32_t>& uids, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to; ++i) {
    if (!s.empty()) s += ',';
    s += std::to_string(uids[i]);
  }
  return s;
}

}  // namespace

bool ImapConversation::select() {
  uidValidity_ = 0;
  if (!command("SELECT INBOX")) return false;
  return expectOk(await());
}

bool ImapConversation::search() {
  uids_.clear();
  t_.mailboxChanged = false;  // what changes from here on is checked again
  if (!command("UID SEARCH UNSEEN UNDELETED")) return false;
  Tagged r = await([&](const ImapResponse& data) {
    if (!imapSameWord(data.data[0].text, "SEARCH")) return;
    for (size_t i = 1; i < data.data.size(); ++i) {
      uint32_t uid;
      if (imapNumber(data.data[i], &uid) && uid != 0) uids_.push_back(uid);
    }
  });
  if (!expectOk(r)) return false;
  std::sort(uids_.begin(), uids_.end());
  uids_.erase(std::unique(uids_.begin(), uids_.end()), uids_.end());
  int total = static_cast<int>(uids_.size());
  publish([&] { result().count = total; });
  return true;
}

// Ids "UIDVALIDITY.UID": a new validity names every message afresh, and
// the cache drops what the mailbox no longer names.
bool ImapConversation::learnKnown() {
  messages_.assign(uids_.size(), Message{});
  ids_.clear();
  known_.assign(uids_.size(), nullptr);
  int toRead = static_cast<int>(uids_.size());
  if (uidValidity_ != 0) {
    for (uint32_t uid : uids_) ids_.push_back(std::to_string(uidValidity_) + "." + std::to_string(uid));
    if (!lookUpKnown(toRead)) return false;
    for (size_t i = 0; i < ids_.size(); ++i) messages_[i].known = known_[i] != nullptr;
  }
  platform::tracef("UID %d件、FETCH %d件\n", static_cast<int>(uids_.size()), toRead);
  return true;
}

bool ImapConversation::fetchHeaders() {
  std::vector<uint32_t> wanted;
  for (size_t i = 0; i < uids_.size(); ++i)
    if (!messages_[i].known) wanted.push_back(uids_[i]);
  for (size_t from = 0; from < wanted.size(); from += kUidsPerCommand)
    if (!fetchChunk(wanted, from, std::min(wanted.size(), from + kUidsPerCommand))) return false;
  return true;
}

// Each FETCH reply names its UID; replies come in any order, and ones the
// server adds of its own accord (flags) carry no header section.
bool ImapConversation::fetchChunk(const std::vector<uint32_t>& uids, size_t from, size_t to) {
  std::string set = uidSet(uids, from, to);
  if (!command("UID FETCH " + set + " (UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT TO)])")) return false;
  t_.topsSent += static_cast<int>(to - from);
  HeaderKeeper keeper;
  bool stored = true;
  Tagged r = await(
      [&](const ImapResponse& data) {
        const std::vector<ImapToken>& d = data.data;
        if (d.size() < 3 || !imapSameWord(d[1].text, "FETCH")) return;
        uint32_t uid = 0;
        const std::string* headers = nullptr;
        for (size_t i = 2; i + 1 < d.size(); ++i) {
          if (d[i].kind != ImapToken::kAtom) continue;
          if (imapSameWord(d[i].text, "UID")) imapNumber(d[i + 1], &uid);
          if (d[i].text.size() > 5 && imapSameWord(d[i].text.substr(0, 5), "BODY[") &&
              d[i + 1].kind == ImapToken::kString)
            headers = &d[i + 1].text;
        }
        auto at = std::lower_bound(uids_.begin(), uids_.end(), uid);
        if (!headers || at == uids_.end() || *at != uid) return;
        size_t n = static_cast<size_t>(at - uids_.begin());
        Message& m = messages_[n];
        if (m.known || m.fetched) return;
        DecodedMessage decoded;  // outside the lock
        decodeMessage(headers->c_str(), decoded);
        stored = publish([&] {
          m.judgement = judgeMessage(decoded, t_.kel);
          if (!ids_.empty() && mailboxConfigured(t_.kel.accounts, box_))
            t_.kel.headerCache.store(box_, ids_[n], decoded.headers);
        }) && stored;
        m.fetched = true;
      },
      false, &keeper);
  return expectOk(r) && stored;
}

// In UID order, as POP3 goes by message number. A message that went away
// between the SEARCH and its FETCH is no longer counted.
bool ImapConversation::judgeAll() {
  int listed = 0;
  toDelete_.clear();
  for (size_t i = 0; i < uids_.size(); ++i) {
    Message& m = messages_[i];
    bool ok = true;
    if (m.known) {
      DecodedMessage decoded;
      unpackHeaders(*known_[i], decoded.headers);
      decoded.line = shownLine(decoded.headers);
      ok = publish([&] { m.judgement = judgeMessage(decoded, t_.kel); });
    } else if (!m.fetched) {
      ok = publish([&] { --result().count; });
      if (!ok) return false;
      continue;
    }
    MessageVerdict verdict = kVerdictKept;
    ok = ok && publish([&] {
      verdict = applyJudgement(m.judgement, t_.kel, slot_, listed);
      if (verdict == kVerdictIgnore) {
        --result().count;
        ++result().ignoredCount;
      }
    });
    if (!ok) return false;
    if (verdict == kVerdictKept) ++listed;
    if (verdict == kVerdictDelete) toDelete_.push_back(uids_[i]);
  }
  clearLines(listed);
  return true;
}

// \Deleted hides a message from every count of unseen, undeleted mail.
// Without UIDPLUS no EXPUNGE is sent: it would remove what other clients
// have marked too.
bool ImapConversation::removeDeleted() {
  if (toDelete_.empty()) return true;
  if (!caps_.known && !askCapabilities()) return false;
  for (size_t from = 0; from < toDelete_.size(); from += kUidsPerCommand) {
    size_t to = std::min(toDelete_.size(), from + kUidsPerCommand);
    std::string set = uidSet(toDelete_, from, to);
    if (!command("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)") || !expectOk(await())) return false;
    int n = static_cast<int>(to - from);
    if (!publish([&] { result().count -= n; })) return false;
    if (caps_.uidplus) {
      if (!command("UID EXPUNGE " + set) || !expectOk(await())) return false;
    } else {
      platform::tracef("UIDPLUSがないため、%d通に削除の印だけを付けました。\n", n);
    }
  }
  // This session's deletions are the newest of the list.
  if (!caps_.uidplus) publish([&] {
      for (size_t i = 0; i < toDelete_.size() && i < kRecentDeleted; ++i) t_.kel.recentDeletedMarkOnly[i] = true;
    });
  return true;
}

bool ImapConversation::logout() {
  if (!command("LOGOUT")) return false;
  Tagged r = await();
  if (r == kFailed && !bye_.empty()) r = kOk;  // gone after its BYE, as it should
  if (r == kFailed) return false;
  setState(kSessionClosing);
  closeConnection(t_.connection);
  setState(kSessionDone);
  return true;
}

int ImapConversation::converse() {
  if (t_.abandoned) return fail();
  setState(kSessionConnected);
  for (;;) {
    if (!greeting()) return fail();
    if (preauth_) break;  // no login, so nothing to protect
    if (!caps_.known && !askCapabilities()) return fail();
    Link link = t_.account.ssl ? kLinkReady : secureLink();
    if (link == kLinkFailed) return fail();
    if (link == kLinkReady) break;
    if (!reconnectInClear()) return fail();
  }
  if (!login() || !select()) return fail();
  if (t_.quiet) return keepOpen() ? 0 : fail();
  if (!search() || !learnKnown() || !fetchHeaders() || !judgeAll() || !removeDeleted()) return fail();
  if (t_.keepForIdle && keepOpen()) return 0;
  if (!logout()) return fail();
  return t_.abandoned ? 1 : 0;
}

// The server's reply to DONE ends the IDLE (RFC 2177); what it announced
// meanwhile is read past, the search finds it.
int ImapConversation::resume() {
  startResults();
  setState(kSessionConnected);
  snprintf(tag_, sizeof tag_, "%s", t_.idleTag);
  uidValidity_ = t_.uidValidity;
  caps_.known = caps_.idle = true;
  caps_.uidplus = t_.uidplus;
  if (!send("DONE\r\n", "DONE\n") || !expectOk(await())) return fail();
  if (!search() || !learnKnown() || !fetchHeaders() || !judgeAll() || !removeDeleted()) return fail();
  if (keepOpen()) return 0;
  if (!logout()) return fail();
  return t_.abandoned ? 1 : 0;
}

// Logged in, INBOX selected, its server lists IDLE: the connection stays
// open for the IDLE watcher instead of LOGOUT.
bool ImapConversation::keepOpen() {
  if (t_.abandoned || (!caps_.known && !askCapabilities()) || !caps_.idle) return false;
  t_.uidValidity = uidValidity_;
  t_.uidplus = caps_.uidplus;
  setState(kSessionClosing);
  t_.keptOpen = true;
  setState(kSessionDone);
  return true;
}

int runImapSession(SessionTask& task) {
  ImapConversation session(task);
  return task.idleResume ? session.resume() : session.run();
}

int runImapSessionOnConnection(SessionTask& task) {
  ImapConversation session(task);
  return session.converse();
}
