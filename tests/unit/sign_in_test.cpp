#include "settings/sign_in.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "settings/loopback.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

TEST(SignIn, ChallengeIsTheS256OfTheVerifierAndEveryAttemptIsNew) {
  // RFC 7636, appendix B.
  EXPECT_EQ("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM", s256Challenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"));
  Pkce a, b;
  ASSERT_TRUE(makePkce(&a));
  ASSERT_TRUE(makePkce(&b));
  EXPECT_EQ(43u, a.verifier.size());
  EXPECT_EQ(22u, a.state.size());
  EXPECT_EQ(s256Challenge(a.verifier), a.challenge);
  EXPECT_NE(a.verifier, b.verifier);
  EXPECT_NE(a.state, b.state);
  EXPECT_EQ(std::string::npos, a.verifier.find_first_not_of(
                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"));
}

TEST(SignIn, TheBrowserIsSentEveryParameterEncoded) {
  Pkce p{"v", "CHALLENGE", "STATE"};
  std::string ms = redirectUri(kSignInMicrosoft, 50123), google = redirectUri(kSignInGoogle, 50123);
  EXPECT_EQ("http://localhost:50123/", ms);
  EXPECT_EQ("http://127.0.0.1:50123/", google);
  EXPECT_EQ("http://localhost:8/", redirectUri(kSignInOther, 8));
  EXPECT_EQ("https://a/auth?response_type=code&client_id=id%20%2B1&redirect_uri=http%3A%2F%2Flocalhost%3A50123%2F"
            "&scope=s1%20offline_access&state=STATE&code_challenge=CHALLENGE&code_challenge_method=S256"
            "&login_hint=taro%40example.jp",
            authorizationUrl({kSignInMicrosoft, "https://a/auth", "id +1", "s1 offline_access", "taro@example.jp",
                              "", &ms, &p}));
  // Google: a refresh token every time; a hint Shift-JIS alone can say is left out.
  EXPECT_EQ("https://g/o?x=1&response_type=code&client_id=c&redirect_uri=http%3A%2F%2F127.0.0.1%3A50123%2F"
            "&scope=https%3A%2F%2Fmail.google.com%2F&state=STATE&code_challenge=CHALLENGE"
            "&code_challenge_method=S256&access_type=offline&prompt=consent",
            authorizationUrl({kSignInGoogle, "https://g/o?x=1", "c", "https://mail.google.com/", "太郎",
                              "access_type=offline&prompt=consent", &google, &p}));
  EXPECT_EQ("grant_type=authorization_code&code=a%2Fb&redirect_uri=http%3A%2F%2Flocalhost%3A50123%2F&client_id=c"
            "&code_verifier=v-_",
            codeExchangeForm("a/b", ms, "c", "v-_", ""));
  EXPECT_EQ("grant_type=authorization_code&code=x&redirect_uri=r&client_id=c&code_verifier=v&client_secret=s%26t",
            codeExchangeForm("x", "r", "c", "v", "s&t"));
}

TEST(SignIn, OnlyTheRedirectWithThisAttemptsStateFinishesIt) {
  struct Row {
    const char* request;
    RedirectKind kind;
    const char* code = "";
    const char* error = "";
    const char* description = "";
  };
  const auto N = RedirectKind::kNotOurs, C = RedirectKind::kCode, W = RedirectKind::kWrongState,
             R = RedirectKind::kRefused;
  const Row rows[] = {
      {"GET /favicon.ico HTTP/1.1", N},
      {"GET / HTTP/1.1", N},
      {"GET /?state=S HTTP/1.1", N},
      {"GET /other?code=abc&state=S HTTP/1.1", N},
      {"POST /?code=abc&state=S HTTP/1.1", N},
      {"GET /?code=abc", N},  // no version: not a request line
      {"GET /?code=abc&state=S HTTP/1.1", C, "abc"},
      {"GET /?state=S&session_state=x&code=M.a%2Fb+c%3D HTTP/1.1", C, "M.a/b c="},
      {"GET /?code=abc&state=S2 HTTP/1.1", W},
      {"GET /?code=abc&state= HTTP/1.1", W},
      {"GET /?code=abc HTTP/1.1", W},
      {"GET /?error=access_denied&state=T HTTP/1.1", W},
      {"GET /?error=access_denied&error_description=The+user+declined.&state=S HTTP/1.1", R, "", "access_denied",
       "The user declined."},
      {"GET /?error=bad%0D%0Aline%E3%81%82&state=S HTTP/1.1", R, "", "bad??line???"},
      {"GET /?code=&state=S HTTP/1.1", R, "", "invalid_request"},
      {"GET /?code=x&error=server_error&state=S HTTP/1.1", R, "", "server_error"},
  };
  for (const Row& r : rows) {
    RedirectAnswer a = readRedirect(std::string(r.request) + "\r\nHost: localhost\r\n", "S");
    EXPECT_EQ(r.kind, a.kind) << r.request;
    EXPECT_EQ(r.code, a.code) << r.request;
    EXPECT_EQ(r.error, a.error) << r.request;
    EXPECT_EQ(r.description, a.description) << r.request;
  }
  std::string page = redirectReply(RedirectKind::kCode);
  EXPECT_EQ(0u, page.find("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=Shift_JIS\r\n"));
  size_t body = page.find("\r\n\r\n") + 4;
  EXPECT_NE(std::string::npos, page.find("Content-Length: " + std::to_string(page.size() - body) + "\r\n"));
  EXPECT_EQ(0u, redirectReply(RedirectKind::kNotOurs).find("HTTP/1.1 404 "));
  EXPECT_EQ(0u, redirectReply(RedirectKind::kWrongState).find("HTTP/1.1 400 "));
}

namespace {

// A browser's connection: connects to the listener, sends what it is given
// and reads the status line of the reply.
struct Browser {
  SOCKET s = kNoSocket;
  Browser(int family, uint16_t port) {
    addrinfo hints{}, *a = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    getaddrinfo(family == AF_INET ? "127.0.0.1" : "::1", std::to_string(port).c_str(), &hints, &a);
    s = platform::streamSocket(family, SOCK_STREAM, 0);
    if (a && platform::startConnect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 1)
      platform::waitSocket(s, true, 2000);
    freeaddrinfo(a);
  }
  ~Browser() { platform::closeSocket(s); }
  void send(const std::string& text) {
    platform::waitSocket(s, true, 2000);
    platform::socketSend(s, text.data(), static_cast<int>(text.size()));
  }
  std::string statusLine() {
    std::string got;
    char buf[512];
    while (got.find("\r\n") == std::string::npos && platform::waitSocket(s, false, 3000) == 1) {
      int n = platform::socketReceive(s, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got.substr(0, got.find("\r\n"));
  }
};

std::string get(const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n"; }

}  // namespace

TEST(SignIn, TheListenerServesABrowserUntilTheRedirectComes) {
  ASSERT_TRUE(platform::netStartup());
  struct Step {
    int family;        // 0: cancel the wait instead
    std::string sent;  // "" connects and sends nothing (a pre-connect); a "|" splits it in two sends
    const char* status;
  };
  struct Row {
    const char* name;
    std::vector<Step> steps;
    RedirectKind kind;
    WaitOutcome outcome = WaitOutcome::kAnswered;
  };
  const std::string right = get("/?code=C1&state=S"), icon = get("/favicon.ico");
  std::string split = right;
  split.insert(12, "|");
  const char* ok = "HTTP/1.1 200 OK";
  const auto C = RedirectKind::kCode, N = RedirectKind::kNotOurs;
  const Row rows[] = {
      {"favicon first", {{AF_INET, icon, "HTTP/1.1 404 Not Found"}, {AF_INET, right, ok}}, C},
      {"pre-connect left silent", {{AF_INET, "", ""}, {AF_INET, split, ok}}, C},
      {"over ::1", {{AF_INET6, right, ok}}, C},
      {"wrong state", {{AF_INET, get("/?code=C1&state=X"), "HTTP/1.1 400 Bad Request"}}, RedirectKind::kWrongState},
      {"declined", {{AF_INET, get("/?error=access_denied&state=S"), ok}}, RedirectKind::kRefused},
      {"cancelled", {{AF_INET, "", ""}, {0, "", ""}}, N, WaitOutcome::kCancelled},
      {"nothing comes", {}, N, WaitOutcome::kTimedOut},
  };
  for (const Row& r : rows) {
    LoopbackListener l;
    ASSERT_TRUE(openLoopback(&l));
    bool hasV6 = l.count == 2;
    std::atomic<bool> cancel{false};
    RedirectAnswer answer;
    WaitOutcome outcome = WaitOutcome::kFailed;
    std::thread waiting([&] { outcome = awaitRedirect(l, "S", cancel, r.steps.empty() ? 300 : 10000, &answer); });
    std::vector<std::unique_ptr<Browser>> open;
    for (const Step& step : r.steps) {
      if (step.family == 0) {
        cancel = true;
        continue;
      }
      if (step.family == AF_INET6 && !hasV6) continue;
      open.emplace_back(new Browser(step.family, l.port));
      std::string sent = step.sent;
      size_t bar = sent.find('|');
      if (bar != std::string::npos) {
        open.back()->send(sent.substr(0, bar));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sent.erase(0, bar + 1);
      }
      if (sent.empty()) continue;
      open.back()->send(sent);
      EXPECT_EQ(step.status, open.back()->statusLine()) << r.name;
    }
    waiting.join();
    closeLoopback(&l);
    if (r.name == std::string("over ::1") && !hasV6) continue;
    EXPECT_EQ(r.outcome, outcome) << r.name;
    EXPECT_EQ(r.kind, answer.kind) << r.name;
    EXPECT_EQ(r.kind == C ? "C1" : "", answer.code) << r.name;
  }
}
