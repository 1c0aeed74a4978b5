// IMAP checks against a scripted server, for what Dovecot does not do: no
// UIDPLUS, literals that lie, endless lines, BAD to everything, a
// UIDVALIDITY that changes, refusals with and without RFC 5530 codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "mailcheck/pop3/pop3_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"

namespace {

// An INBOX of messages by UID. Every command is recorded; twist sees each
// first and may answer it itself (returns true).
struct ImapInbox {
  std::string greeting = "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR UIDPLUS] ready\r\n";
  uint32_t uidValidity = 7;
  std::map<uint32_t, std::pair<std::string, std::string>> messages;  // from, subject
  std::function<bool(ScriptConnection&, const std::string& tag, const std::string& command)> twist;
  std::mutex lock;
  std::vector<std::string> commands;
  std::unique_ptr<ScriptServer> server;  // last: it serves from the members above

  void serve(ScriptConnection& c) {
    c.send(greeting);
    for (;;) {
      std::string line = c.readLine();
      if (line.empty()) return;
      std::string tag = line.substr(0, line.find(' '));
      std::string command = line.substr(tag.size() + 1);
      {
        std::lock_guard<std::mutex> g(lock);
        commands.push_back(command);
      }
      if (twist && twist(c, tag, command)) continue;
      std::lock_guard<std::mutex> g(lock);
      if (command.rfind("SELECT", 0) == 0) {
        c.send("* " + std::to_string(messages.size()) + " EXISTS\r\n* OK [UIDVALIDITY " +
               std::to_string(uidValidity) + "] ok\r\n");
      } else if (command.rfind("UID SEARCH", 0) == 0) {
        std::string s = "* SEARCH";
        for (auto& m : messages) s += " " + std::to_string(m.first);
        c.send(s + "\r\n");
      } else if (command.rfind("UID FETCH ", 0) == 0) {
        std::stringstream set(command.substr(10, command.find(' ', 10) - 10));
        std::string uid;
        while (std::getline(set, uid, ',')) {
          auto& m = messages[static_cast<uint32_t>(std::stoul(uid))];
          std::string h = "From: " + m.first + "\r\nSubject: " + m.second + "\r\n\r\n";
          c.send("* 1 FETCH (UID " + uid + " BODY[HEADER.FIELDS (FROM SUBJECT TO)] {" + std::to_string(h.size()) +
                 "}\r\n" + h + ")\r\n");
        }
      } else if (command.rfind("UID EXPUNGE ", 0) == 0) {
        messages.erase(static_cast<uint32_t>(std::stoul(command.substr(12))));
      } else if (command == "LOGOUT") {
        c.send("* BYE bye\r\n" + tag + " OK done\r\n");
        return;
      }
      c.send(tag + " OK done\r\n");
    }
  }
};

struct Outcome {
  int rc;
  int code;
  int count;
  std::string reason;
  std::vector<std::string> commands;
  std::vector<std::string> trace;
};

Outcome check(ImapInbox& inbox, Kel* kel = nullptr) {
  if (!inbox.server) inbox.server = std::make_unique<ScriptServer>([&](ScriptConnection& c) { inbox.serve(c); });
  const int port = inbox.server->port();
  KelPtr own;
  if (!kel) {
    own = kelWithAccount("127.0.0.1", port, "user", "secret");
    kel = own.get();
  }
  kel->accounts[0].protocol = kProtocolImap;
  kel->accounts[0].port = static_cast<uint16_t>(port);
  {
    std::lock_guard<std::mutex> g(inbox.lock);
    inbox.commands.clear();
  }
  TraceCapture trace;
  int rc = checkAccount(*kel);
  std::lock_guard<std::mutex> g(inbox.lock);
  const CheckResult& r = kel->results[0];
  return {rc, r.errorCode, r.count, r.reason, inbox.commands, trace.lines()};
}

bool sent(const Outcome& o, const std::string& start) {
  return std::any_of(o.commands.begin(), o.commands.end(), [&](const std::string& c) { return c.rfind(start, 0) == 0; });
}

}  // namespace

// Without UIDPLUS nothing is expunged: the matched message is marked and
// no longer counted, and the status dialog's list says it was only marked.
TEST(ImapScript, WithoutUidplusOnlyMarked) {
  ImapInbox inbox;
  inbox.greeting = "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n";
  inbox.messages = {{3, {"a@example.jp", "one"}}, {9, {"spam@example.com", "buy"}}};
  auto kel = kelWithAccount("127.0.0.1", 1, "user", "secret");
  addRule(kel->deleteList, "spam@example.com", kSenderAddressEquals);
  Outcome o = check(inbox, kel.get());
  EXPECT_EQ(0, o.rc) << o.reason;
  EXPECT_EQ(1, o.count);
  EXPECT_TRUE(sent(o, "UID STORE 9 +FLAGS.SILENT (\\Deleted)"));
  EXPECT_FALSE(sent(o, "UID EXPUNGE"));
  EXPECT_FALSE(sent(o, "EXPUNGE"));
  EXPECT_TRUE(sent(o, "CAPABILITY"));  // asked after login, before deciding
  EXPECT_TRUE(kel->recentDeletedMarkOnly[0]);
  EXPECT_EQ("buy", lineSubject(kel->recentDeleted[0]));
}

