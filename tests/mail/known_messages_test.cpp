// Checks with unique ids and the header cache against a scripted maildrop:
// through hundreds of random mailbox changes and rule edits a run that
// reads only new messages leaves what a run reading every message leaves;
// a listing that cannot be used reads every message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "mailcheck/pop3/pop3_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"

namespace {

struct Msg {
  std::string id, from, subject, to;
  bool operator==(const Msg& o) const { return id == o.id && from == o.from && subject == o.subject && to == o.to; }
};

// What the server does wrong with its listing in one session.
enum Quirk { kGood, kRefused, kLineMissing, kLineExtra, kNumberTwice, kIdTwice, kIdTooLong, kQuirks };

// Users "c..." have unique ids, users "p..." are refused UIDL: they read
// every message. Each user's maildrop is taken at PASS and changed at QUIT, as
// POP3 has it; a DELE of a message whose subject says "locked" is refused.
class ModelServer {
 public:
  ModelServer() : server_([this](ScriptConnection& c) { serve(c); }) {}
  int port() const { return server_.port(); }
  std::map<std::string, std::vector<Msg>> boxes;  // the test changes them between checks
  bool pipelining = true;
  Quirk quirk = kGood;
  std::mutex lock;

 private:
  void serve(ScriptConnection& c) {
    c.noDelay();
    c.send("+OK ready\r\n");
    std::string user;
    std::vector<Msg> drop;
    std::vector<bool> deleted;
    for (;;) {
      std::string line = c.readLine();
      if (line.empty()) return;
      std::lock_guard<std::mutex> g(lock);
      bool ids = !user.empty() && user[0] == 'c';
      if (line == "CAPA") {
        c.send(std::string("+OK\r\nTOP\r\n") + (pipelining ? "PIPELINING\r\n" : "") + "UIDL\r\n.\r\n");
      } else if (line.rfind("USER ", 0) == 0) {
        user = line.substr(5);
        c.send("+OK\r\n");
      } else if (line.rfind("PASS", 0) == 0) {
        drop = boxes[user];
        deleted.assign(drop.size(), false);
        c.send("+OK\r\n");
      } else if (line == "STAT") {
        c.send("+OK " + std::to_string(drop.size()) + " 1000\r\n");
      } else if (line == "UIDL") {
        if (!ids || quirk == kRefused) {
          c.send("-ERR not here\r\n");
          continue;
        }
        std::string out = "+OK\r\n";
        for (size_t i = 0; i < drop.size(); ++i) {
          std::string n = std::to_string(i + 1), id = drop[i].id;
          if (i == 0 && quirk == kLineMissing) continue;
          if (i == 0 && quirk == kNumberTwice) n = "2";
          if (i == 1 && quirk == kIdTwice) id = drop[0].id;
          if (i == 0 && quirk == kIdTooLong) id = std::string(71, 'x');
          out += n + " " + id + "\r\n";
        }
        if (quirk == kLineExtra) out += std::to_string(drop.size() + 1) + " extra\r\n";
        c.send(out + ".\r\n");
      } else if (line.rfind("TOP ", 0) == 0) {
        size_t n = static_cast<size_t>(atoi(line.c_str() + 4));
        if (n < 1 || n > drop.size()) {
          c.send("-ERR no such message\r\n");
          continue;
        }
        const Msg& m = drop[n - 1];
        c.send("+OK\r\nFrom: " + m.from + "\r\nSubject: " + m.subject + "\r\nTo: " + m.to + "\r\n\r\nbody\r\n.\r\n");
      } else if (line.rfind("DELE ", 0) == 0) {
        size_t n = static_cast<size_t>(atoi(line.c_str() + 5));
        bool locked = n >= 1 && n <= drop.size() && drop[n - 1].subject.find("locked") != std::string::npos;
        if (!locked && n >= 1 && n <= drop.size()) deleted[n - 1] = true;
        c.send(locked || n < 1 || n > drop.size() ? "-ERR locked\r\n" : "+OK\r\n");
      } else if (line == "QUIT") {
        std::vector<Msg> kept;  // nobody else changes it while a check runs
        for (size_t i = 0; i < drop.size(); ++i)
          if (!deleted[i]) kept.push_back(drop[i]);
        boxes[user] = kept;
        c.send("+OK bye\r\n");
        return;
      } else {
        c.send("-ERR\r\n");
      }
    }
  }
  ScriptServer server_;
};

struct Checker {
  KelPtr kel;
  int rc = 0;
  int tops = 0;
  void check() { rc = checkAccount(*kel, &tops); }
};

const char* const kFroms[] = {"a@example.jp", "Taro <taro@example.jp>", "spam@example.com",
                              "=?utf-8?B?5bGx55Sw?= <yamada@example.jp>", "news@example.org"};
const char* const kSubjects[] = {"hello", "sale now", "news of the week", "=?utf-8?Q?=E3=81=82?= re",
                                 "a subject much longer than thirty-two bytes, cut for display"};
const char* const kTos[] = {"me@example.jp", "list@example.org"};
const char* const kKeywords[] = {"spam", "sale", "news", "taro", "Taro", "example", "list", "locked", "\x82\xA0",
                                 "cut for display"};

void expectSameResults(Checker& a, Checker& b) {
  const CheckResult& x = a.kel->results[0];
  const CheckResult& y = b.kel->results[0];
  EXPECT_EQ(a.rc, b.rc);
  EXPECT_EQ(x.errorCode, y.errorCode);
  EXPECT_EQ(x.count, y.count);
  EXPECT_EQ(x.prevCount, y.prevCount);
  EXPECT_EQ(x.ignoredCount, y.ignoredCount);
  for (int i = 0; i < kMailLines; ++i) {
    EXPECT_EQ(lineSender(x.lines[i]), lineSender(y.lines[i])) << "line " << i;
    EXPECT_EQ(lineSubject(x.lines[i]), lineSubject(y.lines[i])) << "line " << i;
    EXPECT_EQ(x.lineState[i], y.lineState[i]) << "line " << i;
  }
  for (int i = 0; i < kRecentDeleted; ++i) {
    EXPECT_EQ(lineSender(a.kel->recentDeleted[i]), lineSender(b.kel->recentDeleted[i])) << "deleted " << i;
    EXPECT_EQ(lineSubject(a.kel->recentDeleted[i]), lineSubject(b.kel->recentDeleted[i])) << "deleted " << i;
  }
}

void editRules(Kel& kel, std::mt19937& rng, bool toDelete, int kind, size_t keyword, bool remove) {
  FilterRule* (&list)[kRuleSlots] = toDelete ? kel.deleteList : kel.ignoreList;
  std::lock_guard<std::mutex> g(kel.checkLock);
  int used = 0;
  while (used < kRuleSlots && list[used]) ++used;
  if ((remove || used >= 4) && used > 0) {  // a few rules at a time
    int s = static_cast<int>(rng() % static_cast<unsigned>(used));
    delete list[s];
    for (; s + 1 < kRuleSlots && list[s + 1]; ++s) list[s] = list[s + 1];
    list[s] = nullptr;
  } else if (!remove && used < kRuleSlots) {
    list[used] = new FilterRule{};
    snprintf(list[used]->keyword, sizeof list[used]->keyword, "%s", kKeywords[keyword]);
    list[used]->kind = static_cast<int8_t>(kind);
  }
}

}  // namespace

