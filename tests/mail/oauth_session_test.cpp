// OAuth2 logins through the session: against Dovecot's oauth2 passdb with
// the tests' authorization server (tests/mail/oauth_server.py), and against
// a scripted server for the exchanges Dovecot does not make.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "mailcheck/access_token.h"
#include "mailcheck/pop3/pop3_session.h"
#include "platform/http.h"
#include "platform/secret.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"
#include "tests/mail/test_tls.h"

namespace {

struct Checked {
  int rc;
  int code;
  std::string reason;
  std::vector<std::string> trace;
  std::string rotated;  // the refresh token the session offers, opened
};

Checked run(Kel& kel) {
  TraceCapture trace;
  SessionTask task(kel, 0);
  kel.sessionState = kSessionStarting;
  int rc = runSession(task);
  Checked r{rc, kel.results[0].errorCode, kel.results[0].reason, trace.lines(), ""};
  if (!task.tokenOffer.refresh.empty()) {
    EXPECT_TRUE(openRefreshToken(task.tokenOffer.refresh, r.rotated));
  }
  return r;
}

int count(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& l : lines) n += l.compare(0, prefix.size(), prefix) == 0;
  return n;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// What the test server gave out never reaches the trace.
void expectNoTokenIn(const std::vector<std::string>& trace, const std::string& refresh) {
  nlohmann::json info = oauthAdmin({{"op", "info"}, {"refresh", refresh}});
  std::vector<std::string> secrets = {refresh, info["current"].get<std::string>()};
  for (const auto& at : info["issued"]) secrets.push_back(at.get<std::string>());
  for (const std::string& line : trace)
    for (const std::string& s : secrets) EXPECT_EQ(std::string::npos, line.find(s)) << line;
}

int tokenCalls(const std::string& refresh) { return oauthAdmin({{"op", "info"}, {"refresh", refresh}})["calls"]; }

enum Setup { kSignedIn, kStaleAccessToken, kRevoked, kNeverSignedIn, kDamaged, kUnreachable };

struct DovecotCase {
  const char* what;
  Fields grant;
  Setup setup;
  bool pop3s;
  int code;
  const char* reason;  // its beginning
  int tokenCalls;
  int auths;
  bool connected;
};

TEST(OAuthDovecot, LoginsRefreshesAndRefusals) {
  const std::string signInAgain = kReasonSignInAgain;
  const DovecotCase cases[] = {
      {"XOAUTH2 over POP3S, the refresh token rotated", {{"rotate", "1"}}, kSignedIn, true, 0, "", 1, 1, true},
      {"XOAUTH2 after STLS", {}, kSignedIn, false, 0, "", 1, 1, true},
      {"a token the server refuses: one refresh, one more AUTH on the same connection", {}, kStaleAccessToken, true,
       0, "", 1, 2, true},
      {"refused again after the refresh", {{"dead", "1"}}, kSignedIn, true, 8,
       "OAuth: サインインし直してください -ERR [AUTH]", 2, 2, true},
      {"a revoked refresh token: no connection", {}, kRevoked, true, 8, kReasonSignInAgain, 1, 0, false},
      {"never signed in", {}, kNeverSignedIn, true, 8, kReasonSignInNeeded, 0, 0, false},
      {"a damaged stored token (another user's)", {}, kDamaged, true, 8, kReasonSignInNeeded, 0, 0, false},
      {"a token endpoint that refuses connections", {}, kUnreachable, true, 3, "OAuth: ", 0, 0, false},
      {"a token endpoint that fails", {{"status", "500"}}, kSignedIn, true, 3, "OAuth: ", 1, 0, false},
  };
  for (const DovecotCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string refresh = grantRefreshToken(c.grant);
    auto kel = kelWithAccount("127.0.0.1", envPort(c.pop3s ? "KEL_POP3S_PORT" : "KEL_POP3_PORT"), "kaede", "",
                              false, c.pop3s);
    oauthSignIn(*kel, c.setup == kNeverSignedIn ? "" : refresh,
           c.setup == kUnreachable ? "http://127.0.0.1:" + std::to_string(refusedPort()) + "/token" : oauthServerUrl("/token"));
    if (c.setup == kStaleAccessToken) {
      kel->oauth[0].accessToken = "at-revoked-early";
      kel->oauth[0].accessExpiresMs = monotonicNow(*kel) + 3600000;
    }
    if (c.setup == kRevoked) oauthAdmin({{"op", "revoke"}, {"refresh", refresh}});
    if (c.setup == kDamaged) kel->oauth[0].refresh = platform::base64Encode("a blob of another user");

    Checked r = run(*kel);
    EXPECT_EQ(c.code, r.code);
    EXPECT_EQ(c.code == 0 ? 0 : 1, r.rc);
    EXPECT_TRUE(startsWith(r.reason, c.reason)) << r.reason;
    EXPECT_EQ(c.tokenCalls, tokenCalls(refresh));
    EXPECT_EQ(c.auths, count(r.trace, "AUTH XOAUTH2"));
    EXPECT_EQ(c.auths, count(r.trace, "(XOAUTH2 の応答)"));
    EXPECT_EQ(c.connected ? 1 : 0, count(r.trace, "+OK [XCLIENT] Dovecot"));
    if (c.code == 0) {
      EXPECT_EQ(2, kel->results[0].count);
    }
    expectNoTokenIn(r.trace, refresh);
    // The access token is kept for the next check, and a rotated refresh
    // token is offered and already in memory.
    EXPECT_EQ(c.code == 0, !kel->oauth[0].accessToken.empty() && kel->oauth[0].accessToken != "at-revoked-early");
    const bool rotates = !c.grant.empty() && c.grant[0].first == "rotate";
    EXPECT_EQ(rotates, !r.rotated.empty());
    if (rotates) {
      EXPECT_EQ(oauthAdmin({{"op", "info"}, {"refresh", refresh}})["current"].get<std::string>(), r.rotated);
      std::string held;
      EXPECT_TRUE(openRefreshToken(kel->oauth[0].refresh, held));
      EXPECT_EQ(r.rotated, held);
    }
    // A refused refresh token is not tried again at every check.
    if (c.setup == kRevoked) {
      EXPECT_TRUE(kel->oauth[0].signInAgain);
      Checked again = run(*kel);
      EXPECT_EQ(8, again.code);
      EXPECT_EQ(1, tokenCalls(refresh));
    }
  }
}

TEST(OAuthDovecot, TheTokenInMemoryIsUsedUntilAMinuteBeforeItExpires) {
  const std::string refresh = grantRefreshToken();
  auto kel = kelWithAccount("127.0.0.1", envPort("KEL_POP3S_PORT"), "kaede", "", false, true);
  oauthSignIn(*kel, refresh);
  EXPECT_EQ(0, run(*kel).code);
  EXPECT_EQ(0, run(*kel).code);
  EXPECT_EQ(1, tokenCalls(refresh));
  kel->oauth[0].accessExpiresMs = monotonicNow(*kel) + kTokenMarginMs - 1000;
  EXPECT_EQ(0, run(*kel).code);
  EXPECT_EQ(2, tokenCalls(refresh));
  // What the refresh sent: the grant, the client and the scope.
  nlohmann::json form = oauthAdmin({{"op", "info"}, {"refresh", refresh}})["forms"][0];
  EXPECT_EQ("refresh_token", form["grant_type"]);
  EXPECT_EQ("kel-test", form["client_id"]);
  EXPECT_EQ("mail", form["scope"]);
  EXPECT_FALSE(form.contains("client_secret"));
}

// The same logins over IMAP: AUTHENTICATE on IMAPS and after STARTTLS, a
// refused token refreshed once on the same connection, refused again.
TEST(OAuthDovecot, ImapLoginsAndRefusals) {
  const struct {
    const char* what;
    Fields grant;
    bool stale, imaps;
    int code;
    const char* reason;  // its beginning
    int auths;
  } cases[] = {
      {"XOAUTH2 over IMAPS", {}, false, true, 0, "", 1},
      {"XOAUTH2 after STARTTLS", {}, false, false, 0, "", 1},
      {"a refused token: one refresh, one more AUTHENTICATE", {}, true, true, 0, "", 2},
      {"refused again after the refresh", {{"dead", "1"}}, false, true, 8, "OAuth: サインインし直してください NO", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string refresh = grantRefreshToken(c.grant);
    auto kel = kelWithAccount("127.0.0.1", envPort(c.imaps ? "KEL_IMAPS_PORT" : "KEL_IMAP_PORT"), "kaede", "",
                              false, c.imaps);
    kel->accounts[0].protocol = kProtocolImap;
    oauthSignIn(*kel, refresh);
    if (c.stale) {
      kel->oauth[0].accessToken = "at-revoked-early";
      kel->oauth[0].accessExpiresMs = monotonicNow(*kel) + 3600000;
    }
    Checked r = run(*kel);
    EXPECT_EQ(c.code, r.code);
    EXPECT_TRUE(startsWith(r.reason, c.reason)) << r.reason;
    EXPECT_EQ(c.auths, count(r.trace, "(XOAUTH2 の応答)"));
    EXPECT_EQ(0, kel->results[0].passwordInClear);
    if (c.code == 0) {
      EXPECT_EQ(2, kel->results[0].count);
    }
    expectNoTokenIn(r.trace, refresh);
  }
}

// The scripted server speaks TLS (a self-signed key, trusted on first use)
// and answers the lines it reads from a list; "=token" is a line that must
// be the SASL response with an access token of the tests' server.
struct Step {
  const char* expect;
  const char* reply;
};

struct ScriptCase {
  const char* what;
  bool pop3s;
  const char* capabilities;
  std::vector<Step> steps;
  int code;
  int tokenCalls;
};

std::string decoded(const std::string& line) {
  std::string out;
  return platform::base64Decode(line, out) ? out : "(not base64) " + line;
}

bool matches(const char* expect, const std::string& line) {
  if (std::string(expect) == "=xoauth2") return startsWith(decoded(line), "user=kaede\x01" "auth=Bearer at-");
  if (std::string(expect) == "=oauthbearer") return startsWith(decoded(line), "n,a=kaede,\x01" "auth=Bearer at-");
  return line == expect;
}

TEST(OAuthScript, SaslExchanges) {
  const char* kBoth = "+OK\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.\r\n";
  const char* kBearerOnly = "+OK\r\nSASL PLAIN OAUTHBEARER\r\n.\r\n";
  const char* kErrorChallenge = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n";
  const ScriptCase cases[] = {
      {"XOAUTH2 when both are listed", true, kBoth,
       {{"AUTH XOAUTH2", "+ \r\n"}, {"=xoauth2", "+OK\r\n"}, {"STAT", "+OK 0 0\r\n"}, {"QUIT", "+OK\r\n"}}, 0, 1},
      {"OAUTHBEARER when only it is listed", true, kBearerOnly,
       {{"AUTH OAUTHBEARER", "+ \r\n"}, {"=oauthbearer", "+OK\r\n"}, {"STAT", "+OK 0 0\r\n"}, {"QUIT", "+OK\r\n"}},
       0, 1},
      {"XOAUTH2 when no SASL line is there", true, "+OK\r\nTOP\r\n.\r\n",
       {{"AUTH XOAUTH2", "+ \r\n"}, {"=xoauth2", "+OK\r\n"}, {"STAT", "+OK 0 0\r\n"}, {"QUIT", "+OK\r\n"}}, 0, 1},
      {"an error challenge answered by an empty line, then the retry", true, kBoth,
       {{"AUTH XOAUTH2", "+ \r\n"}, {"=xoauth2", kErrorChallenge}, {"", "-ERR [AUTH] failed\r\n"},
        {"AUTH XOAUTH2", "+ \r\n"}, {"=xoauth2", "+OK\r\n"}, {"STAT", "+OK 0 0\r\n"}, {"QUIT", "+OK\r\n"}},
       0, 2},
      {"OAUTHBEARER's error challenge answered by AQ==", true, kBearerOnly,
       {{"AUTH OAUTHBEARER", "+ \r\n"}, {"=oauthbearer", kErrorChallenge}, {"AQ==", "-ERR [AUTH] failed\r\n"},
        {"AUTH OAUTHBEARER", "+ \r\n"}, {"=oauthbearer", kErrorChallenge}, {"AQ==", "-ERR [AUTH] no\r\n"},
        {"QUIT", "+OK\r\n"}},
       8, 2},
      {"a plain -ERR without a challenge, as Microsoft sends", true, kBoth,
       {{"AUTH XOAUTH2", "+ \r\n"}, {"=xoauth2", "-ERR Authentication failure\r\n"}, {"AUTH XOAUTH2", "+ \r\n"},
        {"=xoauth2", "+OK\r\n"}, {"STAT", "+OK 0 0\r\n"}, {"QUIT", "+OK\r\n"}},
       0, 2},
      {"AUTH itself refused, twice", true, kBoth,
       {{"AUTH XOAUTH2", "-ERR unknown mechanism\r\n"}, {"AUTH XOAUTH2", "-ERR unknown mechanism\r\n"},
        {"QUIT", "+OK\r\n"}},
       8, 2},
      {"no STLS on a clear connection: nothing is sent", false, "+OK\r\nUIDL\r\n.\r\n", {}, 4, 1},
  };
  for (const ScriptCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> unexpected;
    std::mutex lock;
    ScriptServer server([&](ScriptConnection& conn) {
      auto converse = [&](auto& io) {
        io.send("+OK ready\r\n");
        if (io.readLine() != "CAPA") return;
        io.send(c.capabilities);
        for (const Step& s : c.steps) {
          std::string line = io.readLine();
          if (!matches(s.expect, line)) {
            std::lock_guard<std::mutex> g(lock);
            unexpected.push_back(line + " (expected " + s.expect + ")");
            return;
          }
          io.send(s.reply);
        }
        std::string extra = io.readLine();
        if (!extra.empty()) {
          std::lock_guard<std::mutex> g(lock);
          unexpected.push_back(extra + " (after the script)");
        }
      };
      if (c.pop3s) {
        TlsScript tls(conn, testPki().selfSigned);
        if (tls.ok()) converse(tls);
      } else {
        converse(conn);
      }
    });
    const std::string refresh = grantRefreshToken();
    auto kel = kelWithAccount("127.0.0.1", server.port(), "kaede", "", false, c.pop3s);
    oauthSignIn(*kel, refresh);
    Checked r = run(*kel);
    EXPECT_EQ(c.code, r.code) << r.reason;
    EXPECT_EQ(c.tokenCalls, tokenCalls(refresh));
    {
      std::lock_guard<std::mutex> g(lock);
      EXPECT_TRUE(unexpected.empty()) << unexpected[0];
    }
    expectNoTokenIn(r.trace, refresh);
    if (c.code == 8) {
      EXPECT_TRUE(startsWith(r.reason, kReasonSignInAgain)) << r.reason;
    }
  }
}

}  // namespace
