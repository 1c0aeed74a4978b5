#include "tests/mail/mail_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#endif

#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/transport.h"
#include "platform/http.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "settings/oauth.h"

namespace {
std::mutex traceLock;
std::vector<std::string> traced;
std::function<void(const std::string&)> traceHook;
void sink(const char* line) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> g(traceLock);
    traced.emplace_back(line);
    hook = traceHook;
  }
  if (hook) hook(line);
}

// The socket library must be up before any test talks to a server.
struct NetEnvironment : ::testing::Environment {
  void SetUp() override { ASSERT_TRUE(platform::netStartup()); }
};
::testing::Environment* const netEnvironment = ::testing::AddGlobalTestEnvironment(new NetEnvironment);
}  // namespace

TraceCapture::TraceCapture() {
  std::lock_guard<std::mutex> g(traceLock);
  traced.clear();
  platform::setTraceSink(sink);
}

TraceCapture::~TraceCapture() {
  platform::setTraceSink(nullptr);
  std::lock_guard<std::mutex> g(traceLock);
  traceHook = nullptr;
}

void TraceCapture::onLine(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> g(traceLock);
  traceHook = std::move(hook);
}

int liveThreads() {
#ifdef _WIN32
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 e;
  e.dwSize = sizeof e;
  int n = 0;
  for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e))
    if (e.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snap);
  return n;
#else
  int n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    (void)e;
    ++n;
  }
  return n;
#endif
}

int openHandles() {
#ifdef _WIN32
  DWORD n = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &n) ? static_cast<int>(n) : -1;
#else
  int n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    (void)e;
    ++n;
  }
  return n;
#endif
}

std::vector<std::string> TraceCapture::lines() const {
  std::lock_guard<std::mutex> g(traceLock);
  return traced;
}

bool TraceCapture::contains(const std::string& line) const { return find(line) >= 0; }

int TraceCapture::find(const std::string& line, int from) const {
  std::vector<std::string> all = lines();
  for (int i = from; i < static_cast<int>(all.size()); ++i)
    if (all[static_cast<size_t>(i)] == line) return i;
  return -1;
}

KelPtr kelWithAccount(const std::string& host, int port, const std::string& user,
                      const std::string& pass, bool apop, bool ssl) {
  KelPtr k = newKel();
  Account& a = k->accounts[0];
  snprintf(a.mailaddr, sizeof a.mailaddr, "%s@example.jp", user.c_str());
  snprintf(a.pop3server, sizeof a.pop3server, "%s", host.c_str());
  snprintf(a.user, sizeof a.user, "%s", user.c_str());
  snprintf(a.pass, sizeof a.pass, "%s", pass.c_str());
  a.port = static_cast<uint16_t>(port);
  a.apop = apop;
  a.ssl = ssl;
  return k;
}

int checkAccount(Kel& kel, int* topsSent) {
  SessionTask task(kel, 0);
  kel.sessionState = kSessionStarting;
  int rc = runSession(task);
  if (topsSent) *topsSent = task.topsSent;
  return rc;
}

int envPort(const char* name) {
  const char* v = getenv(name);
  return v ? atoi(v) : 0;
}

std::string maildirOf(const std::string& user) {
  const char* root = getenv("KEL_MAILDIRS");
  if (!root) return "";
  std::string path = std::string(root) + "/" + user + "/Maildir";
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
  path = "Z:" + path;
#endif
  return path;
}

int messagesIn(const std::string& user) {
  namespace fs = std::filesystem;
  int n = 0;
  for (const char* sub : {"new", "cur"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(maildirOf(user)) / sub, ec)) {
      (void)e;
      ++n;
    }
  }
  return n;
}

std::string lineSender(const MailLine& line) { return line.bytes; }

std::string lineSubject(const MailLine& line) {
  size_t n = strnlen(line.bytes, sizeof line.bytes);
  if (n + 1 >= sizeof line.bytes) return "";
  const char* subject = line.bytes + n + 1;
  return std::string(subject, strnlen(subject, sizeof line.bytes - n - 1));
}

void expectJapaneseMailboxLines(const CheckResult& r) {
  const char* const lines[6][2] = {
      {"山田太郎", "こんにちは"},
      {"佐藤花子", "会議のお知らせ"},
      {"Suzuki Ichiro", "明日の予定"},
      {"tanaka@example.org", "Re: 長い件名のメールです"},
      {"加藤", "quoted subject"},
      {"ito@example.jp", "A subject line that is much lo.."},
  };
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(lines[i][0], lineSender(r.lines[i])) << i;
    EXPECT_EQ(lines[i][1], lineSubject(r.lines[i])) << i;
    EXPECT_EQ(kLineNew, r.lineState[i]) << i;
  }
}

std::string oauthServerUrl(const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(envPort("KEL_OAUTH_PORT")) + path;
}

nlohmann::json oauthAdmin(const Fields& fields) {
  std::string form;
  for (const auto& f : fields) platform::addFormField(form, f.first.c_str(), f.second);
  platform::HttpReply r = platform::httpPostForm(oauthServerUrl("/admin").c_str(), form, nullptr, 10000, 1 << 20);
  EXPECT_EQ(200, r.status) << r.reason;
  return nlohmann::json::parse(r.body, nullptr, false);
}

std::string grantRefreshToken(Fields options) {
  static std::mt19937_64 random{std::random_device{}()};
  std::string token = "rt-test-" + std::to_string(random());
  options.insert(options.begin(), {{"op", "grant"}, {"user", "kaede"}, {"refresh", token}});
  oauthAdmin(options);
  return token;
}

void oauthSignIn(Kel& kel, const std::string& refresh, const std::string& tokenUrl) {
  OAuthSettings& o = kel.oauth[0];
  o.oauth = kOAuthOther;
  o.client = "kel-test";
  o.authorize = oauthServerUrl("/authorize");
  o.token = tokenUrl;
  o.scope = "mail";
  if (!refresh.empty()) {
    ASSERT_TRUE(sealRefreshToken(refresh, o.refresh));
  }
}

ImapClient::ImapClient(const std::string& user, const std::string& pass, int port) : c_(new Connection{}) {
  c_->sock = kNoSocket;
  char line[kLineBudget];
  ok_ = connectServer(*c_, "127.0.0.1", port, 0) == kErrorNone && readLine(*c_, line) > 0 &&
        run("LOGIN " + user + " " + pass) && run("SELECT INBOX");
}

ImapClient::~ImapClient() {
  if (ok_) run("LOGOUT");
  closeConnection(*c_);
}

bool ImapClient::run(const std::string& command) {
  const std::string tag = "o" + std::to_string(++tags_) + " ", text = tag + command + "\r\n";
  if (sendAll(*c_, text.data(), static_cast<int>(text.size())) < 0) return false;
  char line[kLineBudget];
  for (int n; (n = readLine(*c_, line)) > 0;) {
    const std::string reply(line, static_cast<size_t>(n));
    if (reply.rfind(tag, 0) == 0) return reply.compare(tag.size(), 2, "OK") == 0;
  }
  return false;
}
