// Trust in the server's key and STLS, through whole sessions: against
// Dovecot (POP3 over TLS, and STLS on 127.0.0.3 where it refuses USER and
// PASS in clear) and against a scripted server for what Dovecot won't do.
// The tests set the key a handshake saw through the session's inspectKey,
// so that each path of the decision is met whatever the server's
// certificate is.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/transport.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"
#include "tests/mail/test_tls.h"

namespace {

const char kPinA[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const char kPinB[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

void unverifiedA(ServerKey& key) {
  key.verified = false;
  memcpy(key.pin, kPinA, sizeof kPinA);
}

void verifiedA(ServerKey& key) {
  key.verified = true;
  memcpy(key.pin, kPinA, sizeof kPinA);
}

struct Checked {
  int rc;
  PinOffer offer;
};

Checked check(Kel& kel, void (*inspect)(ServerKey&)) {
  SessionTask task(kel, 0);
  task.inspectKey = inspect;
  kel.sessionState = kSessionStarting;
  int rc = runSession(task);
  return {rc, task.pinOffer};
}

void pin(Kel& kel, const char* p) { snprintf(kel.accounts[0].pin, sizeof kel.accounts[0].pin, "%s", p); }

int portOf(const char* name) {
  int p = envPort(name);
  EXPECT_NE(0, p) << name << " is not set: run the tests through tools/run-tests.sh";
  return p;
}

// hanako's account over TLS from the first byte; null without Dovecot.
KelPtr overTls(int& port) {
  port = portOf("KEL_POP3S_PORT");
  return port ? kelWithAccount("127.0.0.1", port, "hanako", "hana-pass", false, /*ssl=*/true) : nullptr;
}

bool tracedWith(const TraceCapture& trace, const std::string& start) {
  for (const std::string& line : trace.lines())
    if (line.compare(0, start.size(), start) == 0) return true;
  return false;
}

}  // namespace

TEST(ServerTrustDovecot, FirstKeyIsOfferedForThisAccount) {
  int port;
  auto kel = overTls(port);
  ASSERT_TRUE(kel);
  TraceCapture trace;
  Checked c = check(*kel, unverifiedA);
  EXPECT_EQ(0, c.rc);
  EXPECT_EQ(0, kel->results[0].errorCode);
  EXPECT_EQ(0, c.offer.slot);
  EXPECT_STREQ("127.0.0.1", c.offer.server);
  EXPECT_EQ(port, c.offer.port);
  EXPECT_STREQ("hanako", c.offer.user);
  EXPECT_STREQ(kPinA, c.offer.pin);
  EXPECT_TRUE(trace.contains(std::string("サーバの鍵を登録します。") + kPinA + "\n"));
  EXPECT_STREQ("", kel->results[0].seenPin);
}

TEST(ServerTrustDovecot, PinnedKeyGoesOnAndOffersNothing) {
  int port;
  auto kel = overTls(port);
  ASSERT_TRUE(kel);
  pin(*kel, kPinA);
  TraceCapture trace;
  Checked c = check(*kel, unverifiedA);
  EXPECT_EQ(0, c.rc);
  EXPECT_EQ(kSessionDone, kel->sessionState.load());
  EXPECT_STREQ("", c.offer.pin);
  EXPECT_FALSE(tracedWith(trace, "サーバの鍵"));
}

TEST(ServerTrustDovecot, ChangedKeyFailsWithOneBeforeAnyCommand) {
  int port;
  auto kel = overTls(port);
  ASSERT_TRUE(kel);
  pin(*kel, kPinB);
  TraceCapture trace;
  Checked c = check(*kel, unverifiedA);
  EXPECT_EQ(1, c.rc);
  EXPECT_EQ(kErrorServerKeyChanged, kel->results[0].errorCode);
  EXPECT_STREQ("サーバの鍵が登録と違います", kel->results[0].reason);
  EXPECT_EQ(kSessionFailed, kel->sessionState.load());
  EXPECT_STREQ(kPinA, kel->results[0].seenPin);
  EXPECT_STREQ("", c.offer.pin);
  EXPECT_TRUE(trace.contains(std::string("サーバの鍵が登録と違います。登録 ") + kPinB + " 今回 " + kPinA + "\n"));
  EXPECT_TRUE(trace.contains("エラ～発生！\n"));
  for (const char* command : {"CAPA\r\n", "USER hanako\r\n", "PASS xxxxxx\n"}) EXPECT_FALSE(trace.contains(command));

  // The next check starts without the key of the failed one.
  pin(*kel, kPinA);
  EXPECT_EQ(0, check(*kel, unverifiedA).rc);
  EXPECT_STREQ("", kel->results[0].seenPin);
}

TEST(ServerTrustDovecot, VerifiedNewKeyRefreshesThePinQuietly) {
  int port;
  auto kel = overTls(port);
  ASSERT_TRUE(kel);
  pin(*kel, kPinB);
  TraceCapture trace;
  Checked c = check(*kel, verifiedA);
  EXPECT_EQ(0, c.rc);
  EXPECT_STREQ(kPinA, c.offer.pin);
  EXPECT_FALSE(tracedWith(trace, "サーバの鍵"));
}

// The key the handshake itself reports: whatever it is, it is not one the
// account never saw.
TEST(ServerTrustDovecot, PinnedAccountMeetsAnotherKey) {
  int port;
  auto kel = overTls(port);
  ASSERT_TRUE(kel);
  pin(*kel, kPinB);
  TraceCapture trace;
  Checked c = check(*kel, nullptr);
  EXPECT_EQ(1, c.rc);
  EXPECT_EQ(kErrorServerKeyChanged, kel->results[0].errorCode);
  EXPECT_STRNE(kPinB, kel->results[0].seenPin);
  EXPECT_FALSE(trace.contains("USER hanako\r\n"));
}

TEST(StlsDovecot, UpgradesBeforeTheLoginAndAsksCapaAgain) {
  int port = portOf("KEL_STLS_PORT");
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.3", port, "hanako", "hana-pass");
  kel->results[0].passwordInClear = 1;  // as an earlier check in clear left it
  TraceCapture trace;
  Checked c = check(*kel, unverifiedA);
  EXPECT_EQ(0, c.rc);
  EXPECT_EQ(0, kel->results[0].passwordInClear);  // sent over TLS
  EXPECT_EQ(0, kel->results[0].errorCode);
  EXPECT_EQ(kSessionDone, kel->sessionState.load());
  EXPECT_STREQ(kPinA, c.offer.pin);
  EXPECT_STREQ("127.0.0.3", c.offer.server);
  int at = 0;
  for (const char* step : {"CAPA\r\n", "STLS\r\n", "OpenSSL\n", "CAPA\r\n", "USER hanako\r\n", "+OK Logged in.\r\n"}) {
    int next = trace.find(step, at);
    ASSERT_GE(next, at) << step;
    at = next + 1;
  }
  EXPECT_EQ(-1, trace.find("STLS\r\n", trace.find("OpenSSL\n")));  // once is enough

  // Pinned now: the next check goes on, and offers nothing.
  pin(*kel, kPinA);
  Checked again = check(*kel, unverifiedA);
  EXPECT_EQ(0, again.rc);
  EXPECT_STREQ("", again.offer.pin);
}

TEST(StlsDovecot, ChangedKeyFailsWithOneBeforeTheLogin) {
  int port = portOf("KEL_STLS_PORT");
  ASSERT_NE(0, port);
  auto kel = kelWithAccount("127.0.0.3", port, "hanako", "hana-pass");
  pin(*kel, kPinB);
  TraceCapture trace;
  Checked c = check(*kel, unverifiedA);
  EXPECT_EQ(1, c.rc);
  EXPECT_EQ(kErrorServerKeyChanged, kel->results[0].errorCode);
  EXPECT_STREQ(kPinA, kel->results[0].seenPin);
  int tls = trace.find("OpenSSL\n", trace.find("STLS\r\n"));
  ASSERT_GE(tls, 0);
  EXPECT_EQ(-1, trace.find("CAPA\r\n", tls));
  EXPECT_FALSE(trace.contains("USER hanako\r\n"));
}

namespace {

// What the client sent after the script's last step, line by line, until
// it closed.
struct Received {
  std::mutex lock;
  std::vector<std::string> lines;
  void drain(ScriptConnection& c) {
    for (;;) {
      std::string line = c.readLine();
      if (line.empty()) return;
      std::lock_guard<std::mutex> g(lock);
      lines.push_back(line);
    }
  }
  bool any(const std::string& word) {
    std::lock_guard<std::mutex> g(lock);
    for (const std::string& l : lines)
      if (l.find(word) != std::string::npos) return true;
    return false;
  }
};

const char kStlsCapa[] = "+OK\r\nTOP\r\nSTLS\r\nPIPELINING\r\n.\r\n";

struct ScriptOutcome {
  int code;
  int state;
  bool userOrPass;
  std::string reason;
};

ScriptOutcome scripted(void (*step)(ScriptConnection&), const char* storedPin = "") {
  Received received;
  int code, state;
  std::string reason;
  TraceCapture trace;
  {
    ScriptServer server([&](ScriptConnection& c) {
      step(c);
      received.drain(c);
    });
    auto kel = kelWithAccount("127.0.0.1", server.port(), "user", "secret");
    pin(*kel, storedPin);
    check(*kel, unverifiedA);
    code = kel->results[0].errorCode;
    state = kel->sessionState.load();
    reason = kel->results[0].reason;
  }
  return {code, state, received.any("USER") || received.any("PASS") || received.any("APOP"), reason};
}

}  // namespace

namespace {
enum class Upgrade { kRefused, kInjected, kNotTls, kWeakKey, kTls11 };

// A server that lists STLS and fails the upgrade as told, and lets in in
// clear whoever logs in without it, to one message.
struct FailingUpgrade {
  explicit FailingUpgrade(Upgrade how) : server([this, how](ScriptConnection& c) { serve(c, how); }) {}
  void serve(ScriptConnection& c, Upgrade how) {
    c.greet("+OK ready\r\n", kStlsCapa);
    ++connections;
    std::string line = c.readLine();
    if (line == "STLS") {
      ++upgrades;
      if (how == Upgrade::kRefused) {
        c.send("-ERR not now\r\n");
        line = c.readLine();
      } else {
        c.send(how == Upgrade::kInjected ? "+OK begin\r\n+OK injected\r\n" : "+OK begin\r\n");
        if (how == Upgrade::kNotTls && c.pending(5000)) c.send("+OK this is no TLS\r\n");
        if (how == Upgrade::kWeakKey || how == Upgrade::kTls11) {
          TlsScript tls(c, how == Upgrade::kWeakKey ? testPki().weak : testPki().selfSigned, nullptr,
                        how == Upgrade::kTls11);
        }
        c.waitForClose();
        return;
      }
    }
    if (line.rfind("USER", 0) != 0) return;
    ++logins;
    c.send("+OK\r\n");
    c.expect("PASS");
    c.send("+OK\r\n");
    c.expect("STAT");
    c.send("+OK 1 100\r\n");
    c.expect("TOP 1");
    c.send("+OK\r\nFrom: a@example.jp\r\nSubject: in clear\r\n\r\n.\r\n");
    c.expect("QUIT");
    c.send("+OK\r\n");
  }
  std::atomic<int> connections{0}, upgrades{0}, logins{0};
  ScriptServer server;
};
}  // namespace

// An upgrade that fails: an account without a pin reads its mail in clear
// as before STLS (on the same connection after a refusal, else on a new one
// without STLS), stores no pin, and tries again at the next check; a pinned
// one fails with code 4 and sends nothing in clear.
TEST(StlsScript, AFailedUpgradeGoesOnInClearOnlyUntilTheFirstPin) {
  const Upgrade all[] = {Upgrade::kRefused, Upgrade::kInjected, Upgrade::kNotTls, Upgrade::kWeakKey,
                         Upgrade::kTls11};
  for (Upgrade how : all) {
    for (bool pinned : {false, true}) {
      SCOPED_TRACE(static_cast<int>(how) * 2 + pinned);
      FailingUpgrade server(how);
      auto kel = kelWithAccount("127.0.0.1", server.server.port(), "user", "secret");
      pin(*kel, pinned ? kPinA : "");
      TraceCapture trace;
      Checked c = check(*kel, nullptr);
      EXPECT_STREQ("", c.offer.pin);
      if (pinned) {
        EXPECT_EQ(1, c.rc);
        EXPECT_EQ(kErrorTlsFailed, kel->results[0].errorCode);
        std::string reason = kel->results[0].reason;
        if (how == Upgrade::kRefused) {
          EXPECT_EQ("TLS: STLS -ERR not now", reason);
        } else {
          EXPECT_EQ(0u, reason.find("TLS: "));
          EXPECT_GT(reason.size(), 6u);  // what the upgrade met follows
        }
        EXPECT_EQ(kSessionFailed, kel->sessionState.load());
        EXPECT_EQ(0, server.logins.load());
        EXPECT_EQ(1, server.connections.load());
        EXPECT_EQ(0, kel->results[0].passwordInClear);
        continue;
      }
      EXPECT_EQ(0, c.rc);
      EXPECT_EQ(kSessionDone, kel->sessionState.load());
      EXPECT_EQ(1, kel->results[0].count);
      EXPECT_EQ(1, kel->results[0].passwordInClear);
      EXPECT_EQ("in clear", lineSubject(kel->results[0].lines[0]));
      bool same = how == Upgrade::kRefused;
      EXPECT_EQ(same ? 1 : 2, server.connections.load());
      EXPECT_EQ(1, server.upgrades.load());
      EXPECT_TRUE(trace.contains(same ? "暗号化せずに続けます。\n" : "暗号化せずに接続し直します。\n"));
      EXPECT_EQ(0, check(*kel, nullptr).rc);
      EXPECT_EQ(2, server.upgrades.load());
    }
  }
}

TEST(StlsScript, PinnedAccountWithoutStlsFailsWithFour) {
  for (const char* capa : {"+OK\r\nTOP\r\nPIPELINING\r\n.\r\n", "-ERR\r\n"}) {
    static const char* current;
    current = capa;
    ScriptOutcome o = scripted([](ScriptConnection& c) { c.greet("+OK ready <1.2@host>\r\n", current); }, kPinA);
    EXPECT_EQ(kErrorTlsFailed, o.code) << capa;
    EXPECT_EQ(kSessionFailed, o.state) << capa;
    EXPECT_FALSE(o.userOrPass) << capa;
  }
}

TEST(StlsScript, NoStlsAndNoPinLogsInAsBefore) {
  ScriptOutcome o = scripted([](ScriptConnection& c) {
    c.greet("+OK ready\r\n", "+OK\r\nTOP\r\n.\r\n");
    c.expect("USER");
    c.send("+OK\r\n");
    c.expect("PASS");
    c.send("+OK\r\n");
    c.expect("STAT");
    c.send("+OK 0 0\r\n");
    c.expect("QUIT");
    c.send("+OK\r\n");
  });
  EXPECT_EQ(0, o.code);
  EXPECT_EQ(kSessionDone, o.state);
}