// The model: two mailboxes per run ("A" and "B", whose ids overlap), changed
// alike for both runs; the cached run's account moves between them now and
// then, as the user may edit it.
TEST(KnownMessages, ARunWithTheCacheLeavesWhatReadingEveryMessageLeaves) {
  ModelServer server;
  Checker cached{kelWithAccount("127.0.0.1", server.port(), "cA", "pw")};
  Checker plain{kelWithAccount("127.0.0.1", server.port(), "pA", "pw")};
  std::mt19937 rng(20261210);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  std::map<char, int> nextId = {{'A', 1}, {'B', 1}};
  char mailbox = 'A';
  int cachedTops = 0, plainTops = 0, failures = 0, sharedIds = 0;

  for (int step = 0; step < 300 && !HasFailure(); ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    {
      std::lock_guard<std::mutex> g(server.lock);
      for (char box : {'A', 'B'}) {
        std::vector<Msg>& c = server.boxes[std::string("c") + box];
        std::vector<Msg>& p = server.boxes[std::string("p") + box];
        ASSERT_EQ(c, p);
        for (size_t k = pick(4); k > 0; --k) {  // new mail, now and then a message in its own words
          Msg m{"u" + std::to_string(nextId[box]++), kFroms[pick(5)], pick(30) ? kSubjects[pick(5)] : "locked",
                kTos[pick(2)]};
          c.push_back(m);
          p.push_back(m);
          if (pick(60) == 0) {  // a server that gives two messages one id
            m.subject += " too";
            c.push_back(m);
            p.push_back(m);
            ++sharedIds;
          }
        }
        for (size_t k = pick(3); k > 0 && !c.empty(); --k) {  // read and deleted elsewhere
          size_t at = pick(c.size());
          c.erase(c.begin() + static_cast<std::ptrdiff_t>(at));
          p.erase(p.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (pick(25) == 0) {  // the other device empties it
          c.clear();
          p.clear();
        }
      }
      server.pipelining = pick(3) != 0;
      server.quirk = pick(20) == 0 ? static_cast<Quirk>(1 + pick(kQuirks - 1)) : kGood;
    }
    for (int e = static_cast<int>(pick(3)); e > 0; --e) {  // the user edits the rules
      bool toDelete = pick(2) == 0, remove = pick(2) == 0;
      int kind = static_cast<int>(pick(6));
      size_t keyword = pick(sizeof kKeywords / sizeof kKeywords[0]);
      std::mt19937 same = rng;
      editRules(*cached.kel, rng, toDelete, kind, keyword, remove);
      editRules(*plain.kel, same, toDelete, kind, keyword, remove);
    }
    if (pick(8) == 0) {  // an announcement showed some lines
      int s = static_cast<int>(pick(kMailLines));
      cached.kel->results[0].lineState[s] = plain.kel->results[0].lineState[s] =
          cached.kel->results[0].lineState[s] == kLineEmpty ? kLineEmpty : kLineAnnounced;
    }
    if (pick(30) == 0) {  // the account now names the other mailbox
      mailbox = mailbox == 'A' ? 'B' : 'A';
      std::lock_guard<std::mutex> g(cached.kel->checkLock);
      snprintf(cached.kel->accounts[0].user, sizeof cached.kel->accounts[0].user, "c%c", mailbox);
      snprintf(plain.kel->accounts[0].user, sizeof plain.kel->accounts[0].user, "p%c", mailbox);
    }

    size_t listed;
    bool distinct = true;
    {
      std::lock_guard<std::mutex> g(server.lock);
      const std::vector<Msg>& box = server.boxes[std::string("c") + mailbox];
      listed = box.size();
      for (size_t i = 0; i < listed; ++i)
        for (size_t j = 0; j < i; ++j) distinct = distinct && box[i].id != box[j].id;
    }
    cached.check();
    plain.check();
    if (server.quirk == kGood && distinct) {  // the cache never holds more than the listing
      std::lock_guard<std::mutex> g(cached.kel->checkLock);
      EXPECT_LE(cached.kel->headerCache.entries(mailboxOf(cached.kel->accounts[0])), listed);
    }
    expectSameResults(cached, plain);
    cachedTops += cached.tops;
    plainTops += plain.tops;
    failures += cached.rc;
    std::lock_guard<std::mutex> g(server.lock);
    for (char box : {'A', 'B'}) EXPECT_EQ(server.boxes[std::string("p") + box], server.boxes[std::string("c") + box]);
  }
  // The walk went where it should: the cache did save TOPs, checks failed
  // now and then (a refused DELE), a server gave two messages one id. Ids
  // the server gives anew to other messages cannot be told; the model has
  // none.
  EXPECT_LT(cachedTops * 2, plainTops);
  EXPECT_GT(failures, 0);
  EXPECT_GT(sharedIds, 0);
}

// A listing that cannot be used reads every message, also those the cache
// knows, and leaves the cache as it was for the next good listing.
TEST(KnownMessages, AListingThatCannotBeUsedReadsEveryMessage) {
  for (int q = kRefused; q < kQuirks; ++q) {
    SCOPED_TRACE("quirk " + std::to_string(q));
    ModelServer server;
    for (int i = 1; i <= 5; ++i)
      server.boxes["c"].push_back({"id" + std::to_string(i), "a@example.jp", "s" + std::to_string(i), "me@example.jp"});
    Checker run{kelWithAccount("127.0.0.1", server.port(), "c", "pw")};
    run.check();
    EXPECT_EQ(5, run.tops);
    run.check();
    EXPECT_EQ(0, run.tops);  // all known

    server.quirk = static_cast<Quirk>(q);
    TraceCapture trace;
    run.check();
    EXPECT_EQ(0, run.rc);
    EXPECT_EQ(5, run.tops);
    EXPECT_EQ(5, run.kel->results[0].count);
    EXPECT_EQ("s5", lineSubject(run.kel->results[0].lines[4]));
    EXPECT_TRUE(trace.contains("UIDL\r\n"));
    EXPECT_TRUE(trace.contains("ID 0件、TOP 5件\n"));
    EXPECT_FALSE(trace.contains("3 id3\r\n"));  // the listing is not traced

    server.quirk = kGood;
    run.check();
    EXPECT_EQ(0, run.tops);
  }
}