// Each fault ends the check with the code and reason a POP3 check would
// give for the like, and nothing held past the reader's limits. A row's
// reply goes to each command starting with `on` ("" for any, null for
// none; "<tag>" is that command's tag), and the server hangs up when `hangUp`.
TEST(ImapScript, FaultsGiveTheirCodes) {
  const std::string header = "* 1 FETCH (UID 1 BODY[HEADER.FIELDS (FROM SUBJECT TO)] {5000}\r\nFrom: a@b\r\n";
  const struct {
    const char* name;
    std::string greeting;
    const char* on;
    std::string reply;
    bool hangUp;
    int code;
    const char* reason;  // found in the account's reason
  } cases[] = {
      {"literal shorter than it says", "", "UID FETCH", header, true, 6, ""},
      {"literal of absurd size", "", "UID SEARCH", "* SEARCH {99999999999999}\r\n", false, 7, "読めません"},
      {"endless line", "", "SELECT", "* OK " + std::string(3 * 65536, 'x'), false, 7, "長すぎます"},
      {"BAD to everything", "", "", "<tag> BAD what\r\n", false, 7, "BAD what"},
      {"login refused", "", "AUTHENTICATE", "<tag> NO [AUTHENTICATIONFAILED] no\r\n", false, 8, "[AUTHENTICATIONFAILED] no"},
      {"login not judged", "", "AUTHENTICATE", "<tag> NO [UNAVAILABLE] try later\r\n", false, 7, "[UNAVAILABLE] try later"},
      {"greeting BYE", "* BYE too many\r\n", nullptr, "", false, 7, "BYE"},
      {"login disabled in clear", "* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] hi\r\n", nullptr, "", false, 4, "LOGINDISABLED"},
      {"SEARCH refused", "", "UID SEARCH", "* 4 EXPUNGE\r\n<tag> NO [SERVERBUG] oops\r\n", false, 7, "oops"},
  };
  for (const auto& k : cases) {
    ImapInbox inbox;
    if (!k.greeting.empty()) inbox.greeting = k.greeting;
    inbox.messages = {{1, {"a@example.jp", "one"}}};
    if (k.on) inbox.twist = [&k](ScriptConnection& c, const std::string& tag, const std::string& cmd) {
      if (cmd.rfind(k.on, 0) != 0) return false;
      std::string reply = k.reply;
      size_t at = reply.find("<tag>");
      c.send(at == std::string::npos ? reply : reply.replace(at, 5, tag));
      if (k.hangUp) c.close();
      return true;
    };
    Outcome o = check(inbox);
    EXPECT_EQ(1, o.rc) << k.name;
    EXPECT_EQ(k.code, o.code) << k.name;
    EXPECT_NE(std::string::npos, o.reason.find(k.reason)) << k.name << ": " << o.reason;
    EXPECT_NE(o.trace.end(), std::find(o.trace.begin(), o.trace.end(), "エラ～発生！\n")) << k.name;
  }
}

// A new UIDVALIDITY names every message afresh: all are read again, and
// the old entries leave the cache. Replies in any order, with data the
// server adds of its own, change nothing.
TEST(ImapScript, UidValidityChangeAndRepliesInAnyOrder) {
  ImapInbox inbox;
  inbox.messages = {{1, {"a@example.jp", "one"}}, {2, {"b@example.jp", "two"}}};
  inbox.twist = [](ScriptConnection& c, const std::string& tag, const std::string& cmd) {
    if (cmd.rfind("UID FETCH", 0) != 0 || cmd.find("1,2") == std::string::npos) return false;
    c.send("* 2 FETCH (FLAGS (\\Recent) UID 2 BODY[HEADER.FIELDS (FROM SUBJECT TO)] \"Subject: two\")\r\n"
           "* 9 EXISTS\r\n* 1 FETCH (FLAGS (\\Seen))\r\n"
           "* 1 FETCH (BODY[HEADER.FIELDS (FROM SUBJECT TO)] {36}\r\nFrom: a@example.jp\r\nSubject: one\r\n\r\n UID 1)\r\n" +
           tag + " OK done\r\n");
    return true;
  };
  auto kel = kelWithAccount("127.0.0.1", 1, "user", "secret");
  Outcome first = check(inbox, kel.get());
  EXPECT_EQ(0, first.rc) << first.reason;
  EXPECT_EQ(2, first.count);
  EXPECT_EQ("one", lineSubject(kel->results[0].lines[0]));
  EXPECT_EQ("two", lineSubject(kel->results[0].lines[1]));
  Outcome same = check(inbox, kel.get());
  EXPECT_FALSE(sent(same, "UID FETCH"));
  inbox.uidValidity = 8;
  Outcome renamed = check(inbox, kel.get());
  EXPECT_TRUE(sent(renamed, "UID FETCH 1,2 "));
  EXPECT_EQ(2, renamed.count);
  EXPECT_EQ(2u, kel->headerCache.entries(mailboxOf(kel->accounts[0])));
}
