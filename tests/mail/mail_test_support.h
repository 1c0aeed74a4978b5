// Shared by the POP3 tests: a Kel with one account, the trace taken from
// the session, and where the test servers are.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "app/application.h"
#include "tests/support/kel_fixture.h"

#include <nlohmann/json.hpp>

struct Connection;

struct TraceCapture {
  TraceCapture();
  ~TraceCapture();
  std::vector<std::string> lines() const;
  bool contains(const std::string& line) const;
  // Index of the first line equal to `line` at or after `from`, or -1.
  int find(const std::string& line, int from = 0) const;
  // Called on the tracing thread with each line, as it is written.
  void onLine(std::function<void(const std::string&)> hook);
};

// The threads of this process (the Wine process's, under Wine).
int liveThreads();
// Its open handles (file descriptors natively), sockets among them.
int openHandles();

KelPtr kelWithAccount(const std::string& host, int port, const std::string& user,
                     const std::string& pass, bool apop = false, bool ssl = false);
// Runs one session for account 0 on this thread; returns runSession's result
// (and how many TOP commands it sent).
int checkAccount(Kel& kel, int* topsSent = nullptr);

// From the environment the test runner sets (KEL_POP3_PORT, KEL_POP3S_PORT,
// KEL_MAILDIRS); an empty result fails the test that asked.
int envPort(const char* name);
std::string maildirOf(const std::string& user);
int messagesIn(const std::string& user);

// The tests' OAuth2 server (tests/mail/oauth_server.py, KEL_OAUTH_PORT).
using Fields = std::vector<std::pair<std::string, std::string>>;
std::string oauthServerUrl(const std::string& path);
// One call of its controls, the reply read.
nlohmann::json oauthAdmin(const Fields& fields);
// A refresh token of the test's own for the OAuth2 mailbox "kaede", with
// the grant's options (rotate, dead, delay_ms, status).
std::string grantRefreshToken(Fields options = {});
// Account 0 signs in through that server with `refresh` (none when empty).
void oauthSignIn(Kel& kel, const std::string& refresh, const std::string& tokenUrl = oauthServerUrl("/token"));

std::string lineSender(const MailLine& line);
std::string lineSubject(const MailLine& line);
// The first six lines of the Japanese mailbox (taro's, and ichika's over
// IMAP) once its spam is deleted, each new: sender and subject as shown.
void expectJapaneseMailboxLines(const CheckResult& r);

// Another IMAP client of a test server's mailbox (KEL_IMAP_PORT unless
// given): logged in with INBOX selected when ok(); run() sends one command
// and is true when its tagged reply is OK.
class ImapClient {
 public:
  ImapClient(const std::string& user, const std::string& pass, int port = envPort("KEL_IMAP_PORT"));
  ~ImapClient();
  bool ok() const { return ok_; }
  bool run(const std::string& command);

 private:
  std::unique_ptr<Connection> c_;
  int tags_ = 0;
  bool ok_;
};
