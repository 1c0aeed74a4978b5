// OAuth2 logins through the session: against Dovecot's oauth2 passdb with
// the tests' authorization server (tests/mail/oauth_server.py), and against
// a scripted server for the exchanges Dovecot does not make.
#include <gtest/gtest.h>

#include <string>
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
  int rc, code;
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

// Trace lines holding `text`.
int count(const std::vector<std::string>& lines, const std::string& text) {
  int n = 0;
  for (const std::string& l : lines) n += l.find(text) != std::string::npos;
  return n;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

nlohmann::json info(const std::string& refresh) { return oauthAdmin({{"op", "info"}, {"refresh", refresh}}); }

// What the test server gave out never reaches the trace.
void expectNoTokenIn(const std::vector<std::string>& trace, const std::string& refresh) {
  nlohmann::json i = info(refresh);
  std::vector<std::string> secrets = {refresh, i["current"].get<std::string>()};
  for (const auto& at : i["issued"]) secrets.push_back(at.get<std::string>());
  for (const std::string& line : trace)
    for (const std::string& s : secrets) EXPECT_EQ(std::string::npos, line.find(s)) << line;
}

int tokenCalls(const std::string& refresh) { return info(refresh)["calls"]; }

enum Given { kSignedIn, kStaleAccessToken, kRevoked, kNeverSignedIn, kDamaged, kUnreachable };

TEST(OAuthDovecot, LoginsRefreshesAndRefusals) {
  const struct {
    const char* what;
    Fields grant;
    Given given;
    const char* port;  // its variable: POP3 or IMAP, TLS from the start or after STLS/STARTTLS
    int code;
    const char* reason;  // its beginning
    int tokenCalls, auths;
  } cases[] = {
      {"XOAUTH2 over POP3S, the refresh token rotated", {{"rotate", "1"}}, kSignedIn, "KEL_POP3S_PORT", 0, "", 1, 1},
      {"XOAUTH2 after STLS", {}, kSignedIn, "KEL_POP3_PORT", 0, "", 1, 1},
      {"a token the server refuses: one refresh, one more AUTH on the same connection", {}, kStaleAccessToken,
       "KEL_POP3S_PORT", 0, "", 1, 2},
      {"refused again after the refresh", {{"dead", "1"}}, kSignedIn, "KEL_POP3S_PORT", 8,
       "OAuth: サインインし直してください -ERR [AUTH]", 2, 2},
      {"a revoked refresh token: no connection", {}, kRevoked, "KEL_POP3S_PORT", 8, kReasonSignInAgain, 1, 0},
      {"never signed in", {}, kNeverSignedIn, "KEL_POP3S_PORT", 8, kReasonSignInNeeded, 0, 0},
      {"a damaged stored token (another user's)", {}, kDamaged, "KEL_POP3S_PORT", 8, kReasonSignInNeeded, 0, 0},
      {"a token endpoint that refuses connections", {}, kUnreachable, "KEL_POP3S_PORT", 3, "OAuth: ", 0, 0},
      {"a token endpoint that fails", {{"status", "500"}}, kSignedIn, "KEL_POP3S_PORT", 3, "OAuth: ", 1, 0},
      {"XOAUTH2 over IMAPS", {}, kSignedIn, "KEL_IMAPS_PORT", 0, "", 1, 1},
      {"XOAUTH2 after STARTTLS", {}, kSignedIn, "KEL_IMAP_PORT", 0, "", 1, 1},
      {"IMAP: a refused token: one refresh, one more AUTHENTICATE", {}, kStaleAccessToken, "KEL_IMAPS_PORT", 0, "", 1,
       2},
      {"IMAP: refused again after the refresh", {{"dead", "1"}}, kSignedIn, "KEL_IMAPS_PORT", 8,
       "OAuth: サインインし直してください NO", 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string port = c.port, refresh = grantRefreshToken(c.grant);
    const bool imap = port.find("IMAP") != std::string::npos, tls = port.find("S_PORT") != std::string::npos;
    auto kel = kelWithAccount("127.0.0.1", envPort(c.port), "kaede", "", false, tls);
    if (imap) kel->accounts[0].protocol = kProtocolImap;
    oauthSignIn(*kel, c.given == kNeverSignedIn ? "" : refresh,
                c.given == kUnreachable ? "http://127.0.0.1:" + std::to_string(refusedPort()) + "/token"
                                        : oauthServerUrl("/token"));
    if (c.given == kStaleAccessToken) {
      kel->oauth[0].accessToken = "at-revoked-early";
      kel->oauth[0].accessExpiresMs = monotonicNow(*kel) + 3600000;
    }
    if (c.given == kRevoked) oauthAdmin({{"op", "revoke"}, {"refresh", refresh}});
    if (c.given == kDamaged) kel->oauth[0].refresh = platform::base64Encode("a blob of another user");

    Checked r = run(*kel);
    EXPECT_EQ(c.code, r.code);
    EXPECT_EQ(c.code == 0 ? 0 : 1, r.rc);
    EXPECT_TRUE(startsWith(r.reason, c.reason)) << r.reason;
    EXPECT_EQ(c.tokenCalls, tokenCalls(refresh));
    EXPECT_EQ(c.auths, count(r.trace, imap ? "AUTHENTICATE XOAUTH2" : "AUTH XOAUTH2"));
    EXPECT_EQ(c.auths, count(r.trace, "(XOAUTH2 の応答)"));
    EXPECT_EQ(c.auths > 0, count(r.trace, imap ? "* OK [CAPABILITY" : "+OK [XCLIENT] Dovecot") == 1);
    EXPECT_EQ(0, kel->results[0].passwordInClear);
    EXPECT_EQ(c.code == 0 ? 2 : 0, kel->results[0].count);
    expectNoTokenIn(r.trace, refresh);
    // The access token is kept for the next check, and a rotated refresh
    // token is offered and already in memory.
    EXPECT_EQ(c.code == 0, !kel->oauth[0].accessToken.empty() && kel->oauth[0].accessToken != "at-revoked-early");
    const bool rotates = !c.grant.empty() && c.grant[0].first == "rotate";
    EXPECT_EQ(rotates, !r.rotated.empty());
    if (rotates) {
      EXPECT_EQ(info(refresh)["current"].get<std::string>(), r.rotated);
      std::string held;
      EXPECT_TRUE(openRefreshToken(kel->oauth[0].refresh, held));
      EXPECT_EQ(r.rotated, held);
    }
    // A refused refresh token is not tried again at every check.
    if (c.given == kRevoked) {
      EXPECT_TRUE(kel->oauth[0].signInAgain);
      EXPECT_EQ(8, run(*kel).code);
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
  nlohmann::json form = info(refresh)["forms"][0];
  EXPECT_EQ("refresh_token", form["grant_type"]);
  EXPECT_EQ("kel-test", form["client_id"]);
  EXPECT_EQ("mail", form["scope"]);
  EXPECT_FALSE(form.contains("client_secret"));
}

// The scripted server speaks TLS (a self-signed key, trusted on first use)
// and answers the lines it reads from a list; "=xoauth2" and "=oauthbearer"
// stand for that SASL response with an access token of the tests' server.
struct Step {
  const char* expect;
  const char* reply;
};

std::string decoded(const std::string& line) {
  std::string out;
  return platform::base64Decode(line, out) ? out : "(not base64) " + line;
}

bool matches(const std::string& expect, const std::string& line) {
  if (expect == "=xoauth2") return startsWith(decoded(line), "user=kaede\x01" "auth=Bearer at-");
  if (expect == "=oauthbearer") return startsWith(decoded(line), "n,a=kaede,\x01" "auth=Bearer at-");
  return line == expect;
}

TEST(OAuthScript, SaslExchanges) {
  const char* kBoth = "+OK\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.\r\n";
  const char* kBearerOnly = "+OK\r\nSASL PLAIN OAUTHBEARER\r\n.\r\n";
  const char* kErrorChallenge = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n";
  const Step xo{"AUTH XOAUTH2", "+ \r\n"}, xoOk{"=xoauth2", "+OK\r\n"}, ob{"AUTH OAUTHBEARER", "+ \r\n"},
      stat{"STAT", "+OK 0 0\r\n"}, quit{"QUIT", "+OK\r\n"}, unknown{"AUTH XOAUTH2", "-ERR unknown mechanism\r\n"};
  const struct {
    const char* what;
    bool pop3s;
    const char* capabilities;
    std::vector<Step> steps;
    int code, tokenCalls;
  } cases[] = {
      {"XOAUTH2 when both are listed", true, kBoth, {xo, xoOk, stat, quit}, 0, 1},
      {"OAUTHBEARER when only it is listed", true, kBearerOnly, {ob, {"=oauthbearer", "+OK\r\n"}, stat, quit}, 0, 1},
      {"XOAUTH2 when no SASL line is there", true, "+OK\r\nTOP\r\n.\r\n", {xo, xoOk, stat, quit}, 0, 1},
      {"an error challenge answered by an empty line, then the retry", true, kBoth,
       {xo, {"=xoauth2", kErrorChallenge}, {"", "-ERR [AUTH] failed\r\n"}, xo, xoOk, stat, quit}, 0, 2},
      {"OAUTHBEARER's error challenge answered by AQ==", true, kBearerOnly,
       {ob, {"=oauthbearer", kErrorChallenge}, {"AQ==", "-ERR [AUTH] failed\r\n"}, ob,
        {"=oauthbearer", kErrorChallenge}, {"AQ==", "-ERR [AUTH] no\r\n"}, quit}, 8, 2},
      {"a plain -ERR without a challenge, as Microsoft sends", true, kBoth,
       {xo, {"=xoauth2", "-ERR Authentication failure\r\n"}, xo, xoOk, stat, quit}, 0, 2},
      {"AUTH itself refused, twice", true, kBoth, {unknown, unknown, quit}, 8, 2},
      {"no STLS on a clear connection: nothing is sent", false, "+OK\r\nUIDL\r\n.\r\n", {}, 4, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> unexpected;
    std::mutex lock;
    auto note = [&](const std::string& what) {
      std::lock_guard<std::mutex> g(lock);
      unexpected.push_back(what);
    };
    ScriptServer server([&](ScriptConnection& conn) {
      auto converse = [&](auto& io) {
        io.send("+OK ready\r\n");
        if (io.readLine() != "CAPA") return;
        io.send(c.capabilities);
        for (const Step& s : c.steps) {
          std::string line = io.readLine();
          if (!matches(s.expect, line)) return note(line + " (expected " + s.expect + ")");
          io.send(s.reply);
        }
        std::string extra = io.readLine();
        if (!extra.empty()) note(extra + " (after the script)");
      };
      if (!c.pop3s) return converse(conn);
      TlsScript tls(conn, testPki().selfSigned);
      if (tls.ok()) converse(tls);
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
    EXPECT_EQ(c.code == 8, startsWith(r.reason, kReasonSignInAgain)) << r.reason;
  }
}

}  // namespace
